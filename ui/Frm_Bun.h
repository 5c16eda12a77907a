// The main window: the split and join panels, the menu bar, the Run and End
// buttons and the piece check. All lasting state lives in its controls; the
// mode is whether picKetsugou is visible.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DropTarget.h"
#include "ControlIds.h"
#include "Controls.h"
#include "Handles.h"
#include "OperationRunner.h"
#include "Operations.h"
#include "Window.h"

namespace vokram::ui {

class Frm_Bun : public Window, private OperationView {
 public:
  // Creates the window in its design state and shows it.
  bool Create(int showCommand);

  bool IsJoinMode() const noexcept;
  HWND Control(int id) const noexcept;

  bool PreTranslateMessage(MSG& msg) override;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroyed() override;

 private:
  void OnCommand(int id, int notification);
  void OnActivate(bool active);
  void ApplyDpi(UINT dpi, const RECT* suggested);
  bool CanTakeTabFocus(int id) const;
  void MoveFocusInTabOrder(bool backward);
  void ShowPanel(int shownId, int hiddenId, const wchar_t* caption);
  std::wstring FieldText(int id) const;

  // The path boxes (Frm_Bun_Paths.cpp).
  static bool IsPathBox(int id) noexcept;
  void AcceptDropsOnPathBoxes();
  void KeepFocusOn(int buttonId);

  // Handlers, named after control and event.
  void mnuBunkatsu_Click();
  void mnuKetsugou_Click();
  void mnuVer_Click();
  void cmdRun_Click();
  void cmdEnd_Click();
  void cmdChk_Click();
  void cmdSrcRef_Click(int index);
  void cmdRef_Click(int index);
  void optSavePath_Click(int index);
  // One handler for each family of four: the box is the argument.
  void txtPath_GotFocus(int id);
  void txtPath_OLEDragDrop(HWND box, const std::vector<std::wstring>& paths);
  void Form_Close();

  // The flows' answers (Frm_Bun_Run.cpp): steps through the runner, texts in
  // message boxes and the check's report.
  std::exception_ptr Run(Operation operation, const Work& work, bool& gone) override;
  void Refuse(const std::string& text, Focus focus) override;
  void ShowBaseName(const NativeString& base) override;
  void Notice(const std::string& text) override;
  bool AskToReplace(const std::string& question, const std::filesystem::path& first) override;
  void Pending(const std::string& text) override;
  void Report(const PieceReport& piece) override;
  void Conclude(const std::string& text) override;
  void End(Ending ending, const std::string& text) override;

  // No operation runs and no window of ours (a message, a picker, the
  // version window) is open over this one, so a command may start.
  bool Idle() const noexcept;
  void OnProgress(int percent);
  std::wstring ModeCaption() const;

  // Declared before the drops: they are revoked while OLE is still up.
  OleSession ole_{SUCCEEDED(OleInitialize(nullptr))};
  std::vector<std::unique_ptr<BoxDrops>> drops_;
  UniqueFont font_;
  HWND focusBeforeDeactivate_ = nullptr;
  // Every split, join and check runs through it; the caption and the report
  // box show what it hears.
  OperationRunner runner_{{
      [this](int percent) { OnProgress(percent); },
      [this](const std::wstring& lines) { AppendText(Control(IDC_txtChkCRC), lines); },
      [this] { SetWindowTextW(Handle(), ModeCaption().c_str()); },
  }};
  // The step running, for the check's lines from its thread.
  BackgroundOperation* background_ = nullptr;
  bool tidying_ = false;
};

}  // namespace vokram::ui
