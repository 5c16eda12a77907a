#include "Gf16.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>

#include "GfKernels.h"
#define VOKRAM_HAVE_GF_KERNELS 1
#endif

namespace vokram::recovery {

namespace {

constexpr std::uint32_t kPolynomial = 0x1100B;
constexpr std::uint32_t kOrder = 65535;

struct Tables {
  std::vector<std::uint16_t> exp;  // two periods, so a sum of two logarithms needs no reduction
  std::vector<std::uint16_t> log;
  std::vector<std::uint16_t> inputLog;
  Tables() : exp(std::size_t{2} * kOrder), log(kOrder + 1), inputLog(kMaxSlices) {
    std::uint32_t v = 1;
    for (std::uint32_t i = 0; i < kOrder; ++i) {
      exp[i] = exp[i + kOrder] = static_cast<std::uint16_t>(v);
      log[v] = static_cast<std::uint16_t>(i);
      v <<= 1;
      if (v & 0x10000) v ^= kPolynomial;
    }
    // 2^n generates the field exactly when n shares no factor with
    // 65535 = 3 * 5 * 17 * 257.
    std::uint32_t n = 0;
    for (auto& slot : inputLog) {
      do ++n;
      while (n % 3 == 0 || n % 5 == 0 || n % 17 == 0 || n % 257 == 0);
      slot = static_cast<std::uint16_t>(n);
    }
  }
};

const Tables& Field() {
  static const Tables tables;
  return tables;
}

// factor * x^j for j = 0..15: every kernel's tables are sums of these.
std::array<std::uint16_t, 16> Basis(std::uint16_t factor) noexcept {
  std::array<std::uint16_t, 16> basis;
  std::uint32_t v = factor;
  for (auto& b : basis) {
    b = static_cast<std::uint16_t>(v);
    v <<= 1;
    if (v & 0x10000) v ^= kPolynomial;
  }
  return basis;
}

// The product of factor with the bits of `bits` placed from x^shift up.
std::uint16_t Combine(const std::array<std::uint16_t, 16>& basis, unsigned bits, unsigned shift) noexcept {
  std::uint16_t r = 0;
  for (unsigned j = 0; bits != 0; ++j, bits >>= 1) {
    if (bits & 1) r = static_cast<std::uint16_t>(r ^ basis[shift + j]);
  }
  return r;
}

// Portable: the products of the low byte and of the high byte, 256 words
// each; a word costs two lookups.
void PreparePortable(const std::array<std::uint16_t, 16>& basis, std::uint8_t* prepared) noexcept {
  std::uint16_t table[512];
  for (unsigned b = 0; b < 256; ++b) {
    table[b] = Combine(basis, b, 0);
    table[256 + b] = Combine(basis, b, 8);
  }
  std::memcpy(prepared, table, sizeof table);
}

void MultiplyAddPortable(std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                         const std::uint8_t* prepared) noexcept {
  std::uint16_t table[512];
  std::memcpy(table, prepared, sizeof table);
  for (std::size_t block = 0; block < n; block += kGfBlock) {
    for (std::size_t j = 0; j < kGfBlock / 2; ++j) {
      const std::uint16_t p = table[src[block + j]] ^ table[256 + src[block + 64 + j]];
      dst[block + j] = static_cast<std::uint8_t>(dst[block + j] ^ p);
      dst[block + 64 + j] = static_cast<std::uint8_t>(dst[block + 64 + j] ^ (p >> 8));
    }
  }
}

// Shuffle: for each of the word's four nibbles, the low and the high bytes
// of its sixteen products (8 tables of 16 bytes, for byte shuffles).
void PrepareShuffle(const std::array<std::uint16_t, 16>& basis, std::uint8_t* prepared) noexcept {
  for (unsigned q = 0; q < 4; ++q) {
    for (unsigned v = 0; v < 16; ++v) {
      const std::uint16_t p = Combine(basis, v, 4 * q);
      prepared[32 * q + v] = static_cast<std::uint8_t>(p);
      prepared[32 * q + 16 + v] = static_cast<std::uint8_t>(p >> 8);
    }
  }
}

// Affine: the product is linear over GF(2), so each byte of it is an 8x8 bit
// matrix applied to the low byte plus one applied to the high byte. In the
// form the affine instruction reads, row i (the bits that make result bit i)
// is byte 7 - i. Order: low->low, high->low, low->high, high->high.
void PrepareAffine(const std::array<std::uint16_t, 16>& basis, std::uint8_t* prepared) noexcept {
  const unsigned shifts[4][2] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}};  // {input byte, output byte}
  for (unsigned m = 0; m < 4; ++m) {
    for (unsigned i = 0; i < 8; ++i) {
      unsigned row = 0;
      for (unsigned j = 0; j < 8; ++j) row |= ((static_cast<unsigned>(basis[shifts[m][0] + j]) >> (shifts[m][1] + i)) & 1u) << j;
      prepared[8 * m + 7 - i] = static_cast<std::uint8_t>(row);
    }
  }
}

}  // namespace

std::uint16_t GfMultiply(std::uint16_t a, std::uint16_t b) noexcept {
  if (a == 0 || b == 0) return 0;
  const Tables& t = Field();
  return t.exp[std::size_t{t.log[a]} + t.log[b]];
}

