// The Run command: the checks of the mode's fields in their fixed order, then
// the engine's plan, the question before replacing files, and the engine's
// run, both under the wait pointer and off the window's thread, then
// "終了しました。".
#include <filesystem>
#include <optional>
#include <variant>

#include "Busy.h"
#include "Frm_BunLayout.h"
#include "ControlIds.h"
#include "Controls.h"
#include "Frm_Bun.h"
#include "Join.h"
#include "MessageBoxes.h"
#include "Split.h"

namespace vokram::ui {
namespace {

bool IsChecked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// While an operation runs, a logoff or shutdown names it to the user.
class ShutdownBlock {
 public:
  ShutdownBlock(HWND window, Operation operation) noexcept : window_(window) {
    ShutdownBlockReasonCreate(window_, Reason(operation));
  }
  ~ShutdownBlock() { ShutdownBlockReasonDestroy(window_); }
  ShutdownBlock(const ShutdownBlock&) = delete;
  ShutdownBlock& operator=(const ShutdownBlock&) = delete;

 private:
  static const wchar_t* Reason(Operation operation) noexcept {
    switch (operation) {
      case Operation::Split:
        return kShutdownReasonSplit;
      case Operation::Join:
        return kShutdownReasonJoin;
      case Operation::Check:
        break;
    }
    return kShutdownReasonCheck;
  }
  HWND window_;
};

int FocusTarget(Focus focus) {
  switch (focus) {
    case Focus::MinSize:
      return IDC_txtMinSize;
    case Focus::MaxSize:
      return IDC_txtMaxSize;
    case Focus::DstFileName:
      return IDC_txtDstFileName;
    case Focus::Unchanged:
      break;
  }
  return 0;
}

}  // namespace

void Frm_Bun::cmdRun_Click() {
  if (IsJoinMode()) {
    RunJoin();
  } else {
    RunSplit();
  }
}

void Frm_Bun::RunSplit() {
  // The split writes what the check boxes say at the moment Run is pressed.
  SplitOptions options{IsChecked(Control(IDC_chkVokFile)), IsChecked(Control(IDC_chkBatFile))};
  const SplitFields fields{FieldText(IDC_txtSrcFile), FieldText(IDC_txtDstdir),
                           FieldText(IDC_txtDstFileName), FieldText(IDC_txtMinSize),
                           FieldText(IDC_txtMaxSize)};
  const SplitValidation validation = ValidateSplit(fields, options, RealFileSystem());
  // The user sees the derived name even when a later check refuses.
  if (validation.derivedBaseName) SetText(Control(IDC_txtDstFileName), *validation.derivedBaseName);
  if (const auto* rejection = std::get_if<Rejection>(&validation.outcome)) {
    Reject(*rejection, Operation::Split);
    return;
  }
  const auto& request = std::get<SplitRequest>(validation.outcome);
  // The plan looks at every output's name, thousands of them in a folder of
  // an earlier set: off the window's thread too.
  std::optional<SplitPlan> plan;
  if (!RunOperation(Operation::Split, request.sourcePath, true, [&](BackgroundOperation&, const Progress& progress) {
        plan.emplace(PlanSplitFile(request.sourcePath, request.draw, options));
        progress.Step(0, 0);  // a stop asked for meanwhile
      })) {
    return;
  }
  if (const std::size_t existing = plan->ExistingCount(); existing > 0) {
    if (!AskToReplace(Handle(), ReplaceQuestion(existing))) return;
    options.replaceExisting = true;
  }
  const bool done = RunOperation(Operation::Split, request.sourcePath, true,
                                 [&](BackgroundOperation&, const Progress& progress) {
                                   SplitFile(*plan, options, progress);
                                 });
  if (done) ShowDone(Handle());
}

void Frm_Bun::RunJoin() {
  const JoinFields fields{FieldText(IDC_txtVokFile), FieldText(IDC_txtSaveDir),
                          IsChecked(Control(IDC_optSavePath0))};
  const auto outcome = ValidateJoin(fields, RealFileSystem());
  if (const auto* rejection = std::get_if<Rejection>(&outcome)) {
    Reject(*rejection, Operation::Join);
    return;
  }
  const auto& request = std::get<JoinRequest>(outcome);
  std::optional<JoinPlan> plan;
  if (!RunOperation(Operation::Join, request.vokPath, true, [&](BackgroundOperation&, const Progress& progress) {
        plan.emplace(PlanJoin(std::filesystem::path(request.vokPath), request.outputFolder));
        progress.Step(0, 0);  // a stop asked for meanwhile
      })) {
    return;
  }
  const bool replace = plan->output.exists;
  if (replace && !AskToReplace(Handle(), ReplaceQuestion(plan->output.path.filename()))) return;
  JoinResult result;
  const bool done = RunOperation(Operation::Join, request.vokPath, true,
                                 [&](BackgroundOperation&, const Progress& progress) {
                                   result = JoinFile(*plan, replace, progress);
                                 });
  if (!done) return;
  if (result.matchesRecord) {
    ShowDone(Handle());
  } else if (result.keptOlderFile) {
    ShowWarning(Handle(), JoinNotReplacedMessage(result.outputPath.filename()));
  } else {
    ShowWarning(Handle(), MessageId::JoinMismatch);
  }
}

bool Frm_Bun::RunOperation(Operation operation, const std::wstring& file, bool waitPointer, const Work& work) {
  BackgroundOperation background(Handle());
  std::exception_ptr failure;
  {
    BusyScope busy(busy_, waitPointer_, waitPointer);
    const ShutdownBlock block(Handle(), operation);
    operation_ = &background;
    quitAfterStop_ = false;
    questionOpen_ = closeAsked_ = false;  // also after a question whose box failed to show
    taskbar_.Start(Handle());
    try {
      background.Run([&](const Progress& progress) { work(background, progress); });
    } catch (...) {
      failure = std::current_exception();
    }
    // Report lines still waiting (a check's) go in before any message.
    if (const std::wstring rest = background.TakeLines(); !rest.empty()) AppendText(Control(IDC_txtChkCRC), rest);
    operation_ = nullptr;
    SetWindowTextW(Handle(), ModeCaption().c_str());
  }
  // A stop to quit, the end of the session or of the program: no message.
  if (quitAfterStop_ || background.QuitSeen()) {
    taskbar_.Clear();
    DestroyWindow(Handle());
    return false;
  }
  if (!failure) {
    taskbar_.Clear();
    return true;
  }
  try {
    std::rethrow_exception(failure);
  } catch (const VokError& error) {
    if (error.Code() == ErrorCode::Cancelled) {
      taskbar_.Clear();
      ShowStopped(Handle(), MessageFor(error, operation));
      return false;
    }
    taskbar_.Failed();
    Fail(error, operation, file);
  } catch (const std::exception& error) {
    taskbar_.Failed();
    Fail(error, operation, file);
  }
  taskbar_.Clear();
  return false;
}

void Frm_Bun::AskToStop(bool quit) {
  // Work that has ended has its result on the way; nothing is left to stop.
  if (!operation_ || operation_->Ended()) return;
  if (questionOpen_) {
    closeAsked_ = closeAsked_ || quit;
    return;
  }
  closeAsked_ = quit;
  questionOpen_ = true;
  const bool yes = AskYesNo(Handle(), quit ? MessageId::AskStopAndQuit : MessageId::AskStop);
  questionOpen_ = false;
  // No, or closed because the work ended or the session did (that stopped it).
  if (!yes || !operation_) return;
  if (closeAsked_) quitAfterStop_ = true;
  operation_->RequestStop();
}

void Frm_Bun::OnEndSession() {
  if (!operation_) return;
  // The process may end as soon as this returns: the clean-up of a stop
  // (the temporary, this run's pieces) must be done by then. The window
  // then closes without a message.
  quitAfterStop_ = true;
  operation_->StopAndWait();
  if (questionOpen_) CloseQuestion(Handle());
}

void Frm_Bun::OnProgress(int percent) {
  SetWindowTextW(Handle(), (ModeCaption() + L"　" + std::to_wstring(percent) + L"%").c_str());
  taskbar_.Set(percent);
}

std::wstring Frm_Bun::ModeCaption() const { return IsJoinMode() ? kCaptionJoin : kCaptionSplit; }

void Frm_Bun::Reject(const Rejection& rejection, Operation operation) {
  ShowWarning(Handle(), MessageFor(rejection.reason, operation));
  if (const int target = FocusTarget(rejection.focus)) SetFocus(Control(target));
}

void Frm_Bun::Fail(const std::exception& error, Operation operation, const std::wstring& file) {
  if (const auto* vokError = dynamic_cast<const VokError*>(&error)) {
    ShowWarning(Handle(), MessageFor(*vokError, operation));
    return;
  }
  // Anything else (out of memory, a library error) is still a failed
  // operation on that file, and the user must learn of it, in Japanese.
  ShowWarning(Handle(), MessageFor(VokError(ErrorCode::IoFailed, file, UnexpectedFailureText(error)), operation));
}

}  // namespace vokram::ui
