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
#include "Requests.h"
#include "Window.h"

namespace vokram::ui {

class Frm_Bun : public Window {
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

  // The Run command (Frm_Bun_Run.cpp).
  void RunSplit();
  void RunJoin();
  void Reject(const Rejection& rejection, Operation operation);

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
  bool tidying_ = false;
};

}  // namespace vokram::ui
