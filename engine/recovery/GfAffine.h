// The multiply-accumulate loop of the affine kernels (GFNI), shared by each
// register width's file; internal linkage, as each file compiles it for its
// own instructions.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "Gf16.h"

namespace vokram::recovery::kernel {

namespace {

// L gives kBytes, Load, Store, Matrix (a prepared qword in every lane),
// Affine and Xor3. Per block: the low bytes' products are low->low and
// low->high, the high bytes' are high->low and high->high.
template <class L>
void MultiplyAddAffine(std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                       const std::uint8_t* prepared) noexcept {
  const auto ll = L::Matrix(prepared), hl = L::Matrix(prepared + 8);
  const auto lh = L::Matrix(prepared + 16), hh = L::Matrix(prepared + 24);
  for (std::size_t block = 0; block < n; block += kGfBlock) {
    for (std::size_t k = 0; k < kGfBlock / 2; k += L::kBytes) {
      const std::size_t l = block + k, h = l + kGfBlock / 2;
      const auto a = L::Load(src + l), b = L::Load(src + h);
      L::Store(dst + l, L::Xor3(L::Load(dst + l), L::Affine(a, ll), L::Affine(b, hl)));
      L::Store(dst + h, L::Xor3(L::Load(dst + h), L::Affine(a, lh), L::Affine(b, hh)));
    }
  }
}

}  // namespace

}  // namespace vokram::recovery::kernel
