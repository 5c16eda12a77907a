// The 256-bit fold (AVX2 and VPCLMULQDQ), for processors that have them
// without AVX-512.
#include "FoldLoop.h"

namespace vokram::detail::fold {

namespace {

struct Lanes256 {
  static constexpr std::size_t kBytes = 32;
  static __m256i Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static __m256i Start(const std::uint8_t* p, std::uint16_t crc) {
    return _mm256_xor_si256(Load(p), _mm256_zextsi128_si256(_mm_cvtsi32_si128(crc)));
  }
  static __m256i Broadcast(Distance d) { return _mm256_broadcastsi128_si256(d.Lane()); }
  static __m256i Fold(__m256i acc, __m256i k, __m256i next) {
    const __m256i lo = _mm256_clmulepi64_epi128(acc, k, 0x00);
    const __m256i hi = _mm256_clmulepi64_epi128(acc, k, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(lo, hi), next);
  }
  // The low lane moves forward by 128 bits onto the high one.
  static __m128i ToLane(__m256i x) {
    return _mm_xor_si128(_mm256_extracti128_si256(x, 1), Fold128By(_mm256_castsi256_si128(x), Distance(128)));
  }
};

}  // namespace

std::uint16_t Folded256(std::uint16_t crc, const std::uint8_t* p, std::size_t n, std::size_t* done) noexcept {
  return Folded<Lanes256>(crc, p, n, done);
}

}  // namespace vokram::detail::fold
