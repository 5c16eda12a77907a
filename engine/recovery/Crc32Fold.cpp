// CRC-32 by carry-less multiplication: four 128-bit lanes take sixty-four
// bytes a step, then fold into one, whose sixteen bytes the table finishes.
// Each fold keeps a lane congruent, modulo the generator, to the bytes it
// stands for, so the register comes out as the table would leave it.
#include <immintrin.h>

#include "fold/FoldMath.h"
#include "recovery/Crc32.h"

namespace vokram::recovery::detail {

namespace {

using vokram::detail::fold::FoldConstant;

// x^32 + x^26 + ... + 1, the polynomial whose reflection is 0xEDB88320.
constexpr std::uint64_t kGenerator = 0x104C11DB7;

// The pair of constants that moves a lane forward by `bits`.
struct Distance {
  std::uint64_t low, high;
  consteval explicit Distance(int bits)
      : low(FoldConstant(kGenerator, bits + 32)), high(FoldConstant(kGenerator, bits - 32)) {}
};

// Moves a lane forward and adds the bytes found there.
inline __m128i FoldInto(__m128i lane, Distance d, __m128i next) {
  const __m128i k = _mm_set_epi64x(static_cast<long long>(d.high), static_cast<long long>(d.low));
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)), next);
}

inline __m128i Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

}  // namespace

std::size_t Crc32Fold(std::uint32_t reg, const std::uint8_t* p, std::size_t n, std::uint8_t rest[16]) noexcept {
  if (n < 64) return 0;
  const std::uint8_t* const start = p;
  __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
  p += 64;
  n -= 64;
  constexpr Distance four(512), one(128);
  for (; n >= 64; p += 64, n -= 64) {
    x0 = FoldInto(x0, four, Load(p));
    x1 = FoldInto(x1, four, Load(p + 16));
    x2 = FoldInto(x2, four, Load(p + 32));
    x3 = FoldInto(x3, four, Load(p + 48));
  }
  x0 = FoldInto(x0, one, x1);
  x0 = FoldInto(x0, one, x2);
  x0 = FoldInto(x0, one, x3);
  for (; n >= 16; p += 16, n -= 16) x0 = FoldInto(x0, one, Load(p));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x0);
  return static_cast<std::size_t>(p - start);
}

}  // namespace vokram::recovery::detail
