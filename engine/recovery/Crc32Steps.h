// What both CRC-32 folds share: the generator, the constants that move a
// 128-bit lane forward, and the 128-bit step. Of internal linkage, as each
// fold's file compiles them for its own instructions.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "fold/FoldMath.h"

namespace vokram::recovery::detail {

namespace {

// x^32 + x^26 + ... + 1, the polynomial whose reflection is 0xEDB88320.
constexpr std::uint64_t kGenerator = 0x104C11DB7;

// The pair of constants that moves a lane forward by `bits`.
struct Distance {
  std::uint64_t low, high;
  consteval explicit Distance(int bits)
      : low(vokram::detail::fold::FoldConstant(kGenerator, bits + 32)),
        high(vokram::detail::fold::FoldConstant(kGenerator, bits - 32)) {}
};

// Moves a lane forward and adds the bytes found there.
inline __m128i FoldInto(__m128i lane, Distance d, __m128i next) {
  const __m128i k = _mm_set_epi64x(static_cast<long long>(d.high), static_cast<long long>(d.low));
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)), next);
}

}  // namespace

}  // namespace vokram::recovery::detail
