// The 128-bit fold (PCLMULQDQ), and the reduction every width ends in.
#include "FoldLoop.h"

namespace vokram::detail::fold {

namespace {

struct Lanes128 {
  static constexpr std::size_t kBytes = 16;
  static __m128i Load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static __m128i Start(const std::uint8_t* p, std::uint16_t crc) { return _mm_xor_si128(Load(p), _mm_cvtsi32_si128(crc)); }
  static __m128i Broadcast(Distance d) { return d.Lane(); }
  static __m128i Fold(__m128i acc, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(acc, k, 0x00), _mm_clmulepi64_si128(acc, k, 0x11)), next);
  }
  static __m128i ToLane(__m128i x) { return x; }
};

// floor(x^64 / G), for the final Barrett reduction.
consteval std::uint64_t BarrettQuotient() {
  // The first step takes x^64 down by G * x^32; the x^64 terms cancel, so the
  // remainder fits 64 bits from then on.
  std::uint64_t q = std::uint64_t{1} << 32;
  std::uint64_t r = kGenerator << 32;
  for (int i = 63; i >= 32; --i) {
    if (r >> i & 1) {
      q |= std::uint64_t{1} << (i - 32);
      r ^= kGenerator << (i - 32);
    }
  }
  return q;
}

static_assert(Reflect(kGenerator, 33) == 0x10811);
static_assert(Reflect(BarrettQuotient(), 33) == 0x11c581911);

constexpr std::uint64_t kFold64 = K(64);
constexpr std::uint64_t kBarrett[2] = {Reflect(kGenerator, 33), Reflect(BarrettQuotient(), 33)};

}  // namespace

std::uint16_t Finish(__m128i x1, const std::uint8_t* start, const std::uint8_t* p, std::size_t n,
                     std::size_t* done) noexcept {
  const __m128i k1 = Distance(128).Lane();
  while (n >= 16) {
    x1 = Lanes128::Fold(x1, k1, Lanes128::Load(p));
    p += 16;
    n -= 16;
  }

  // 128 bits down to 64, then to 32 by Barrett reduction.
  const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
  __m128i x = _mm_clmulepi64_si128(x1, k1, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x);
  x = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, mask32);
  x1 = _mm_clmulepi64_si128(x1, _mm_cvtsi64_si128(static_cast<long long>(kFold64)), 0x00);
  x1 = _mm_xor_si128(x1, x);

  const __m128i barrett = _mm_set_epi64x(static_cast<long long>(kBarrett[1]), static_cast<long long>(kBarrett[0]));
  x = _mm_and_si128(x1, mask32);
  x = _mm_clmulepi64_si128(x, barrett, 0x10);
  x = _mm_and_si128(x, mask32);
  x = _mm_clmulepi64_si128(x, barrett, 0x00);
  x1 = _mm_xor_si128(x1, x);

  *done = static_cast<std::size_t>(p - start);
  return static_cast<std::uint16_t>(_mm_extract_epi32(x1, 1));
}

std::uint16_t Folded128(std::uint16_t crc, const std::uint8_t* p, std::size_t n, std::size_t* done) noexcept {
  return Folded<Lanes128>(crc, p, n, done);
}

}  // namespace vokram::detail::fold
