// CRC-16 with polynomial 0x1021 reflected (0x8408), initial value 0xFFFF, no
// final exclusive or. A CRC is a number until it is shown, as four upper-case
// hexadecimal digits, high byte first (CRCText).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace vokram {

inline constexpr std::uint16_t kCrcInitial = 0xFFFF;

// Fills the lookup table; GetBytesCRC calls it the first time it is needed.
void MakeCRCTable();
const std::array<std::uint16_t, 256>& CRCTable();

// Continues a CRC over more bytes, so files can be fingerprinted as they pass.
std::uint16_t UpdateCRC(std::uint16_t crc, const std::uint8_t* data, std::size_t n) noexcept;
// The portable path alone (sixteen table lookups per sixteen bytes), which
// UpdateCRC uses where the processor has no carry-less multiply.
std::uint16_t UpdateCRCSliced(std::uint16_t crc, const std::uint8_t* data, std::size_t n) noexcept;
inline std::uint16_t UpdateCRC(std::uint16_t crc, std::span<const std::uint8_t> bytes) noexcept {
  return UpdateCRC(crc, bytes.data(), bytes.size());
}

// The CRC of A followed by B, from the CRC of A, the CRC of B and B's length:
// a split fingerprints every byte once and still knows the source's CRC.
std::uint16_t CombineCRC(std::uint16_t crcA, std::uint16_t crcB, std::uint64_t lengthB) noexcept;

std::string CRCText(std::uint16_t value);

std::uint16_t GetBytesCRC(std::span<const std::uint8_t> bytes) noexcept;
// Nothing for a missing, hidden, system or empty file and for a folder.
// Throws VokError(IoFailed) for a file that is listed but cannot be read.
std::optional<std::uint16_t> GetFileCRC(const std::filesystem::path& path);
// The same, reading through the caller's buffer: a check of many pieces
// allocates (and faults in) one buffer instead of one per piece.
std::optional<std::uint16_t> GetFileCRC(const std::filesystem::path& path, std::span<std::uint8_t> buffer);

}  // namespace vokram
