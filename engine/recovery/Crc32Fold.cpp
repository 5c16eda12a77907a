// CRC-32 by carry-less multiplication: four 128-bit lanes take sixty-four
// bytes a step, then fold into one, whose sixteen bytes the table finishes.
// Each fold keeps a lane congruent, modulo the generator, to the bytes it
// stands for, so the register comes out as the table would leave it.
#include <immintrin.h>

#include "recovery/Crc32.h"
#include "recovery/Crc32Steps.h"

namespace vokram::recovery::detail {

namespace {

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
