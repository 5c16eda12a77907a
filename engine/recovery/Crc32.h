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
// The table alone, which UpdateCrc32 uses where the processor has no
// carry-less multiply (and the tests hold the folds to).
std::uint32_t UpdateCrc32Sliced(std::uint32_t crc, const std::uint8_t* data, std::size_t n) noexcept;

namespace detail {
// Folds whole 16-byte blocks, at least 64 bytes, from the register `reg`
// (the CRC so far, inverted); returns how many bytes it took (0: too few)
// and leaves in `rest` sixteen bytes whose table CRC from a register of 0 is
// the register after them. x86-64 with PCLMULQDQ only.
std::size_t Crc32Fold(std::uint32_t reg, const std::uint8_t* data, std::size_t n, std::uint8_t rest[16]) noexcept;
// The same from 256 bytes on, with VPCLMULQDQ and AVX-512.
std::size_t Crc32Fold512(std::uint32_t reg, const std::uint8_t* data, std::size_t n, std::uint8_t rest[16]) noexcept;
}  // namespace detail

}  // namespace vokram::recovery
