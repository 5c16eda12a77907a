// CRC-32 by carry-less multiplication in 512-bit registers: four of them
// take 256 bytes a step, sixteen 128-bit lanes in all, then fold into one
// lane as the 128-bit fold does (see Crc32Fold.cpp).
#include "Avx512.h"

#include "recovery/Crc32.h"
#include "recovery/Crc32Steps.h"

namespace vokram::recovery::detail {

namespace {

// Moves every 128-bit lane forward and adds the bytes found there.
inline __m512i FoldInto(__m512i lanes, Distance d, __m512i next) {
  const __m512i k =
      _mm512_broadcast_i32x4(_mm_set_epi64x(static_cast<long long>(d.high), static_cast<long long>(d.low)));
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(lanes, k, 0x00), _mm512_clmulepi64_epi128(lanes, k, 0x11),
                                   next, 0x96);
}

inline __m512i Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }

}  // namespace

std::size_t Crc32Fold512(std::uint32_t reg, const std::uint8_t* p, std::size_t n, std::uint8_t rest[16]) noexcept {
  if (n < 256) return 0;
  const std::uint8_t* const start = p;
  __m512i x0 = _mm512_xor_si512(Load(p), _mm512_castsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg))));
  __m512i x1 = Load(p + 64), x2 = Load(p + 128), x3 = Load(p + 192);
  p += 256;
  n -= 256;
  constexpr Distance four(2048), one(512);
  for (; n >= 256; p += 256, n -= 256) {
    x0 = FoldInto(x0, four, Load(p));
    x1 = FoldInto(x1, four, Load(p + 64));
    x2 = FoldInto(x2, four, Load(p + 128));
    x3 = FoldInto(x3, four, Load(p + 192));
  }
  x0 = FoldInto(x0, one, x1);
  x0 = FoldInto(x0, one, x2);
  x0 = FoldInto(x0, one, x3);
  // The register's four lanes, 48, 32 and 16 bytes before the last one.
  constexpr Distance by48(384), by32(256), by16(128);
  __m128i x = _mm512_extracti32x4_epi32(x0, 3);
  x = FoldInto(_mm512_extracti32x4_epi32(x0, 2), by16, x);
  x = FoldInto(_mm512_extracti32x4_epi32(x0, 1), by32, x);
  x = FoldInto(_mm512_castsi512_si128(x0), by48, x);
  for (; n >= 16; p += 16, n -= 16) x = FoldInto(x, by16, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x);
  return static_cast<std::size_t>(p - start);
}

}  // namespace vokram::recovery::detail
