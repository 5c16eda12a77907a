// The affine kernel in 512-bit registers (GFNI with AVX-512).
#include <cstring>

#include "Avx512.h"
#include "GfAffine.h"
#include "GfKernels.h"

namespace vokram::recovery::kernel {

namespace {

struct Lanes512 {
  static constexpr std::size_t kBytes = 64;
  static __m512i Load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
  static void Store(std::uint8_t* p, __m512i v) { _mm512_storeu_si512(p, v); }
  static __m512i Matrix(const std::uint8_t* p) {
    long long m;
    std::memcpy(&m, p, sizeof m);
    return _mm512_set1_epi64(m);
  }
  static __m512i Affine(__m512i x, __m512i m) { return _mm512_gf2p8affine_epi64_epi8(x, m, 0); }
  static __m512i Xor3(__m512i a, __m512i b, __m512i c) { return _mm512_ternarylogic_epi64(a, b, c, 0x96); }
};

}  // namespace

void MultiplyAddAffine512(std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                          const std::uint8_t* prepared) noexcept {
  MultiplyAddAffine<Lanes512>(dst, src, n, prepared);
}

}  // namespace vokram::recovery::kernel
