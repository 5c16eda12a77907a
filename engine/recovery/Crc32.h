// CRC-32 as zlib computes it (reflected 0xEDB88320, all ones in and out).
// Recovery data stores one per slice beside its MD5.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokram::recovery {

// Continues a CRC-32 (0 for no bytes yet) over more bytes.
std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t n) noexcept;
// Continues it over n zero bytes (the padding of a short last slice).
std::uint32_t UpdateCrc32Zeros(std::uint32_t crc, std::uint64_t n) noexcept;

}  // namespace vokram::recovery
