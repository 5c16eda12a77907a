// What a front end hands a long operation: where to hear how far it got and
// how to ask it to stop. Both are looked at once per buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "Error.h"

namespace vokram {

struct Progress {
  // Bytes done of the total; called from the operation's own thread.
  std::function<void(std::uint64_t done, std::uint64_t total)> onProgress;
  // Set from another thread or a signal handler (a lock-free atomic).
  const std::atomic<bool>* stop = nullptr;

  // Tells the progress, then throws VokError(Cancelled) when a stop was
  // asked for (also by that call).
  void Step(std::uint64_t done, std::uint64_t total) const {
    if (onProgress) onProgress(done, total);
    if (stop && stop->load(std::memory_order_relaxed)) throw VokError(ErrorCode::Cancelled, {});
  }
};

}  // namespace vokram
