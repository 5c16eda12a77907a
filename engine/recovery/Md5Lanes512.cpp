// Sixteen MD5 lanes with AVX-512's instructions: one ternary-logic
// instruction for each round's function and a rotate instruction.
//
// One stream per lane runs as one chain of sixteen lanes in 512-bit
// registers. Two streams per lane over the same bytes (a piece's hash and its
// slice's) run as four chains of eight lanes in 256-bit registers (AVX-512VL),
// each taking a step in turn: the words are loaded and turned once for both,
// and each chain's steps fill the others' waits on their own results. Two
// chains of sixteen lanes in 512-bit registers measured no faster than one
// on a processor that splits 512-bit work into halves.
#include "Avx512.h"

#include <array>

#include "Md5Kernels.h"
#include "Md5Words256.h"

namespace vokram::recovery::kernel {

namespace {

// The truth tables of F, G, H and I over (b, c, d).
constexpr int kRoundFunction[4] = {0xCA, 0xE4, 0x96, 0x39};

template <int I>
inline void Step(__m512i& a, __m512i b, __m512i c, __m512i d, const __m512i* m) {
  constexpr int round = I / 16;
  constexpr int shift = kMd5Shift[round][I % 4];
  const __m512i f = _mm512_ternarylogic_epi32(b, c, d, kRoundFunction[round]);
  __m512i sum = _mm512_add_epi32(a, _mm512_add_epi32(m[Md5Word(I)], _mm512_set1_epi32(static_cast<int>(kMd5Sine[I]))));
  // Kept whole, so that f, the last to be known, is added last: the compiler
  // would otherwise add a to f first, a step longer on the critical path.
  __asm__("" : "+v"(sum));
  a = _mm512_add_epi32(b, _mm512_rol_epi32(_mm512_add_epi32(sum, f), shift));
}

// One block of each lane, transposed so that m[k] holds word k of every
// lane: 32-bit then 64-bit interleaves within each 128-bit quarter give, for
// each group of four lanes, their word 4q + w in quarter q; quarters are then
// gathered across the groups.
inline void LoadWords(const std::uint8_t* const* p, __m512i* m) {
  __m512i t[16], u[16];
#pragma GCC unroll 8
  for (std::size_t j = 0; j < 8; ++j) {
    const __m512i x = _mm512_loadu_si512(p[2 * j]), y = _mm512_loadu_si512(p[2 * j + 1]);
    t[2 * j] = _mm512_unpacklo_epi32(x, y);
    t[2 * j + 1] = _mm512_unpackhi_epi32(x, y);
  }
#pragma GCC unroll 4
  for (std::size_t g = 0; g < 4; ++g) {
    u[4 * g] = _mm512_unpacklo_epi64(t[4 * g], t[4 * g + 2]);
    u[4 * g + 1] = _mm512_unpackhi_epi64(t[4 * g], t[4 * g + 2]);
    u[4 * g + 2] = _mm512_unpacklo_epi64(t[4 * g + 1], t[4 * g + 3]);
    u[4 * g + 3] = _mm512_unpackhi_epi64(t[4 * g + 1], t[4 * g + 3]);
  }
#pragma GCC unroll 4
  for (std::size_t w = 0; w < 4; ++w) {
    const __m512i x0 = _mm512_shuffle_i32x4(u[w], u[4 + w], 0x44), x1 = _mm512_shuffle_i32x4(u[w], u[4 + w], 0xEE);
    const __m512i x2 = _mm512_shuffle_i32x4(u[8 + w], u[12 + w], 0x44);
    const __m512i x3 = _mm512_shuffle_i32x4(u[8 + w], u[12 + w], 0xEE);
    m[w] = _mm512_shuffle_i32x4(x0, x2, 0x88);
    m[4 + w] = _mm512_shuffle_i32x4(x0, x2, 0xDD);
    m[8 + w] = _mm512_shuffle_i32x4(x1, x3, 0x88);
    m[12 + w] = _mm512_shuffle_i32x4(x1, x3, 0xDD);
  }
}

// One chain of sixteen lanes in 512-bit registers.
void Blocks16(std::uint32_t* state, const std::uint8_t* const* data, std::size_t blocks) {
  // An idle lane reads along with a busy one and keeps its state.
  const std::uint8_t* p[16];
  const std::uint8_t* busy = nullptr;
  __mmask16 active = 0;
  for (int i = 0; i < 16; ++i) {
    if (data[i]) {
      busy = data[i];
      active = static_cast<__mmask16>(active | 1u << i);
    }
  }
  if (!busy || blocks == 0) return;
  for (int i = 0; i < 16; ++i) p[i] = data[i] ? data[i] : busy;
  __m512i a = _mm512_loadu_si512(state), b = _mm512_loadu_si512(state + kMaxMd5Lanes);
  __m512i c = _mm512_loadu_si512(state + 2 * kMaxMd5Lanes), d = _mm512_loadu_si512(state + 3 * kMaxMd5Lanes);
  for (; blocks > 0; --blocks) {
    __m512i m[16];
    LoadWords(p, m);
    for (auto& q : p) q += 64;
    const __m512i a0 = a, b0 = b, c0 = c, d0 = d;
    Md5Steps(a, b, c, d, m, []<int I>(auto& sa, auto sb, auto sc, auto sd, const auto* sm) { Step<I>(sa, sb, sc, sd, sm); });
    a = _mm512_add_epi32(a, a0);
    b = _mm512_add_epi32(b, b0);
    c = _mm512_add_epi32(c, c0);
    d = _mm512_add_epi32(d, d0);
  }
  _mm512_mask_storeu_epi32(state, active, a);
  _mm512_mask_storeu_epi32(state + kMaxMd5Lanes, active, b);
  _mm512_mask_storeu_epi32(state + 2 * kMaxMd5Lanes, active, c);
  _mm512_mask_storeu_epi32(state + 3 * kMaxMd5Lanes, active, d);
}

template <int I>
[[gnu::always_inline]] inline void Step(__m256i& a, __m256i b, __m256i c, __m256i d, __m256i word) {
  constexpr int round = I / 16;
  constexpr int shift = kMd5Shift[round][I % 4];
  const __m256i f = _mm256_ternarylogic_epi32(b, c, d, kRoundFunction[round]);
  __m256i sum = _mm256_add_epi32(a, word);
  __asm__("" : "+v"(sum));  // as above
  a = _mm256_add_epi32(b, _mm256_rol_epi32(_mm256_add_epi32(sum, f), shift));
}

// The four chains: lanes 0-7 and 8-15 of one state, then of the other.
using Chains = std::array<Chain, 4>;

void PairBlocks(std::uint32_t* state, std::uint32_t* also, const std::uint8_t* const* data, std::size_t blocks) {
  // An idle lane reads along with a busy one and keeps its state.
  const std::uint8_t* p[16];
  const std::uint8_t* busy = nullptr;
  std::int32_t active[16];
  for (int i = 0; i < 16; ++i) {
    if (data[i]) busy = data[i];
    active[i] = data[i] ? -1 : 0;
  }
  if (!busy || blocks == 0) return;
  for (int i = 0; i < 16; ++i) p[i] = data[i] ? data[i] : busy;
  std::uint32_t* const states[2] = {state, also};
  Chains z;
  for (std::size_t c = 0; c < z.size(); ++c) z[c] = Chain(states[c / 2] + 8 * (c % 2));
  for (; blocks > 0; --blocks) {
    __m256i m[2][16];
    LoadWords(p, m[0]);
    LoadWords(p + 8, m[1]);
    for (auto& q : p) q += 64;
    const Chains saved = z;
    Md5ChainSteps(z, m, []<int I>(__m256i& a, __m256i b, __m256i c, __m256i d, __m256i w) { Step<I>(a, b, c, d, w); });
    for (std::size_t c = 0; c < z.size(); ++c) z[c].Add(saved[c]);
  }
  for (std::size_t c = 0; c < z.size(); ++c) z[c].Store(states[c / 2] + 8 * (c % 2), active + 8 * (c % 2));
}

}  // namespace

void Md5Blocks16(std::uint32_t* state, std::uint32_t* also, const std::uint8_t* const* data,
                 std::size_t blocks) noexcept {
  if (also) PairBlocks(state, also, data, blocks);
  else Blocks16(state, data, blocks);
}

}  // namespace vokram::recovery::kernel
