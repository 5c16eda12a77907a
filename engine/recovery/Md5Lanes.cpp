#include "Md5Lanes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace vokram::recovery {

namespace {

// A loop over the scalar compression: enough lanes for the callers' layout,
// no more buffers than that needs.
constexpr std::size_t kPortableLanes = 4;

constexpr std::array<std::uint32_t, 4> kInitial = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

}  // namespace

#if defined(__x86_64__) || defined(_M_X64)

Md5Kernel SupportedMd5Kernel() noexcept {
  static const Md5Kernel kernel = [] {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) return Md5Kernel::Avx512;
    if (__builtin_cpu_supports("avx2")) return Md5Kernel::Avx2;
    return Md5Kernel::Portable;
  }();
  return kernel;
}

#else

Md5Kernel SupportedMd5Kernel() noexcept { return Md5Kernel::Portable; }

#endif

Md5Kernel CappedMd5Kernel(Md5Kernel supported, const char* limit) noexcept {
  if (limit == nullptr) return supported;
  const std::string_view text(limit);
  Md5Kernel wanted = supported;
  for (Md5Kernel k : {Md5Kernel::Portable, Md5Kernel::Avx2, Md5Kernel::Avx512}) {
    if (text == Md5KernelName(k)) wanted = k;
  }
  return static_cast<int>(wanted) < static_cast<int>(supported) ? wanted : supported;
}

Md5Kernel ChosenMd5Kernel() noexcept {
  static const Md5Kernel kernel = CappedMd5Kernel(SupportedMd5Kernel(), std::getenv("VOKRAM_MD5_KERNEL"));
  return kernel;
}

const char* Md5KernelName(Md5Kernel kernel) noexcept {
  switch (kernel) {
    case Md5Kernel::Avx2: return "avx2";
    case Md5Kernel::Avx512: return "avx512";
    case Md5Kernel::Portable: break;
  }
  return "portable";
}

std::size_t Md5LaneCount(Md5Kernel kernel) noexcept {
  switch (kernel) {
    case Md5Kernel::Avx2: return 8;
    case Md5Kernel::Avx512: return 16;
    case Md5Kernel::Portable: break;
  }
  return kPortableLanes;
}

Md5Lanes::Md5Lanes(Md5Kernel kernel) noexcept : kernel_(kernel), count_(Md5LaneCount(kernel)) {
  for (std::size_t lane = 0; lane < kMaxMd5Lanes; ++lane) Reset(lane);
}

void Md5Lanes::Reset(std::size_t lane) noexcept {
  for (std::size_t w = 0; w < 4; ++w) state_[w][lane] = kInitial[w];
  length_[lane] = 0;
}

void Md5Lanes::Blocks(const std::uint8_t* const* data, std::size_t blocks, Md5Lanes* also) noexcept {
  std::uint32_t* const second = also ? &also->state_[0][0] : nullptr;
  // A stream alone runs faster by itself than in one lane of a vector (the
  // last pieces of a set, as their lanes run dry).
  const bool alone = std::count_if(data, data + count_, [](const std::uint8_t* d) { return d != nullptr; }) == 1;
  switch (alone ? Md5Kernel::Portable : kernel_) {
#if defined(__x86_64__) || defined(_M_X64)
    case Md5Kernel::Avx2: kernel::Md5Blocks8(&state_[0][0], second, data, blocks); return;
    case Md5Kernel::Avx512: kernel::Md5Blocks16(&state_[0][0], second, data, blocks); return;
#endif
    default: break;
  }
  for (std::size_t lane = 0; lane < count_; ++lane) {
    if (!data[lane]) continue;
    std::array<std::uint32_t, 4> words, more;
    for (std::size_t w = 0; w < 4; ++w) words[w] = state_[w][lane];
    if (!also) {
      Md5Compress(words, data[lane], blocks);
    } else {
      for (std::size_t w = 0; w < 4; ++w) more[w] = also->state_[w][lane];
      Md5Compress2(words, more, data[lane], blocks);
      for (std::size_t w = 0; w < 4; ++w) also->state_[w][lane] = more[w];
    }
    for (std::size_t w = 0; w < 4; ++w) state_[w][lane] = words[w];
  }
}

void Md5Lanes::Update(std::span<const std::span<const std::uint8_t>> chunks, Md5Lanes* also) noexcept {
  std::array<const std::uint8_t*, kMaxMd5Lanes> at{}, data{};
  std::array<std::size_t, kMaxMd5Lanes> left{};
  const std::size_t lanes = std::min(chunks.size(), count_);
  if (also) {
    // Both read each block at once only where both streams stand at a block's
    // start; otherwise each takes the bytes by itself.
    for (std::size_t lane = 0; lane < lanes; ++lane) {
      if (!chunks[lane].empty() && (length_[lane] % 64 != 0 || also->length_[lane] % 64 != 0)) {
        Update(chunks);
        also->Update(chunks);
        return;
      }
    }
  }
  // Lanes with a partial block first complete it where they can.
  bool any = false;
  for (std::size_t lane = 0; lane < lanes; ++lane) {
    at[lane] = chunks[lane].data();
    left[lane] = chunks[lane].size();
    const auto used = static_cast<std::size_t>(length_[lane] % 64);
    if (used == 0 || left[lane] == 0) continue;
    const std::size_t take = std::min(left[lane], 64 - used);
    std::memcpy(pending_[lane].data() + used, at[lane], take);
    at[lane] += take;
    left[lane] -= take;
    length_[lane] += take;
    if (used + take == 64) data[lane] = pending_[lane].data(), any = true;
  }
  if (any) Blocks(data.data(), 1, nullptr);
  // Then whole blocks, as many at a time as every lane that has any still has.
  for (;;) {
    std::size_t blocks = 0;
    for (std::size_t lane = 0; lane < lanes; ++lane) {
      const std::size_t has = left[lane] / 64;
      if (has > 0 && (blocks == 0 || has < blocks)) blocks = has;
    }
    if (blocks == 0) break;
    for (std::size_t lane = 0; lane < kMaxMd5Lanes; ++lane) {
      data[lane] = lane < lanes && left[lane] >= 64 ? at[lane] : nullptr;
    }
    Blocks(data.data(), blocks, also);
    for (std::size_t lane = 0; lane < lanes; ++lane) {
      if (!data[lane]) continue;
      at[lane] += 64 * blocks;
      left[lane] -= 64 * blocks;
      length_[lane] += 64 * blocks;
      if (also) also->length_[lane] += 64 * blocks;
    }
  }
  for (std::size_t lane = 0; lane < lanes; ++lane) {
    if (left[lane] == 0) continue;
    for (Md5Lanes* target : {this, also}) {
      if (!target) continue;
      std::memcpy(target->pending_[lane].data(), at[lane], left[lane]);
      target->length_[lane] += left[lane];
    }
  }
}

Md5 Md5Lanes::Stream(std::size_t lane) const noexcept {
  Md5 md5;
  for (std::size_t w = 0; w < 4; ++w) md5.state_[w] = state_[w][lane];
  md5.pending_ = pending_[lane];
  md5.length_ = length_[lane];
  return md5;
}

void Md5Lanes::Load(std::size_t lane, const Md5& stream) noexcept {
  for (std::size_t w = 0; w < 4; ++w) state_[w][lane] = stream.state_[w];
  pending_[lane] = stream.pending_;
  length_[lane] = stream.length_;
}

Md5Digest Md5Lanes::Digest(std::size_t lane) const noexcept { return Stream(lane).Digest(); }

}  // namespace vokram::recovery
