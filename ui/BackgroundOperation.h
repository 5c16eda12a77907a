// A long engine call runs on a worker thread while the window's thread keeps
// handling its messages, so the window answers at every moment, also while a
// single read or write blocks. To its caller the call still looks like one
// step: Run returns when the work has ended and rethrows what it threw, so the
// order of checks, messages and files stays that of a plain call.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "Progress.h"

namespace vokram::ui {

class BackgroundOperation {
 public:
  // Posted to the window: wParam the percentage, lParam the operation's serial.
  static constexpr UINT kProgressMessage = WM_APP + 20;
  // Posted to the window when report lines wait (TakeLines).
  static constexpr UINT kLinesMessage = WM_APP + 21;

  explicit BackgroundOperation(HWND window) noexcept : window_(window) {}
  BackgroundOperation(const BackgroundOperation&) = delete;
  BackgroundOperation& operator=(const BackgroundOperation&) = delete;

  // Runs work(progress) on a worker thread and handles this thread's messages
  // until it ends. Progress reaches the window at most about ten times a
  // second, and only when the percentage changed.
  void Run(const std::function<void(const Progress&)>& work);

  // The work looks for it once per buffer, or per piece.
  void RequestStop() noexcept { stop_.store(true); }
  bool StopRequested() const noexcept { return stop_.load(); }
  LPARAM Serial() const noexcept { return serial_; }

  // From the worker: a line for the window, which hears of it once per batch.
  void AddLine(const std::wstring& line);
  // On the window's thread: every line waiting.
  std::wstring TakeLines();

 private:
  HWND window_;
  std::atomic<bool> stop_{false};
  LPARAM serial_ = 0;
  std::mutex linesMutex_;
  std::wstring lines_;
  bool linesPosted_ = false;
};

}  // namespace vokram::ui
