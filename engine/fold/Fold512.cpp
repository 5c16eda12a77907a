// The 512-bit fold (AVX-512 and VPCLMULQDQ).
#include "Avx512.h"
#include "FoldLoop.h"

namespace vokram::detail::fold {

namespace {

struct Lanes512 {
  static constexpr std::size_t kBytes = 64;
  static __m512i Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
  static __m512i Start(const std::uint8_t* p, std::uint16_t crc) {
    return _mm512_xor_si512(Load(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(crc)));
  }
  static __m512i Broadcast(Distance d) { return _mm512_broadcast_i32x4(d.Lane()); }
  static __m512i Fold(__m512i acc, __m512i k, __m512i next) {
    const __m512i lo = _mm512_clmulepi64_epi128(acc, k, 0x00);
    const __m512i hi = _mm512_clmulepi64_epi128(acc, k, 0x11);
    return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // three-way exclusive or
  }
  // Each 128-bit lane moves forward by its distance to the last lane.
  static __m128i ToLane(__m512i x) {
    __m128i acc = _mm512_extracti32x4_epi32(x, 3);
    acc = _mm_xor_si128(acc, Fold128By(_mm512_extracti32x4_epi32(x, 0), Distance(384)));
    acc = _mm_xor_si128(acc, Fold128By(_mm512_extracti32x4_epi32(x, 1), Distance(256)));
    return _mm_xor_si128(acc, Fold128By(_mm512_extracti32x4_epi32(x, 2), Distance(128)));
  }
};

}  // namespace

std::uint16_t Folded512(std::uint16_t crc, const std::uint8_t* p, std::size_t n, std::size_t* done) noexcept {
  return Folded<Lanes512>(crc, p, n, done);
}

}  // namespace vokram::detail::fold
