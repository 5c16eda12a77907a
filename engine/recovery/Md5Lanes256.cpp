// Eight MD5 lanes in 256-bit registers (AVX2), for processors without
// AVX-512. No rotate instruction: two shifts and an OR.
#include <immintrin.h>

#include <array>

#include "Md5Kernels.h"
#include "Md5Words256.h"

namespace vokram::recovery::kernel {

namespace {

template <int I>
[[gnu::always_inline]] inline void Step(__m256i& a, __m256i b, __m256i c, __m256i d, __m256i word) {
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
  __m256i sum = _mm256_add_epi32(a, word);
  // Kept whole, so that f, the last to be known, is added last (see
  // Md5Lanes512.cpp).
  __asm__("" : "+v"(sum));
  sum = _mm256_add_epi32(sum, f);
  a = _mm256_add_epi32(b, _mm256_or_si256(_mm256_slli_epi32(sum, shift), _mm256_srli_epi32(sum, 32 - shift)));
}

// N chains: the lanes of `state`, then of `also`.
template <std::size_t N>
void Blocks(std::uint32_t* state, std::uint32_t* also, const std::uint8_t* const* data, std::size_t blocks) {
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
  std::uint32_t* const states[2] = {state, also};
  std::array<Chain, N> z;
  for (std::size_t c = 0; c < N; ++c) z[c] = Chain(states[c]);
  for (; blocks > 0; --blocks) {
    __m256i m[1][16];
    LoadWords(p, m[0]);
    for (auto& q : p) q += 64;
    const std::array<Chain, N> saved = z;
    Md5ChainSteps(z, m, []<int I>(__m256i& a, __m256i b, __m256i c, __m256i d, __m256i w) { Step<I>(a, b, c, d, w); });
    for (std::size_t c = 0; c < N; ++c) z[c].Add(saved[c]);
  }
  for (std::size_t c = 0; c < N; ++c) z[c].Store(states[c], active);
}

}  // namespace

void Md5Blocks8(std::uint32_t* state, std::uint32_t* also, const std::uint8_t* const* data,
                std::size_t blocks) noexcept {
  if (also) Blocks<2>(state, also, data, blocks);
  else Blocks<1>(state, nullptr, data, blocks);
}

}  // namespace vokram::recovery::kernel
