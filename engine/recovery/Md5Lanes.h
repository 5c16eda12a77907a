// MD5 of several streams at once. Recovery data hashes every slice and every
// file; a kernel advances up to 16 independent streams together in SIMD
// lanes, each reading its own bytes, for about the cost of one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "recovery/Md5.h"
#include "recovery/Md5Kernels.h"

namespace vokram::recovery {

// The kernels, from the portable one up, in the order a limit narrows them.
enum class Md5Kernel { Portable, Avx2, Avx512 };

// The fastest this processor runs.
Md5Kernel SupportedMd5Kernel() noexcept;
// The one the recovery code uses: the supported one, unless VOKRAM_MD5_KERNEL
// (portable, avx2 or avx512) names a slower one, so a benchmark can measure
// each on one machine.
Md5Kernel ChosenMd5Kernel() noexcept;
Md5Kernel CappedMd5Kernel(Md5Kernel supported, const char* limit) noexcept;
const char* Md5KernelName(Md5Kernel kernel) noexcept;
// Streams a kernel advances at once (the portable one's lanes are a loop).
std::size_t Md5LaneCount(Md5Kernel kernel) noexcept;

// Up to Md5LaneCount(kernel) MD5 streams, each fed chunks of any size.
class Md5Lanes {
 public:
  explicit Md5Lanes(Md5Kernel kernel = ChosenMd5Kernel()) noexcept;
  std::size_t Count() const noexcept { return count_; }
  // Starts a lane's stream afresh.
  void Reset(std::size_t lane) noexcept;
  // Feeds lane i the bytes of chunks[i], for the first chunks.size() lanes
  // (at most Count()); an empty chunk leaves its lane as it is. Lanes of
  // `also`, unless it is null, are fed the same bytes: where both stand at a
  // block's start, each block is read once for both, for little more than the
  // cost of one (a piece's hash and its slice's).
  void Update(std::span<const std::span<const std::uint8_t>> chunks, Md5Lanes* also = nullptr) noexcept;
  // The digest of what a lane was fed since its reset; it may be fed on.
  Md5Digest Digest(std::size_t lane) const noexcept;
  // A lane's stream as it stands, and a stream put into a lane to be fed on.
  Md5 Stream(std::size_t lane) const noexcept;
  void Load(std::size_t lane, const Md5& stream) noexcept;

 private:
  // Whole blocks, lane i reading from data[i] unless it is null, for this
  // and `also` unless it is null.
  void Blocks(const std::uint8_t* const* data, std::size_t blocks, Md5Lanes* also) noexcept;

  Md5Kernel kernel_;
  std::size_t count_;
  // The lanes' chaining words a, b, c and d, as the kernels read them.
  alignas(64) std::uint32_t state_[4][kMaxMd5Lanes];
  std::array<std::array<std::uint8_t, 64>, kMaxMd5Lanes> pending_{};
  std::array<std::uint64_t, kMaxMd5Lanes> length_{};
};

}  // namespace vokram::recovery
