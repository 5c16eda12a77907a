// Eight lanes' blocks turned into words, and their chaining words, for the
// kernels in 256-bit registers; internal linkage, as each file compiles them
// for its own instructions.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "Md5Kernels.h"

namespace vokram::recovery::kernel {

namespace {

// One block of each lane, transposed so that m[k] holds word k of every lane,
// a half block at a time: 32-bit then 64-bit interleaves give, for each group
// of four lanes, their word 4q + w in 128-bit half q; halves are then paired
// across the two groups.
inline void LoadWords(const std::uint8_t* const* p, __m256i* m) {
#pragma GCC unroll 2
  for (std::size_t h = 0; h < 2; ++h) {
    __m256i t[8], u[8];
#pragma GCC unroll 4
    for (std::size_t j = 0; j < 4; ++j) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p[2 * j] + 32 * h));
      const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p[2 * j + 1] + 32 * h));
      t[2 * j] = _mm256_unpacklo_epi32(x, y);
      t[2 * j + 1] = _mm256_unpackhi_epi32(x, y);
    }
#pragma GCC unroll 2
    for (std::size_t g = 0; g < 2; ++g) {
      u[4 * g] = _mm256_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
      u[4 * g + 1] = _mm256_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
      u[4 * g + 2] = _mm256_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
      u[4 * g + 3] = _mm256_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
    }
#pragma GCC unroll 4
    for (std::size_t w = 0; w < 4; ++w) {
      m[8 * h + w] = _mm256_permute2x128_si256(u[w], u[4 + w], 0x20);
      m[8 * h + 4 + w] = _mm256_permute2x128_si256(u[w], u[4 + w], 0x31);
    }
  }
}

// The chaining words a, b, c and d of eight lanes, kMaxMd5Lanes apart in a
// state.
struct Chain {
  static constexpr std::size_t kRow = kMaxMd5Lanes / 8;  // in vectors
  __m256i a, b, c, d;
  Chain() = default;
  explicit Chain(const std::uint32_t* state) {
    const auto* words = reinterpret_cast<const __m256i*>(state);
    a = _mm256_loadu_si256(words);
    b = _mm256_loadu_si256(words + kRow);
    c = _mm256_loadu_si256(words + 2 * kRow);
    d = _mm256_loadu_si256(words + 3 * kRow);
  }
  void Add(const Chain& o) {
    a = _mm256_add_epi32(a, o.a);
    b = _mm256_add_epi32(b, o.b);
    c = _mm256_add_epi32(c, o.c);
    d = _mm256_add_epi32(d, o.d);
  }
  // Lane i only where active[i] is -1.
  void Store(std::uint32_t* state, const std::int32_t* active) const {
    const __m256i mask = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(active));
    auto* const out = reinterpret_cast<int*>(state);
    _mm256_maskstore_epi32(out, mask, a);
    _mm256_maskstore_epi32(out + kMaxMd5Lanes, mask, b);
    _mm256_maskstore_epi32(out + 2 * kMaxMd5Lanes, mask, c);
    _mm256_maskstore_epi32(out + 3 * kMaxMd5Lanes, mask, d);
  }
};

}  // namespace

}  // namespace vokram::recovery::kernel
