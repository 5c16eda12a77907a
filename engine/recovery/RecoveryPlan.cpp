// Choosing the slice size and the number of recovery slices.
//
// Recovery data works in slices: every piece is cut into slices of one size
// (its last one zero-padded), and each recovery slice can stand in for any
// one lost input slice. A lost piece costs all the slices it occupies, so to
// bring back any N lost pieces the set needs at least as many recovery
// slices as the N largest pieces occupy. That is R.
//
// The slice size S trades three costs:
// - Waste: a piece occupies ceil(length / S) slices, so the recovery data is
//   up to N * S larger than the N largest pieces.
// - Work: writing (and repairing) costs input bytes * R multiply-adds, and R
//   is about N * largest / S, so it grows as S shrinks.
// - Per-slice bytes: 20 in every copy of the checksum packets and 68 per
//   recovery slice; and the format allows at most 32,768 input slices.
// S is the largest piece's length / 8, rounded up to a multiple of 4, and
// from 4 KiB up to a multiple of 64, so that slices begin on MD5's blocks and
// a piece's hash and its slices' read each block together. R stays near 8
// per lost piece whatever the sizes, and with it the multiply-adds of every
// writer and repairer: half those of 1/16, a quarter of 1/32. Over 512 MiB
// in 1-10 MiB pieces, par2 rebuilds a lost largest piece in 3.3 s at 1/8,
// 3.7 s at 1/16 and 4.7 s at 1/32. The price: a piece beyond the N largest
// wastes under 1/8 of one, and readers, which want slices below typical
// piece sizes (a slice as large as a piece made a verify 25 times slower),
// verify those 512 MiB in 2.05 s with par2 at 1/8, 1.83 s at 1/16 and 1.64 s
// at 1/32. Only when the pieces would then need more than 32,768 slices is S
// raised, to the smallest multiple of 4 that fits.
//
// Volumes: recovery slices go to files holding consecutive exponents, each
// repeating the critical packets floor(log2(count)) + 1 times as readers
// expect, with Vokram's descriptor packet and the creator packet once. No
// volume may be larger than largestFile (the split's maximum piece size), so
// each holds as many slices as fit, and the slices are spread evenly over the
// fewest such files.
#include "RecoveryPlan.h"

#include <algorithm>
#include <bit>
#include <functional>
#include <numeric>

#include "recovery/Gf16.h"
#include "recovery/Packets.h"

