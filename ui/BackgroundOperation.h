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
  // Posted to the window once the work has ended, lParam the serial: a
  // question open over the window then learns that it asks too late.
  static constexpr UINT kEndedMessage = WM_APP + 22;

  explicit BackgroundOperation(HWND window) noexcept : window_(window) {}
  BackgroundOperation(const BackgroundOperation&) = delete;
  BackgroundOperation& operator=(const BackgroundOperation&) = delete;

  // Runs work(progress) on a worker thread and handles this thread's messages
  // until it ends. Progress reaches the window at most about ten times a
  // second, and only when the percentage changed. A WM_QUIT met meanwhile
  // stops the work; Run still returns only once it has cleaned up.
  void Run(const std::function<void(const Progress&)>& work);

  // The work looks for it once per buffer, or per piece.
  void RequestStop() noexcept { stop_.store(true); }
  bool StopRequested() const noexcept { return stop_.load(); }
  // From a handler that Run's loop dispatched (the end of the session): asks
  // the work to stop and returns once it has ended, its clean-up done,
  // answering only sent and paint messages meanwhile.
  void StopAndWait();
  // True once the work has returned or thrown.
  bool Ended() const noexcept { return ended_.load(); }
  // True when Run met a WM_QUIT: the program is ending.
  bool QuitSeen() const noexcept { return quitSeen_; }
  LPARAM Serial() const noexcept { return serial_; }

  // From the worker: a line for the window, which hears of it once per batch.
  void AddLine(const std::wstring& line);
  // On the window's thread: every line waiting.
  std::wstring TakeLines();

 private:
  HWND window_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  bool quitSeen_ = false;
  // The event the worker sets at its end, while Run runs.
  HANDLE done_ = nullptr;
  LPARAM serial_ = 0;
  std::mutex linesMutex_;
  std::wstring lines_;
  bool linesPosted_ = false;
};

}  // namespace vokram::ui
