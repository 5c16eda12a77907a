// What the encoder and the rebuild share: each adds batches of input slices,
// each times its constant raised to a sum's exponent, to a run of sums, one
// part of every slice at a time.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "File.h"
#include "recovery/Gf16.h"

namespace vokram::recovery {

// Prepared factors for one batch (batch x sums of them) stay within this much.
inline constexpr std::size_t kPreparedBudget = std::size_t{8} << 20;
inline constexpr std::size_t kMaxBatch = 64;
// The inner loop's span: a sum's tile stays in the first-level cache while
// every input of the batch is added to it, and the batch's tiles stay in the
// second level while every sum takes them.
inline constexpr std::size_t kTile = 4096;
// Below this many multiply-add bytes a batch runs on one thread.
inline constexpr std::uint64_t kThreadedWork = std::uint64_t{4} << 20;

using Buffer = std::unique_ptr<std::uint8_t[], detail::PageAlignedDelete>;
inline Buffer Allocate(std::size_t n) {
  return Buffer(static_cast<std::uint8_t*>(::operator new[](std::max<std::size_t>(n, 1), detail::kPageAlignment)));
}

inline std::size_t RoundUpToBlock(std::uint64_t n) {
  return static_cast<std::size_t>((n + kGfBlock - 1) / kGfBlock * kGfBlock);
}

struct BatchSums {
  GfKernel kernel;
  std::size_t width;     // stride of a slice's part in the buffers
  std::size_t span;      // bytes of this pass's part, rounded up to whole blocks
  std::size_t capacity;  // slices a batch holds
  std::size_t count;     // slices it holds now
  const std::uint32_t* slices;     // their numbers in the set
  const std::uint32_t* exponents;  // each sum's; nullptr: sum k has exponent k
  const std::uint8_t* inputs;
  std::uint8_t* prepared;
  std::uint8_t* sums;

  // The factors of sums [first, last) for this batch.
  void Prepare(std::size_t first, std::size_t last) const noexcept {
    const std::size_t stride = GfPreparedBytes(kernel);
    for (std::size_t k = first; k < last; ++k) {
      const auto exponent = exponents ? exponents[k] : static_cast<std::uint32_t>(k);
      for (std::size_t i = 0; i < count; ++i) {
        GfPrepare(kernel, InputFactor(slices[i], exponent), prepared + (k * capacity + i) * stride);
      }
    }
  }

  // Sums [first, last) over bytes [from, to) of the span, tile by tile, with
  // their factors prepared.
  void Apply(std::size_t first, std::size_t last, std::size_t from, std::size_t to) const noexcept {
    const std::size_t stride = GfPreparedBytes(kernel);
    for (std::size_t tile = from; tile < to; tile += kTile) {
      const std::size_t n = std::min(kTile, to - tile);
      for (std::size_t k = first; k < last; ++k) {
        for (std::size_t i = 0; i < count; ++i) {
          GfMultiplyAdd(kernel, sums + k * width + tile, inputs + i * width + tile, n,
                        prepared + (k * capacity + i) * stride);
        }
      }
    }
  }

  // Sums [first, last): their factors, then the sums.
  void Run(std::size_t first, std::size_t last) const noexcept {
    Prepare(first, last);
    Apply(first, last, 0, span);
  }

  // All `total` sums, on up to `threads` threads when the batch is large enough.
  void RunAll(std::size_t total, unsigned threads) const {
    const unsigned used = std::uint64_t{count} * span * total >= kThreadedWork ? threads : 1;
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < used; ++t) {
      helpers.emplace_back([this, t, used, total] { Run(total * t / used, total * (t + 1) / used); });
    }
    Run(0, total / used);
    for (auto& helper : helpers) helper.join();
  }
};

}  // namespace vokram::recovery
