// Multiply-accumulate by byte shuffles (AVX2): each nibble of a word looks up
// the low and the high byte of its product in 16-entry tables.
#include <immintrin.h>

#include "Gf16.h"
#include "GfKernels.h"

namespace vokram::recovery::kernel {

void MultiplyAddShuffle256(std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                           const std::uint8_t* prepared) noexcept {
  __m256i lo[4], hi[4];
  for (std::size_t q = 0; q < 4; ++q) {
    lo[q] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(prepared + 32 * q)));
    hi[q] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(prepared + 32 * q + 16)));
  }
  const __m256i mask = _mm256_set1_epi8(0x0F);
  for (std::size_t at = 0; at < n / 2; at += 32) {
    // A block holds 64 low bytes, then 64 high bytes.
    const std::size_t l = at / 64 * kGfBlock + at % 64, h = l + 64;
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + l));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + h));
    const __m256i n0 = _mm256_and_si256(a, mask), n1 = _mm256_and_si256(_mm256_srli_epi16(a, 4), mask);
    const __m256i n2 = _mm256_and_si256(b, mask), n3 = _mm256_and_si256(_mm256_srli_epi16(b, 4), mask);
    __m256i rl = _mm256_xor_si256(_mm256_shuffle_epi8(lo[0], n0), _mm256_shuffle_epi8(lo[1], n1));
    rl = _mm256_xor_si256(rl, _mm256_xor_si256(_mm256_shuffle_epi8(lo[2], n2), _mm256_shuffle_epi8(lo[3], n3)));
    __m256i rh = _mm256_xor_si256(_mm256_shuffle_epi8(hi[0], n0), _mm256_shuffle_epi8(hi[1], n1));
    rh = _mm256_xor_si256(rh, _mm256_xor_si256(_mm256_shuffle_epi8(hi[2], n2), _mm256_shuffle_epi8(hi[3], n3)));
    auto* dl = reinterpret_cast<__m256i*>(dst + l);
    auto* dh = reinterpret_cast<__m256i*>(dst + h);
    _mm256_storeu_si256(dl, _mm256_xor_si256(_mm256_loadu_si256(dl), rl));
    _mm256_storeu_si256(dh, _mm256_xor_si256(_mm256_loadu_si256(dh), rh));
  }
}

}  // namespace vokram::recovery::kernel
