// Arithmetic in GF(2^16) as recovery data uses it: the polynomial
// x^16 + x^12 + x^3 + x + 1 (0x1100B), generator 2, and little-endian 16-bit
// words. The bulk operation is multiply-accumulate (dst ^= factor * src) over
// a working layout that every kernel shares: each 128-byte block holds the
// low bytes of 64 consecutive words, then their high bytes. Bytes are moved
// into it once when read and back once when written, so a kernel never
// shuffles bytes inside its loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vokram::recovery {

// Input slices can be told apart only by their constants, of which there are
// this many; recovery slices are limited to the same count.
inline constexpr std::uint32_t kMaxSlices = 32768;

std::uint16_t GfMultiply(std::uint16_t a, std::uint16_t b) noexcept;
// 2^exponent.
std::uint16_t GfPowerOfTwo(std::uint64_t exponent) noexcept;
// The factor of input slice `slice` (< kMaxSlices) in recovery slice
// `exponent`: 2^(n * exponent), where n is the slice's constant's logarithm,
// the slice-th n >= 1 that shares no factor with 65535.
std::uint16_t InputFactor(std::uint32_t slice, std::uint32_t exponent) noexcept;

inline constexpr std::size_t kGfBlock = 128;

// Raw bytes (little-endian words) to the working layout and back; n is a
// multiple of kGfBlock. ToWorkingLayout's dst may be its src.
void ToWorkingLayout(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) noexcept;
void FromWorkingLayout(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) noexcept;

// The multiply-accumulate kernels, from the portable one up, in the order a
// limit narrows them.
enum class GfKernel { Portable, Shuffle256, Affine256, Affine512 };

// The fastest this processor runs.
GfKernel SupportedGfKernel() noexcept;
// The one the encoder uses: the supported one, unless VOKRAM_GF_KERNEL
// (portable, shuffle256, affine256 or affine512) names a slower one, so a
// benchmark can measure each on one machine.
GfKernel ChosenGfKernel() noexcept;
GfKernel CappedGfKernel(GfKernel supported, const char* limit) noexcept;
const char* GfKernelName(GfKernel kernel) noexcept;

// A factor is prepared once into the form a kernel reads (its tables or bit
// matrices), of GfPreparedBytes bytes, 64-byte aligned.
std::size_t GfPreparedBytes(GfKernel kernel) noexcept;
void GfPrepare(GfKernel kernel, std::uint16_t factor, std::uint8_t* prepared) noexcept;
// dst ^= factor * src over n bytes (a multiple of kGfBlock) in the working
// layout.
void GfMultiplyAdd(GfKernel kernel, std::uint8_t* dst, const std::uint8_t* src, std::size_t n,
                   const std::uint8_t* prepared) noexcept;

}  // namespace vokram::recovery
