// Runs the window's operations, one step at a time: the busy state and the
// wait pointer, the worker thread, the stop question (one at a time), a stop
// to quit, the taskbar button and the shutdown block reason. The window asks
// it to run a step and hears what it threw; a failure's or a stop's message
// goes through it, for the taskbar button's error state meanwhile.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

#include "BackgroundOperation.h"
#include "Messages.h"
#include "Taskbar.h"

namespace vokram::ui {

class OperationRunner {
 public:
  // What the window shows of a running operation.
  struct View {
    std::function<void(int percent)> progress;
    std::function<void(const std::wstring& lines)> lines;  // a check's report lines
    std::function<void()> ended;                           // before any message
  };

  explicit OperationRunner(View view) : view_(std::move(view)) {}
  OperationRunner(const OperationRunner&) = delete;
  OperationRunner& operator=(const OperationRunner&) = delete;

  // Once the window exists: it owns the taskbar button and the messages.
  void Attach(HWND window);

  using Work = std::function<void(BackgroundOperation&, const Progress&)>;
  // Runs work off the window's thread and returns once it has ended: nothing
  // when it completed, else what it threw, to be shown by ShowFailure. `gone`:
  // the window was destroyed instead (after a stop asked for to quit, or when
  // the session or the program ends), and nothing more is shown.
  std::exception_ptr Run(Operation operation, bool waitPointer, const Work& work, bool& gone);
  // The message of a failed or stopped step, the taskbar button in its error
  // state meanwhile (a failure's).
  void ShowFailure(const std::string& text, bool stopped);

  bool Busy() const noexcept { return busy_; }
  bool WaitPointer() const noexcept { return waitPointer_; }
  // Esc, End and the title bar's close while an operation runs. One question
  // at a time: a close while it shows makes its Yes stop and quit.
  void AskToStop(bool quit);
  // The runner's messages (progress, report lines, the end of the work, the
  // end of the session, a new taskbar button); true when it handled one.
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

 private:
  // The session ends (logoff, shutdown): a running operation stops and
  // cleans up before this returns.
  void OnEndSession();

  View view_;
  HWND window_ = nullptr;
  bool busy_ = false;
  bool waitPointer_ = false;
  // The running operation, while one runs.
  BackgroundOperation* operation_ = nullptr;
  bool quitAfterStop_ = false;
  // The stop question is showing; a close asked for meanwhile.
  bool questionOpen_ = false;
  bool closeAsked_ = false;
  TaskbarProgress taskbar_;
  UINT taskbarButtonCreated_ = 0;
};

}  // namespace vokram::ui
