// Eight lanes' blocks turned into words, their chaining words and the steps
// of several chains, for the kernels in 256-bit registers; internal linkage, as each file compiles them
// for its own instructions.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

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

// Step I of N chains in turn, chain c reading the words of lane group
// c % G (a second state's chains read the same words as the first's): each
// chain's steps fill the others' waits on their own results. `step` is the
// kernel's own, step.operator()<I>(a, b, c, d, word).
template <int I, std::size_t G, std::size_t N, class Step>
[[gnu::always_inline]] inline void StepEach(std::array<Chain, N>& z, const __m256i (&m)[G][16], Step step) {
  const __m256i k = _mm256_set1_epi32(static_cast<int>(kMd5Sine[I]));
  __m256i w[G];
  for (std::size_t g = 0; g < G; ++g) w[g] = _mm256_add_epi32(m[g][Md5Word(I)], k);
#pragma GCC unroll 4
  for (std::size_t c = 0; c < N; ++c) {
    Chain& x = z[c];
    if constexpr (I % 4 == 0) step.template operator()<I>(x.a, x.b, x.c, x.d, w[c % G]);
    else if constexpr (I % 4 == 1) step.template operator()<I>(x.d, x.a, x.b, x.c, w[c % G]);
    else if constexpr (I % 4 == 2) step.template operator()<I>(x.c, x.d, x.a, x.b, w[c % G]);
    else step.template operator()<I>(x.b, x.c, x.d, x.a, w[c % G]);
  }
}

// The 64 steps of one block.
template <std::size_t G, std::size_t N, class Step>
[[gnu::always_inline]] inline void Md5ChainSteps(std::array<Chain, N>& z, const __m256i (&m)[G][16], Step step) {
  [&]<int... I>(std::integer_sequence<int, I...>) {
    (StepEach<I>(z, m, step), ...);
  }(std::make_integer_sequence<int, 64>{});
}

}  // namespace

}  // namespace vokram::recovery::kernel
