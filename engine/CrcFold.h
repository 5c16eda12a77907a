// CRC-16 by carry-less multiplication (x86-64 PCLMULQDQ). The 16-bit CRC is
// run as a reflected 32-bit CRC whose generator is the CRC-16 generator times
// x^16: its register then holds the CRC-16 in its low 16 bits, and the
// folding method for reflected 32-bit CRCs applies unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokram::detail {

// The register width a fold runs in, from the sliced tables (none) to
// AVX-512. Processors with AVX2 and VPCLMULQDQ but no AVX-512 exist, so the
// 256-bit fold is not just a step on the way.
enum class FoldWidth { None = 0, Bits128 = 128, Bits256 = 256, Bits512 = 512 };

// The widest fold this processor runs.
FoldWidth SupportedFold() noexcept;
// The fold UpdateCRC uses: the widest supported, unless the environment
// variable VOKRAM_CRC_FOLD (0, 128, 256 or 512) names a narrower one, so that
// a benchmark can measure the narrower paths on a machine that has the wider.
FoldWidth ChosenFold() noexcept;
// Reads a VOKRAM_CRC_FOLD value against what is supported.
FoldWidth CappedFold(FoldWidth supported, const char* limit) noexcept;

// The bytes a fold wants at least; shorter runs go to the tables.
constexpr std::size_t FoldMinimum(FoldWidth width) noexcept {
  return static_cast<std::size_t>(width) / 2;  // four registers' worth
}

// Processes the largest multiple of 16 bytes of data (n >= FoldMinimum(width),
// width supported and not None) and returns how many it took in *done.
std::uint16_t UpdateCRCFolded(FoldWidth width, std::uint16_t crc, const std::uint8_t* data, std::size_t n,
                              std::size_t* done) noexcept;

}  // namespace vokram::detail