std::uint16_t GfPowerOfTwo(std::uint64_t exponent) noexcept { return Field().exp[exponent % kOrder]; }

std::uint16_t InputFactor(std::uint32_t slice, std::uint32_t exponent) noexcept {
  const Tables& t = Field();
  return t.exp[std::uint64_t{t.inputLog[slice]} * exponent % kOrder];
}

#ifdef VOKRAM_HAVE_GF_KERNELS

void ToWorkingLayout(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) noexcept {
  const __m128i low = _mm_set1_epi16(0xFF);
  for (std::size_t block = 0; block < n; block += kGfBlock) {
    // The whole block is loaded before any of it is stored: dst may be src.
    __m128i lo[4], hi[4];
    for (std::size_t k = 0; k < 4; ++k) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + block + 32 * k));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + block + 32 * k + 16));
      lo[k] = _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
      hi[k] = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
    }
    for (std::size_t k = 0; k < 4; ++k) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + block + 16 * k), lo[k]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + block + 64 + 16 * k), hi[k]);
    }
  }
}

void FromWorkingLayout(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) noexcept {
  for (std::size_t block = 0; block < n; block += kGfBlock) {
    for (std::size_t k = 0; k < 4; ++k) {
      const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + block + 16 * k));
      const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + block + 64 + 16 * k));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + block + 32 * k), _mm_unpacklo_epi8(lo, hi));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + block + 32 * k + 16), _mm_unpackhi_epi8(lo, hi));
    }
  }
}

GfKernel SupportedGfKernel() noexcept {
  static const GfKernel kernel = [] {
    if (!__builtin_cpu_supports("avx2")) return GfKernel::Portable;
    if (!__builtin_cpu_supports("gfni")) return GfKernel::Shuffle256;
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw")) return GfKernel::Affine256;
    return GfKernel::Affine512;
  }();
  return kernel;
}

#else

void ToWorkingLayout(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) noexcept {
  for (std::size_t block = 0; block < n; block += kGfBlock) {
    std::uint8_t words[kGfBlock];  // dst may be src
    std::memcpy(words, src + block, kGfBlock);
    for (std::size_t j = 0; j < kGfBlock / 2; ++j) {
      dst[block + j] = words[2 * j];
      dst[block + 64 + j] = words[2 * j + 1];
    }
  }
}

void FromWorkingLayout(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) noexcept {
  for (std::size_t block = 0; block < n; block += kGfBlock) {
    for (std::size_t j = 0; j < kGfBlock / 2; ++j) {
      dst[block + 2 * j] = src[block + j];
      dst[block + 2 * j + 1] = src[block + 64 + j];
    }
  }
}

GfKernel SupportedGfKernel() noexcept { return GfKernel::Portable; }

#endif

GfKernel CappedGfKernel(GfKernel supported, const char* limit) noexcept {
  if (limit == nullptr) return supported;
  const std::string_view text(limit);
  GfKernel wanted = supported;
  for (GfKernel k : {GfKernel::Portable, GfKernel::Shuffle256, GfKernel::Affine256, GfKernel::Affine512}) {
    if (text == GfKernelName(k)) wanted = k;
  }
  return static_cast<int>(wanted) < static_cast<int>(supported) ? wanted : supported;
}

GfKernel ChosenGfKernel() noexcept {
  static const GfKernel kernel = CappedGfKernel(SupportedGfKernel(), std::getenv("VOKRAM_GF_KERNEL"));
  return kernel;
}

const char* GfKernelName(GfKernel kernel) noexcept {
  switch (kernel) {
    case GfKernel::Shuffle256: return "shuffle256";
    case GfKernel::Affine256: return "affine256";
    case GfKernel::Affine512: return "affine512";
    case GfKernel::Portable: break;
  }
  return "portable";
}

std::size_t GfPreparedBytes(GfKernel kernel) noexcept {
  switch (kernel) {
    case GfKernel::Shuffle256: return 128;
    case GfKernel::Affine256:
    case GfKernel::Affine512: return 64;  // 32 used; a cache line keeps neighbours apart
    case GfKernel::Portable: break;
  }
  return 1024;
}

void GfPrepare(GfKernel kernel, std::uint16_t factor, std::uint8_t* prepared) noexcept {
  const auto basis = Basis(factor);
  switch (kernel) {
    case GfKernel::Shuffle256: PrepareShuffle(basis, prepared); return;
    case GfKernel::Affine256:
    case GfKernel::Affine512: PrepareAffine(basis, prepared); return;
    case GfKernel::Portable: break;
  }
  PreparePortable(basis, prepared);
}

void GfMultiplyAdd(GfKernel kernel, std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                   const std::uint8_t* prepared) noexcept {
  switch (kernel) {
#ifdef VOKRAM_HAVE_GF_KERNELS
    case GfKernel::Shuffle256: kernel::MultiplyAddShuffle256(dst, src, n, prepared); return;
    case GfKernel::Affine256: kernel::MultiplyAddAffine256(dst, src, n, prepared); return;
    case GfKernel::Affine512: kernel::MultiplyAddAffine512(dst, src, n, prepared); return;
#endif
    default: break;
  }
  MultiplyAddPortable(dst, src, n, prepared);
}

}  // namespace vokram::recovery
