// The main window: the split and join panels, the menu bar, the Run and End
// buttons and the piece check. All lasting state lives in its controls; the
// mode is whether picKetsugou is visible.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BackgroundOperation.h"
#include "DropTarget.h"
#include "Handles.h"
#include "Requests.h"
#include "Taskbar.h"
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
  void Fail(const std::exception& error, Operation operation, const std::wstring& file);

  // Runs an engine call off the window's thread, the window answering and its
  // caption and taskbar button showing the progress, and returns once it has
  // ended. True when it completed; after a failure or a stop it has shown the
  // message, or closed the window without one: when a stop was asked for to
  // quit, or the session or the program ends.
  using Work = std::function<void(BackgroundOperation&, const Progress&)>;
  bool RunOperation(Operation operation, const std::wstring& file, bool waitPointer, const Work& work);
  // Esc, End and the title bar's close while an operation runs. One
  // question at a time: a close while it shows makes its Yes stop and quit.
  void AskToStop(bool quit);
  // The session ends (logoff, shutdown): a running operation stops and
  // cleans up before this returns.
  void OnEndSession();
  // No operation runs and no window of ours (a message, a picker, the
  // version window) is open over this one, so a command may start.
  bool Idle() const noexcept;
  void OnProgress(int percent);
  std::wstring ModeCaption() const;

  // Declared before the drops: they are revoked while OLE is still up.
  OleSession ole_;
  std::vector<std::unique_ptr<BoxDrops>> drops_;
  UniqueFont font_;
  HWND focusBeforeDeactivate_ = nullptr;
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
  bool tidying_ = false;
};

}  // namespace vokram::ui
