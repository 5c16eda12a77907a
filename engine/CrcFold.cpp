#include "CrcFold.h"

#if defined(__x86_64__) || defined(_M_X64)
// GCC 12's AVX-512 intrinsics build on deliberately undefined placeholder
// vectors, which its own uninitialised-use warning then reports.
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define VOKRAM_HAVE_FOLD 1
#endif

#include <cstdlib>
#include <string_view>

namespace vokram::detail {

#ifdef VOKRAM_HAVE_FOLD

namespace {

// x^16 * (x^16 + x^12 + x^5 + 1), the CRC-16 generator lifted to 32 bits.
constexpr std::uint64_t kGenerator = 0x110210000;

constexpr std::uint64_t Reflect(std::uint64_t v, int bits) {
  std::uint64_t r = 0;
  for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1) << (bits - 1 - i);
  return r;
}

constexpr std::uint64_t XPowModG(int n) {
  std::uint64_t r = 1;
  for (int i = 0; i < n; ++i) {
    r <<= 1;
    if (r >> 32 & 1) r ^= kGenerator;
  }
  return r;
}

// Folding constant for a distance of n bits, in the reflected 33-bit form.
constexpr std::uint64_t K(int n) { return Reflect(XPowModG(n), 32) << 1; }

// floor(x^64 / G), for the final Barrett reduction.
constexpr std::uint64_t BarrettQuotient() {
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

constexpr std::uint64_t kFold4[2] = {K(4 * 128 + 32), K(4 * 128 - 32)};
constexpr std::uint64_t kFold1[2] = {K(128 + 32), K(128 - 32)};
constexpr std::uint64_t kFold64 = K(64);
constexpr std::uint64_t kBarrett[2] = {Reflect(kGenerator, 33), Reflect(BarrettQuotient(), 33)};

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i acc, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folds the remaining whole 16-byte blocks into x1, then reduces it to the
// register value.
__attribute__((target("pclmul,sse4.1"))) std::uint16_t Finish(__m128i x1, const std::uint8_t* start,
                                                              const std::uint8_t* p, std::size_t n,
                                                              std::size_t* done) noexcept {
  auto load = [](const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  const __m128i k1 = _mm_set_epi64x(static_cast<long long>(kFold1[1]), static_cast<long long>(kFold1[0]));
  while (n >= 16) {
    x1 = Fold(x1, k1, load(p));
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

__attribute__((target("pclmul,sse4.1"))) std::uint16_t Folded(std::uint16_t crc, const std::uint8_t* p,
                                                              std::size_t n, std::size_t* done) noexcept {
  const std::uint8_t* const start = p;
  auto load = [](const std::uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(crc));
  __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
  p += 64;
  n -= 64;

  const __m128i k4 = _mm_set_epi64x(static_cast<long long>(kFold4[1]), static_cast<long long>(kFold4[0]));
  while (n >= 64) {
    x1 = Fold(x1, k4, load(p));
    x2 = Fold(x2, k4, load(p + 16));
    x3 = Fold(x3, k4, load(p + 32));
    x4 = Fold(x4, k4, load(p + 48));
    p += 64;
    n -= 64;
  }

  const __m128i k1 = _mm_set_epi64x(static_cast<long long>(kFold1[1]), static_cast<long long>(kFold1[0]));
  x1 = Fold(x1, k1, x2);
  x1 = Fold(x1, k1, x3);
  x1 = Fold(x1, k1, x4);
  return Finish(x1, start, p, n, done);
}


constexpr std::uint64_t kFold4x512[2] = {K(4 * 512 + 32), K(4 * 512 - 32)};
constexpr std::uint64_t kFold512[2] = {K(512 + 32), K(512 - 32)};
constexpr std::uint64_t kFold384[2] = {K(384 + 32), K(384 - 32)};
constexpr std::uint64_t kFold256[2] = {K(256 + 32), K(256 - 32)};

#define VOKRAM_WIDE_TARGET __attribute__((target("avx512f,avx512vl,vpclmulqdq,pclmul,sse4.1")))

VOKRAM_WIDE_TARGET inline __m512i Fold512(__m512i acc, __m512i k, __m512i next) {
  const __m512i lo = _mm512_clmulepi64_epi128(acc, k, 0x00);
  const __m512i hi = _mm512_clmulepi64_epi128(acc, k, 0x11);
  return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // three-way exclusive or
}

VOKRAM_WIDE_TARGET inline __m512i Load512(const std::uint8_t* p) { return _mm512_loadu_si512(p); }

VOKRAM_WIDE_TARGET inline __m512i Broadcast(const std::uint64_t (&k)[2]) {
  return _mm512_broadcast_i32x4(_mm_set_epi64x(static_cast<long long>(k[1]), static_cast<long long>(k[0])));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold128By(__m128i lane, const std::uint64_t (&k)[2]) {
  const __m128i kk = _mm_set_epi64x(static_cast<long long>(k[1]), static_cast<long long>(k[0]));
  return _mm_xor_si128(_mm_clmulepi64_si128(lane, kk, 0x00), _mm_clmulepi64_si128(lane, kk, 0x11));
}

// Four 64-byte accumulators, 256 bytes per step; then down to 128 bits for Finish.
VOKRAM_WIDE_TARGET std::uint16_t FoldedWide(std::uint16_t crc, const std::uint8_t* p, std::size_t n,
                                            std::size_t* done) noexcept {
  const std::uint8_t* const start = p;
  __m512i x0 = _mm512_xor_si512(Load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(crc)));
  __m512i x1 = Load512(p + 64), x2 = Load512(p + 128), x3 = Load512(p + 192);
  p += 256;
  n -= 256;
  const __m512i k4 = Broadcast(kFold4x512);
  while (n >= 256) {
    x0 = Fold512(x0, k4, Load512(p));
    x1 = Fold512(x1, k4, Load512(p + 64));
    x2 = Fold512(x2, k4, Load512(p + 128));
    x3 = Fold512(x3, k4, Load512(p + 192));
    p += 256;
    n -= 256;
  }
  const __m512i k1 = Broadcast(kFold512);
  x0 = Fold512(x0, k1, x1);
  x0 = Fold512(x0, k1, x2);
  x0 = Fold512(x0, k1, x3);
  while (n >= 64) {
    x0 = Fold512(x0, k1, Load512(p));
    p += 64;
    n -= 64;
  }
  // Each 128-bit lane moves forward by its distance to the last lane.
  __m128i acc = _mm512_extracti32x4_epi32(x0, 3);
  acc = _mm_xor_si128(acc, Fold128By(_mm512_extracti32x4_epi32(x0, 0), kFold384));
  acc = _mm_xor_si128(acc, Fold128By(_mm512_extracti32x4_epi32(x0, 1), kFold256));
  acc = _mm_xor_si128(acc, Fold128By(_mm512_extracti32x4_epi32(x0, 2), kFold1));
  return Finish(acc, start, p, n, done);
}


constexpr std::uint64_t kFold4x256[2] = {K(4 * 256 + 32), K(4 * 256 - 32)};

#define VOKRAM_MID_TARGET __attribute__((target("avx2,vpclmulqdq,pclmul,sse4.1")))

VOKRAM_MID_TARGET inline __m256i Fold256(__m256i acc, __m256i k, __m256i next) {
  const __m256i lo = _mm256_clmulepi64_epi128(acc, k, 0x00);
  const __m256i hi = _mm256_clmulepi64_epi128(acc, k, 0x11);
  return _mm256_xor_si256(_mm256_xor_si256(lo, hi), next);
}

VOKRAM_MID_TARGET inline __m256i Load256(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

VOKRAM_MID_TARGET inline __m256i Broadcast256(const std::uint64_t (&k)[2]) {
  return _mm256_broadcastsi128_si256(_mm_set_epi64x(static_cast<long long>(k[1]), static_cast<long long>(k[0])));
}

// Four 32-byte accumulators, 128 bytes per step, for processors with AVX2 and
// VPCLMULQDQ but no AVX-512; then down to 128 bits for Finish.
VOKRAM_MID_TARGET std::uint16_t FoldedMid(std::uint16_t crc, const std::uint8_t* p, std::size_t n,
                                          std::size_t* done) noexcept {
  const std::uint8_t* const start = p;
  __m256i x0 = _mm256_xor_si256(Load256(p), _mm256_zextsi128_si256(_mm_cvtsi32_si128(crc)));
  __m256i x1 = Load256(p + 32), x2 = Load256(p + 64), x3 = Load256(p + 96);
  p += 128;
  n -= 128;
  const __m256i k4 = Broadcast256(kFold4x256);
  while (n >= 128) {
    x0 = Fold256(x0, k4, Load256(p));
    x1 = Fold256(x1, k4, Load256(p + 32));
    x2 = Fold256(x2, k4, Load256(p + 64));
    x3 = Fold256(x3, k4, Load256(p + 96));
    p += 128;
    n -= 128;
  }
  const __m256i k1 = Broadcast256(kFold256);
  x0 = Fold256(x0, k1, x1);
  x0 = Fold256(x0, k1, x2);
  x0 = Fold256(x0, k1, x3);
  while (n >= 32) {
    x0 = Fold256(x0, k1, Load256(p));
    p += 32;
    n -= 32;
  }
  // The low lane moves forward by 128 bits onto the high one.
  const __m128i acc = _mm_xor_si128(_mm256_extracti128_si256(x0, 1), Fold128By(_mm256_castsi256_si128(x0), kFold1));
  return Finish(acc, start, p, n, done);
}

}  // namespace

FoldWidth SupportedFold() noexcept {
  static const FoldWidth width = [] {
    if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1")) return FoldWidth::None;
    if (!__builtin_cpu_supports("vpclmulqdq") || !__builtin_cpu_supports("avx2")) return FoldWidth::Bits128;
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512vl")) return FoldWidth::Bits256;
    return FoldWidth::Bits512;
  }();
  return width;
}

std::uint16_t UpdateCRCFolded(FoldWidth width, std::uint16_t crc, const std::uint8_t* data, std::size_t n,
                              std::size_t* done) noexcept {
  switch (width) {
    case FoldWidth::Bits512: return FoldedWide(crc, data, n, done);
    case FoldWidth::Bits256: return FoldedMid(crc, data, n, done);
    case FoldWidth::Bits128: return Folded(crc, data, n, done);
    case FoldWidth::None: break;
  }
  *done = 0;
  return crc;
}

#else

FoldWidth SupportedFold() noexcept { return FoldWidth::None; }

std::uint16_t UpdateCRCFolded(FoldWidth, std::uint16_t crc, const std::uint8_t*, std::size_t,
                              std::size_t* done) noexcept {
  *done = 0;
  return crc;
}

#endif

FoldWidth CappedFold(FoldWidth supported, const char* limit) noexcept {
  if (limit == nullptr) return supported;
  const std::string_view text(limit);
  FoldWidth wanted = supported;
  if (text == "0") wanted = FoldWidth::None;
  else if (text == "128") wanted = FoldWidth::Bits128;
  else if (text == "256") wanted = FoldWidth::Bits256;
  return static_cast<int>(wanted) < static_cast<int>(supported) ? wanted : supported;
}

FoldWidth ChosenFold() noexcept {
  static const FoldWidth width = CappedFold(SupportedFold(), std::getenv("VOKRAM_CRC_FOLD"));
  return width;
}

}  // namespace vokram::detail
