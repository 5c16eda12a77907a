#include "BackgroundOperation.h"

#include <chrono>
#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

#include "Handles.h"
#include "MessageLoop.h"

namespace vokram::ui {

namespace {

// Tells the window how far the work got: at most every kInterval, and only a
// new percentage.
class ProgressPoster {
 public:
  ProgressPoster(HWND window, LPARAM serial) noexcept : window_(window), serial_(serial) {}
  void operator()(std::uint64_t done, std::uint64_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (posted_ && now - last_ < kInterval) return;
    const auto percent = total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done, total) * 100 / total);
    if (percent == percent_) return;
    PostMessageW(window_, BackgroundOperation::kProgressMessage, static_cast<WPARAM>(percent), serial_);
    percent_ = percent;
    last_ = now;
    posted_ = true;
  }

 private:
  static constexpr std::chrono::milliseconds kInterval{100};
  HWND window_;
  LPARAM serial_;
  int percent_ = -1;
  bool posted_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace

void BackgroundOperation::Run(const std::function<void(const Progress&)>& work) {
  static LPARAM serials = 0;
  serial_ = ++serials;
  stop_.store(false);
  ended_.store(false);
  quitSeen_ = false;
  UniqueKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
  done_ = done.get();

  std::exception_ptr failure;
  const Progress progress{ProgressPoster(window_, serial_), &stop_};
  std::thread worker([&, window = window_, serial = serial_] {
    try {
      work(progress);
    } catch (...) {
      failure = std::current_exception();
    }
    ended_.store(true);
    PostMessageW(window, kEndedMessage, 0, serial);
    SetEvent(done.get());
  });
  HANDLE wait = done.get();
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjectsEx(1, &wait, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    if (!PumpPendingMessages()) {
      // The program is ending: stop the work and let it clean up first,
      // still answering the system meanwhile (a stuck read may take long).
      quitSeen_ = true;
      RequestStop();
      WaitAnsweringSentMessages(wait);
      break;
    }
  }
  done_ = nullptr;
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

void BackgroundOperation::StopAndWait() {
  RequestStop();
  if (done_) WaitAnsweringSentMessages(done_);
}

void BackgroundOperation::AddLine(const std::wstring& line) {
  bool post = false;
  {
    const std::lock_guard lock(linesMutex_);
    lines_ += line;
    post = !linesPosted_;
    linesPosted_ = true;
  }
  // One message per batch: lines that arrive while the window is busy
  // appending go in with the next.
  if (post) PostMessageW(window_, kLinesMessage, 0, serial_);
}

std::wstring BackgroundOperation::TakeLines() {
  const std::lock_guard lock(linesMutex_);
  linesPosted_ = false;
  return std::exchange(lines_, {});
}

}  // namespace vokram::ui