namespace vokram::recovery {

namespace {

constexpr std::uint64_t kSlicesPerLargestPiece = 8;
// From this size up, slices are whole MD5 blocks (see above).
constexpr std::uint64_t kBlockAlignedSlice = 4096;

std::uint64_t TotalSlices(const std::vector<std::uint64_t>& lengths, std::uint64_t sliceSize) {
  std::uint64_t total = 0;
  for (std::uint64_t length : lengths) total += SlicesOf(length, sliceSize);
  return total;
}

// Main, then each file's FileDesc, UniFileN and IFSC.
std::uint64_t CriticalBytes(const RecoveryRequest& request, std::uint64_t sliceSize) {
  std::uint64_t bytes = MainPacketBytes(request.names.size());
  for (std::size_t f = 0; f < request.names.size(); ++f) {
    bytes += FileDescPacketBytes(request.names[f].size());
    if (const auto wide = Utf16FromUtf8(request.names[f])) bytes += UniFileNPacketBytes(wide->size());
    bytes += IfscPacketBytes(SlicesOf(request.lengths[f], sliceSize));
  }
  return bytes;
}

std::uint32_t Copies(std::uint32_t slices) { return static_cast<std::uint32_t>(std::bit_width(slices)); }

NativeString Digits(std::uint32_t value, std::size_t width) {
  std::string text = std::to_string(value);
  text.insert(0, width - std::min(width, text.size()), '0');
  return NativeString(text.begin(), text.end());
}

}  // namespace

std::uint64_t RecoveryPlan::TotalSize() const {
  std::uint64_t total = 0;
  for (const auto& output : outputs) total += output.size;
  return total;
}

std::uint64_t SlicesOf(std::uint64_t length, std::uint64_t sliceSize) { return (length + sliceSize - 1) / sliceSize; }

std::optional<RecoveryPlan> LayOutRecovery(const RecoveryRequest& request, NativeView baseName,
                                           std::uint64_t sliceSize, std::uint32_t recoverySlices) {
  const std::uint64_t inputSlices = TotalSlices(request.lengths, sliceSize);
  if (sliceSize == 0 || sliceSize % 4 != 0 || inputSlices > kMaxSlices || recoverySlices > kMaxSlices) {
    return std::nullopt;
  }
  const std::uint64_t critical = CriticalBytes(request, sliceSize);
  const std::uint64_t once = DescriptorPacketBytes(request.descriptorLength) + CreatorPacketBytes();
  const auto volumeBytes = [&](std::uint32_t slices) {
    return slices * RecvSlicPacketBytes(sliceSize) + Copies(slices) * critical + once;
  };

  RecoveryPlan plan;
  plan.sliceSize = sliceSize;
  plan.inputSlices = static_cast<std::uint32_t>(inputSlices);
  plan.recoverySlices = recoverySlices;
  plan.outputs.push_back({NativeString(baseName) + VOKRAM_NATIVE(".par2"), critical + once, 0, 0});
  if (recoverySlices == 0) return plan;

  if (volumeBytes(1) > request.largestFile) return std::nullopt;
  // The most slices one volume holds (its size grows with the count).
  std::uint32_t low = 1, high = recoverySlices;
  while (low < high) {
    const std::uint32_t mid = low + (high - low + 1) / 2;
    if (volumeBytes(mid) <= request.largestFile) low = mid;
    else high = mid - 1;
  }
  const std::uint32_t volumes = (recoverySlices + low - 1) / low;
  const std::uint32_t each = recoverySlices / volumes, larger = recoverySlices % volumes;
  const std::size_t firstWidth = std::to_string(recoverySlices - each).size();
  const std::size_t countWidth = std::to_string(each + (larger ? 1 : 0)).size();
  std::uint32_t first = 0;
  for (std::uint32_t v = 0; v < volumes; ++v) {
    const std::uint32_t count = each + (v < larger ? 1 : 0);
    plan.outputs.push_back({NativeString(baseName) + VOKRAM_NATIVE(".vol") + Digits(first, firstWidth) +
                                VOKRAM_NATIVE("+") + Digits(count, countWidth) + VOKRAM_NATIVE(".par2"),
                            volumeBytes(count), first, count});
    first += count;
  }
  return plan;
}

std::optional<RecoveryPlan> PlanRecovery(const RecoveryRequest& request, NativeView baseName) {
  if (request.lengths.empty() || request.lengths.size() > kMaxSlices) return std::nullopt;
  std::vector<std::uint64_t> lengths = request.lengths;
  std::sort(lengths.begin(), lengths.end(), std::greater<>());
  const auto roundUp4 = [](std::uint64_t n) { return (n + 3) / 4 * 4; };
  const std::uint64_t share = (lengths.front() + kSlicesPerLargestPiece - 1) / kSlicesPerLargestPiece;
  std::uint64_t sliceSize = share >= kBlockAlignedSlice ? (share + 63) / 64 * 64 : std::max<std::uint64_t>(4, roundUp4(share));
  if (TotalSlices(lengths, sliceSize) > kMaxSlices) {
    // The smallest multiple of 4 that fits; the largest piece as one slice
    // always does, as there are at most kMaxSlices pieces.
    std::uint64_t low = sliceSize / 4, high = roundUp4(lengths.front()) / 4;
    while (low < high) {
      const std::uint64_t mid = low + (high - low) / 2;
      if (TotalSlices(lengths, 4 * mid) <= kMaxSlices) high = mid;
      else low = mid + 1;
    }
    sliceSize = 4 * low;
  }
  const std::size_t lost = std::min<std::size_t>(request.losses, lengths.size());
  std::uint64_t recovery = 0;
  for (std::size_t i = 0; i < lost; ++i) recovery += SlicesOf(lengths[i], sliceSize);
  return LayOutRecovery(request, baseName, sliceSize, static_cast<std::uint32_t>(recovery));
}

}  // namespace vokram::recovery
