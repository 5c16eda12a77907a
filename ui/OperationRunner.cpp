#include "OperationRunner.h"

#include "Busy.h"
#include "MessageBoxes.h"

namespace vokram::ui {
namespace {

// While an operation runs, a logoff or shutdown names it to the user.
using ShutdownBlock = UniqueAny<HWND, ShutdownBlockReasonDestroy>;

ShutdownBlock BlockShutdown(HWND window, Operation operation) {
  ShutdownBlockReasonCreate(window, NativeFromUtf8(BusyText(operation)).c_str());
  return ShutdownBlock(window);
}

}  // namespace

void OperationRunner::Attach(HWND window) {
  window_ = window;
  // Sent by the shell when it made the taskbar anew (Explorer restarted).
  taskbarButtonCreated_ = RegisterWindowMessageW(L"TaskbarButtonCreated");
  // The shell sends it from its own level, which may be below ours.
  if (taskbarButtonCreated_) ChangeWindowMessageFilterEx(window_, taskbarButtonCreated_, MSGFLT_ALLOW, nullptr);
}

std::exception_ptr OperationRunner::Run(Operation operation, bool waitPointer, const Work& work, bool& gone) {
  BackgroundOperation background(window_);
  std::exception_ptr failure;
  {
    BusyScope busy(busy_, waitPointer_, waitPointer);
    const ShutdownBlock block = BlockShutdown(window_, operation);
    operation_ = &background;
    quitAfterStop_ = false;
    questionOpen_ = closeAsked_ = false;  // also after a question whose box failed to show
    taskbar_.Start(window_);
    try {
      background.Run([&](const Progress& progress) { work(background, progress); });
    } catch (...) {
      failure = std::current_exception();
    }
    // Report lines still waiting (a check's) go in before any message.
    if (const std::wstring rest = background.TakeLines(); !rest.empty()) view_.lines(rest);
    operation_ = nullptr;
    view_.ended();
  }
  // A stop to quit, the end of the session or of the program: no message.
  gone = quitAfterStop_ || background.QuitSeen();
  if (gone) {
    taskbar_.Clear();
    DestroyWindow(window_);
    return nullptr;
  }
  // A failure's button stays as it is until its message.
  if (!failure) taskbar_.Clear();
  return failure;
}

void OperationRunner::ShowFailure(const std::string& text, bool stopped) {
  if (stopped) {
    taskbar_.Clear();
    ShowStopped(window_, text);
    return;
  }
  taskbar_.Failed();
  ShowWarning(window_, text);
  taskbar_.Clear();
}

void OperationRunner::AskToStop(bool quit) {
  // Work that has ended has its result on the way; nothing is left to stop.
  if (!operation_ || operation_->Ended()) return;
  if (questionOpen_) {
    closeAsked_ = closeAsked_ || quit;
    return;
  }
  closeAsked_ = quit;
  questionOpen_ = true;
  const bool yes = AskYesNo(window_, quit ? MessageId::AskStopAndQuit : MessageId::AskStop);
  questionOpen_ = false;
  // No, or closed because the work ended or the session did (that stopped it).
  if (!yes || !operation_) return;
  if (closeAsked_) quitAfterStop_ = true;
  operation_->RequestStop();
}

void OperationRunner::OnEndSession() {
  if (!operation_) return;
  // The process may end as soon as this returns: the clean-up of a stop
  // (the temporary, this run's pieces) must be done by then. The window
  // then closes without a message.
  quitAfterStop_ = true;
  operation_->StopAndWait();
  if (questionOpen_) CloseQuestion(window_);
}

bool OperationRunner::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  result = 0;
  if (message == taskbarButtonCreated_ && message != 0) {
    taskbar_.ButtonCreated();
    return true;
  }
  // A late message from an operation that has ended changes nothing.
  const bool current = operation_ && lParam == operation_->Serial();
  switch (message) {
    case BackgroundOperation::kProgressMessage:
      if (current) {
        view_.progress(static_cast<int>(wParam));
        taskbar_.Set(static_cast<int>(wParam));
      }
      return true;
    case BackgroundOperation::kLinesMessage:
      if (current) view_.lines(operation_->TakeLines());
      return true;
    case BackgroundOperation::kEndedMessage:
      // The work ended while its stop question shows: the question goes, and
      // the result shows as for any end.
      if (current && questionOpen_) CloseQuestion(window_);
      return true;
    case WM_QUERYENDSESSION:
      // The system shows the block reason of a running operation; the end
      // itself stops it cleanly.
      result = TRUE;
      return true;
    case WM_ENDSESSION:
      if (wParam) OnEndSession();
      return true;
    default:
      return false;
  }
}

}  // namespace vokram::ui
