// Eight MD5 lanes in 256-bit registers (AVX2), for processors without
// AVX-512. No rotate instruction: two shifts and an OR.
#include <immintrin.h>

#include "Md5Kernels.h"

namespace vokram::recovery::kernel {

namespace {

template <int I>
inline void Step(__m256i& a, __m256i b, __m256i c, __m256i d, const __m256i* m) {
  constexpr int round = I / 16;
  constexpr int shift = kMd5Shift[round][I % 4];
  __m256i f;
  if constexpr (round == 0) {
    f = _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
  } else if constexpr (round == 1) {
    f = _mm256_xor_si256(c, _mm256_and_si256(d, _mm256_xor_si256(b, c)));
  } else if constexpr (round == 2) {
    f = _mm256_xor_si256(_mm256_xor_si256(b, c), d);
  } else {
    f = _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
  }
  __m256i sum = _mm256_add_epi32(a, _mm256_add_epi32(m[Md5Word(I)], _mm256_set1_epi32(static_cast<int>(kMd5Sine[I]))));
  // Kept whole, so that f, the last to be known, is added last (see
  // Md5Lanes512.cpp).
  __asm__("" : "+v"(sum));
  sum = _mm256_add_epi32(sum, f);
  a = _mm256_add_epi32(b, _mm256_or_si256(_mm256_slli_epi32(sum, shift), _mm256_srli_epi32(sum, 32 - shift)));
}

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

}  // namespace

void Md5Blocks8(std::uint32_t* state, const std::uint8_t* const* data, std::size_t blocks) noexcept {
  // An idle lane reads along with a busy one and keeps its state.
  const std::uint8_t* p[8];
  const std::uint8_t* busy = nullptr;
  alignas(32) std::int32_t active[8];
  for (int i = 0; i < 8; ++i) {
    if (data[i]) busy = data[i];
    active[i] = data[i] ? -1 : 0;
  }
  if (!busy || blocks == 0) return;
  for (int i = 0; i < 8; ++i) p[i] = data[i] ? data[i] : busy;
  auto* const words = reinterpret_cast<__m256i*>(state);
  constexpr std::size_t kRow = kMaxMd5Lanes / 8;  // in vectors
  __m256i a = _mm256_loadu_si256(words), b = _mm256_loadu_si256(words + kRow);
  __m256i c = _mm256_loadu_si256(words + 2 * kRow), d = _mm256_loadu_si256(words + 3 * kRow);
  for (; blocks > 0; --blocks) {
    __m256i m[16];
    LoadWords(p, m);
    for (auto& q : p) q += 64;
    const __m256i a0 = a, b0 = b, c0 = c, d0 = d;
    Md5Steps(a, b, c, d, m, []<int I>(auto& sa, auto sb, auto sc, auto sd, const auto* sm) { Step<I>(sa, sb, sc, sd, sm); });
    a = _mm256_add_epi32(a, a0);
    b = _mm256_add_epi32(b, b0);
    c = _mm256_add_epi32(c, c0);
    d = _mm256_add_epi32(d, d0);
  }
  const __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i*>(active));
  auto* const out = reinterpret_cast<int*>(state);
  _mm256_maskstore_epi32(out, mask, a);
  _mm256_maskstore_epi32(out + kMaxMd5Lanes, mask, b);
  _mm256_maskstore_epi32(out + 2 * kMaxMd5Lanes, mask, c);
  _mm256_maskstore_epi32(out + 3 * kMaxMd5Lanes, mask, d);
}

}  // namespace vokram::recovery::kernel
