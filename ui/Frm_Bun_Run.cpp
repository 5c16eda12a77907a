// The Run command: the checks of the mode's fields in their fixed order, then
// the engine's plan, the question before replacing files, and the engine's
// run, both under the wait pointer and off the window's thread, then
// "終了しました。".
#include <filesystem>
#include <optional>
#include <variant>

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
  if (!runner_.Run(Operation::Split, request.sourcePath, true, [&](BackgroundOperation&, const Progress& progress) {
        plan.emplace(PlanSplitFile(request.sourcePath, request.draw, options));
        progress.Step(0, 0);  // a stop asked for meanwhile
      })) {
    return;
  }
  if (plan->settled != Settlement::None) ShowNotice(Handle(), SettledMessage(plan->settled));
  if (const std::size_t existing = plan->ExistingCount(); existing > 0) {
    if (!AskToReplace(Handle(), ReplaceQuestion(existing))) return;
    options.replaceExisting = true;
  }
  SplitResult result;
  const bool done = runner_.Run(Operation::Split, request.sourcePath, true,
                                 [&](BackgroundOperation&, const Progress& progress) {
                                   result = SplitFile(*plan, options, progress);
                                 });
  if (!done) return;
  if (result.notRemoved.empty()) {
    ShowDone(Handle());
  } else {
    ShowWarning(Handle(), NotRemovedWarning(result.notRemoved.front()));
  }
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
  if (!runner_.Run(Operation::Join, request.vokPath, true, [&](BackgroundOperation&, const Progress& progress) {
        plan.emplace(PlanJoin(std::filesystem::path(request.vokPath), request.outputFolder));
        progress.Step(0, 0);  // a stop asked for meanwhile
      })) {
    return;
  }
  if (plan->settled != Settlement::None) ShowNotice(Handle(), SettledMessage(plan->settled));
  const bool replace = plan->output.exists;
  if (replace && !AskToReplace(Handle(), ReplaceQuestion(plan->output.path.filename()))) return;
  JoinResult result;
  const bool done = runner_.Run(Operation::Join, request.vokPath, true,
                                 [&](BackgroundOperation&, const Progress& progress) {
                                   result = JoinFile(*plan, replace, progress);
                                 });
  if (!done) return;
  if (result.matchesRecord && !result.notRemoved.empty()) {
    ShowWarning(Handle(), NotRemovedWarning(result.notRemoved.front()));
  } else if (result.matchesRecord) {
    ShowDone(Handle());
  } else if (result.keptOlderFile) {
    ShowWarning(Handle(), JoinNotReplacedMessage(result.outputPath.filename()));
  } else {
    ShowWarning(Handle(), MessageId::JoinMismatch);
  }
}

void Frm_Bun::OnProgress(int percent) {
  SetWindowTextW(Handle(), (ModeCaption() + L"　" + std::to_wstring(percent) + L"%").c_str());
}

std::wstring Frm_Bun::ModeCaption() const { return IsJoinMode() ? kCaptionJoin : kCaptionSplit; }

void Frm_Bun::Reject(const Rejection& rejection, Operation operation) {
  ShowWarning(Handle(), MessageFor(rejection.reason, operation));
  if (const int target = FocusTarget(rejection.focus)) SetFocus(Control(target));
}

}  // namespace vokram::ui
