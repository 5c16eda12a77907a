#include "ProgressLine.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "Console.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vokram::cli {

namespace {

std::string Clock2(double seconds) {
  const auto s = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

constexpr int kWidth = 40;  // wide enough to cover any line drawn before

}  // namespace

bool StderrIsTerminal() {
#ifdef _WIN32
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
  return ::isatty(STDERR_FILENO) == 1;
#endif
}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Clear() {
  if (drawn_) Err("\r" + std::string(kWidth, ' ') + "\r");
  drawn_ = false;
}

void ProgressLine::Update(std::uint64_t done, std::uint64_t total) {
  if (!enabled_ || total == 0) return;  // a plan's look for a stop: nothing to count yet
  const auto now = Clock::now();
  if (now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  drawn_ = true;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double bytesPerSecond = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const auto percent = total == 0 ? 0 : static_cast<int>(std::min(done, total) * 100 / total);
  char line[96];
  // The window's unit: 1 KB = 1024 bytes, 1 MB = 1024 KB.
  std::snprintf(line, sizeof line, "\r%3d%%  %7.1f MB/s", percent, bytesPerSecond / (1024.0 * 1024.0));
  std::string text = line;
  if (bytesPerSecond > 0 && done < total) {
    text += "  残り " + Clock2(static_cast<double>(total - done) / bytesPerSecond);
  }
  text += "    ";
  Err(text);
}

}  // namespace vokram::cli
