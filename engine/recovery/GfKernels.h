// The x86-64 multiply-accumulate kernels, each file compiled for its own
// instructions (see engine/CMakeLists.txt). Layouts of the prepared factors
// are described in Gf16.cpp, which fills them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokram::recovery::kernel {

void MultiplyAddShuffle256(std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                           const std::uint8_t* prepared) noexcept;
void MultiplyAddAffine256(std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                          const std::uint8_t* prepared) noexcept;
void MultiplyAddAffine512(std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                          const std::uint8_t* prepared) noexcept;

}  // namespace vokram::recovery::kernel
