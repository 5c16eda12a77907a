// CRC-16 by carry-less multiplication (x86-64 PCLMULQDQ). The 16-bit CRC is
// run as a reflected 32-bit CRC whose generator is the CRC-16 generator times
// x^16: its register then holds the CRC-16 in its low 16 bits, and the
// folding method for reflected 32-bit CRCs applies unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokram::detail {

// Whether this processor can run UpdateCRCFolded.
bool HasCarrylessMultiply() noexcept;
// Bytes the folded path wants at least; shorter runs go to the table.
inline constexpr std::size_t kFoldMinimum = 64;
// Processes the largest multiple of 16 bytes of data (n >= kFoldMinimum) and
// returns how many it took in *done.
std::uint16_t UpdateCRCFolded(std::uint16_t crc, const std::uint8_t* data, std::size_t n,
                              std::size_t* done) noexcept;

// The same with 512-bit registers (AVX-512 with VPCLMULQDQ), 256 bytes per
// step; n >= kFoldWideMinimum, and *done is a multiple of 16.
bool HasWideCarrylessMultiply() noexcept;
inline constexpr std::size_t kFoldWideMinimum = 256;
std::uint16_t UpdateCRCFoldedWide(std::uint16_t crc, const std::uint8_t* data, std::size_t n,
                                  std::size_t* done) noexcept;

}  // namespace vokram::detail
