// The CRC folds of each register width (x86-64 only); see CrcFold.h. Each
// takes n >= 4 registers' worth of bytes and processes a multiple of 16.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokram::detail::fold {

std::uint16_t Folded128(std::uint16_t crc, const std::uint8_t* p, std::size_t n, std::size_t* done) noexcept;
std::uint16_t Folded256(std::uint16_t crc, const std::uint8_t* p, std::size_t n, std::size_t* done) noexcept;
std::uint16_t Folded512(std::uint16_t crc, const std::uint8_t* p, std::size_t n, std::size_t* done) noexcept;

}  // namespace vokram::detail::fold
