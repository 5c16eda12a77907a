// The Run and Check commands: the flows of split, join and check, answered
// with the window's fields, message boxes and report, their steps under the
// runner.
#include <filesystem>
#include <optional>

#include "Frm_BunLayout.h"
#include "ControlIds.h"
#include "Controls.h"
#include "Frm_Bun.h"
#include "MessageBoxes.h"

namespace vokram::ui {
namespace {

bool IsChecked(HWND button) { return SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// Where each Focus sends the keyboard (0: nowhere new).
int FocusTarget(Focus focus) {
  constexpr int kTargets[] = {0, IDC_txtMinSize, IDC_txtMaxSize, IDC_txtDstFileName, IDC_txtRecovery};
  return kTargets[static_cast<int>(focus)];
}

}  // namespace

void Frm_Bun::cmdRun_Click() {
  if (IsJoinMode()) {
    RunJoin({FieldText(IDC_txtVokFile), FieldText(IDC_txtSaveDir), IsChecked(Control(IDC_optSavePath0))}, {},
            *this);
    return;
  }
  // The split writes what the check boxes say at the moment Run is pressed.
  std::optional<NativeString> recovery;
  if (IsChecked(Control(IDC_chkRecovery))) recovery = FieldText(IDC_txtRecovery);
  RunSplit({FieldText(IDC_txtSrcFile), FieldText(IDC_txtDstdir), FieldText(IDC_txtDstFileName),
            FieldText(IDC_txtMinSize), FieldText(IDC_txtMaxSize), recovery},
           {IsChecked(Control(IDC_chkVokFile)), IsChecked(Control(IDC_chkBatFile))}, *this);
}

void Frm_Bun::cmdChk_Click() { RunCheck(FieldText(IDC_txtVokFile), *this); }

std::exception_ptr Frm_Bun::Run(Operation operation, const Work& work, bool& gone) {
  const bool check = operation == Operation::Check;
  HWND report = Control(IDC_txtChkCRC);
  if (check) {
    // A new check replaces the last report; its lines come in batches, as the
    // window takes them (appending to a long text costs time in proportion
    // to it). The report is the check's while it runs: a key, a paste or
    // Enter typed into it would land between its lines.
    SetText(report, L"");
    SendMessageW(report, EM_SETREADONLY, TRUE, 0);
  }
  // A check shows its progress in its report, without the wait pointer.
  const std::exception_ptr failure =
      runner_.Run(operation, !check, [&](BackgroundOperation& background, const Progress& progress) {
        background_ = &background;
        work(progress);
      }, gone);
  background_ = nullptr;
  if (check && !gone) {
    SendMessageW(report, EM_SETREADONLY, FALSE, 0);
    // The report is read from its first piece: lines were appended at its end.
    SendMessageW(report, EM_SETSEL, 0, 0);
    SendMessageW(report, EM_SCROLLCARET, 0, 0);
  }
  return failure;
}

void Frm_Bun::Refuse(const std::string& text, Focus focus) {
  ShowWarning(Handle(), text);
  if (const int target = FocusTarget(focus)) SetFocus(Control(target));
}

void Frm_Bun::ShowBaseName(const NativeString& base) { SetText(Control(IDC_txtDstFileName), base); }

void Frm_Bun::Notice(const std::string& text) { ShowNotice(Handle(), text); }

bool Frm_Bun::AskToReplace(const std::string& question, const std::filesystem::path&) {
  return ui::AskToReplace(Handle(), question);
}

void Frm_Bun::Pending(const std::string& text) { background_->AddLine(NativeFromUtf8(text + "\r\n")); }

void Frm_Bun::Report(const PieceReport& piece) { background_->AddLine(NativeFromUtf8(ReportLine(piece))); }

void Frm_Bun::Conclude(const std::string& text) { Pending(text); }

void Frm_Bun::End(Ending ending, const std::string& text) {
  switch (ending) {
    case Ending::Done:
      ShowNotice(Handle(), text);  // 終了しました。 and what it did
      break;
    case Ending::Failed:
    case Ending::FolderChanged:
    case Ending::Stopped:
      runner_.ShowFailure(text, ending == Ending::Stopped);
      break;
    default:
      ShowWarning(Handle(), text);
  }
}

void Frm_Bun::OnProgress(int percent) {
  SetWindowTextW(Handle(), (ModeCaption() + L"　" + std::to_wstring(percent) + L"%").c_str());
}

std::wstring Frm_Bun::ModeCaption() const { return IsJoinMode() ? kCaptionJoin : kCaptionSplit; }

}  // namespace vokram::ui
