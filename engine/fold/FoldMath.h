// Carry-less folding of a reflected CRC of up to 32 bits, whatever its
// generator: the CRC-16 folds of every width and the recovery slices' CRC-32
// share these. Internal linkage throughout, since each including file is
// compiled for its own instructions (see engine/CMakeLists.txt).
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace vokram::detail::fold {

namespace {

consteval std::uint64_t Reflect(std::uint64_t v, int bits) {
  std::uint64_t r = 0;
  for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1) << (bits - 1 - i);
  return r;
}

// x^n modulo a generator of degree 32 (given with its x^32 term).
consteval std::uint64_t XPowMod(std::uint64_t generator, int n) {
  std::uint64_t r = 1;
  for (int i = 0; i < n; ++i) {
    r <<= 1;
    if (r >> 32 & 1) r ^= generator;
  }
  return r;
}

// Folding constant for a distance of n bits, in the reflected 33-bit form.
consteval std::uint64_t FoldConstant(std::uint64_t generator, int n) {
  return Reflect(XPowMod(generator, n), 32) << 1;
}

// The pair of constants that moves a 128-bit lane forward by `bits`.
struct FoldDistance {
  std::uint64_t low, high;
  consteval FoldDistance(std::uint64_t generator, int bits)
      : low(FoldConstant(generator, bits + 32)), high(FoldConstant(generator, bits - 32)) {}
  __m128i Lane() const { return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)); }
};

inline __m128i Fold128By(__m128i lane, FoldDistance d) {
  const __m128i k = d.Lane();
  return _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11));
}

}  // namespace

}  // namespace vokram::detail::fold
