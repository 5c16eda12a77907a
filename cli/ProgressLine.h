// The command line's progress: one line on stderr, redrawn at most ten times
// a second, with the percentage, the speed and the time left. Drawn only when
// stderr is a terminal, so logs and pipes get none of it.
#pragma once

#include <chrono>
#include <cstdint>

namespace vokram::cli {

bool StderrIsTerminal();

class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) noexcept : enabled_(enabled) {}
  ~ProgressLine();  // clears the line it drew
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void Update(std::uint64_t done, std::uint64_t total);
  // Erases the line, for other output or the end.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  bool drawn_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_{};
};

}  // namespace vokram::cli
