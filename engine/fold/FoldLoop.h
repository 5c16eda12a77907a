// The folding loop every register width shares. Each width's file compiles it
// for its own instructions (see engine/CMakeLists.txt), so everything here
// has internal linkage: no copy built for a wider processor can stand in for
// another width's.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "FoldMath.h"
#include "Folds.h"

namespace vokram::detail::fold {

// Folds the 16-byte blocks left after the wide loop into x, then reduces it
// to the register value; *done is how many bytes from start were taken.
std::uint16_t Finish(__m128i x, const std::uint8_t* start, const std::uint8_t* p, std::size_t n,
                     std::size_t* done) noexcept;

namespace {

// x^16 * (x^16 + x^12 + x^5 + 1), the CRC-16 generator lifted to 32 bits.
constexpr std::uint64_t kGenerator = 0x110210000;

// Folding constant for a distance of n bits, in the reflected 33-bit form.
consteval std::uint64_t K(int n) { return FoldConstant(kGenerator, n); }

// The pair of constants that moves a 128-bit lane forward by `bits`.
struct Distance {
  std::uint64_t low, high;
  consteval explicit Distance(int bits) : low(K(bits + 32)), high(K(bits - 32)) {}
  __m128i Lane() const { return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)); }
};

inline __m128i Fold128By(__m128i lane, Distance d) {
  const __m128i k = d.Lane();
  return _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11));
}

// Four accumulators of one register width L, 4 * L::kBytes bytes per step,
// then one, then down to one 128-bit lane for Finish. L gives Load, Start
// (the first block with the CRC so far in its low bits), Broadcast (a
// constant in every lane), Fold and ToLane; n >= 4 * L::kBytes.
template <class L>
std::uint16_t Folded(std::uint16_t crc, const std::uint8_t* p, std::size_t n, std::size_t* done) noexcept {
  constexpr std::size_t w = L::kBytes;
  constexpr int bits = static_cast<int>(8 * w);
  const std::uint8_t* const start = p;
  auto x0 = L::Start(p, crc);
  auto x1 = L::Load(p + w), x2 = L::Load(p + 2 * w), x3 = L::Load(p + 3 * w);
  p += 4 * w;
  n -= 4 * w;
  const auto k4 = L::Broadcast(Distance(4 * bits));
  while (n >= 4 * w) {
    x0 = L::Fold(x0, k4, L::Load(p));
    x1 = L::Fold(x1, k4, L::Load(p + w));
    x2 = L::Fold(x2, k4, L::Load(p + 2 * w));
    x3 = L::Fold(x3, k4, L::Load(p + 3 * w));
    p += 4 * w;
    n -= 4 * w;
  }
  const auto k1 = L::Broadcast(Distance(bits));
  x0 = L::Fold(x0, k1, x1);
  x0 = L::Fold(x0, k1, x2);
  x0 = L::Fold(x0, k1, x3);
  while (n >= w) {
    x0 = L::Fold(x0, k1, L::Load(p));
    p += w;
    n -= w;
  }
  return Finish(L::ToLane(x0), start, p, n, done);
}

}  // namespace

}  // namespace vokram::detail::fold
