// The constants for carry-less folding of a reflected CRC of up to 32 bits,
// whatever its generator: the CRC-16 folds of every width and the recovery
// slices' CRC-32 share them.
#pragma once

#include <cstdint>

namespace vokram::detail::fold {

namespace {

consteval std::uint64_t Reflect(std::uint64_t v, int bits) {
  std::uint64_t r = 0;
  for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1) << (bits - 1 - i);
  return r;
}

// x^n modulo a generator of degree 32 (given with its x^32 term).
consteval std::uint64_t XPowMod(std::uint64_t generator, int n) {
  std::uint64_t r = 1;
  for (int i = 0; i < n; ++i) {
    r <<= 1;
    if (r >> 32 & 1) r ^= generator;
  }
  return r;
}

// Folding constant for a distance of n bits, in the reflected 33-bit form.
consteval std::uint64_t FoldConstant(std::uint64_t generator, int n) {
  return Reflect(XPowMod(generator, n), 32) << 1;
}

}  // namespace

}  // namespace vokram::detail::fold
