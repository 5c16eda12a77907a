// The affine kernel in 256-bit registers (GFNI with AVX2).
#include <cstring>

#include "GfAffine.h"
#include "GfKernels.h"

namespace vokram::recovery::kernel {

namespace {

struct Lanes256 {
  static constexpr std::size_t kBytes = 32;
  static __m256i Load(const std::uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void Store(std::uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
  static __m256i Matrix(const std::uint8_t* p) {
    long long m;
    std::memcpy(&m, p, sizeof m);
    return _mm256_set1_epi64x(m);
  }
  static __m256i Affine(__m256i x, __m256i m) { return _mm256_gf2p8affine_epi64_epi8(x, m, 0); }
  static __m256i Xor3(__m256i a, __m256i b, __m256i c) { return _mm256_xor_si256(a, _mm256_xor_si256(b, c)); }
};

}  // namespace

void MultiplyAddAffine256(std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                          const std::uint8_t* prepared) noexcept {
  MultiplyAddAffine<Lanes256>(dst, src, n, prepared);
}

}  // namespace vokram::recovery::kernel
