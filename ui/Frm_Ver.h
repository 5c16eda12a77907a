// The version window: the icon, "Vokram Ver.<major>.<minor>.<revision>" and a
// credit line, closed by OK. Shown modally over the main window.
#pragma once

#include <windows.h>

#include "Handles.h"
#include "Window.h"

namespace vokram::ui {

class Frm_Ver : public Window {
 public:
  // Loads the window from its design, shows it centred and returns once it
  // is closed; the main window takes no input meanwhile.
  static void ShowModal(HWND mainWindow);

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  explicit Frm_Ver(HWND mainWindow) : mainWindow_(mainWindow) {}
  bool Create();
  void ApplyDpi(UINT dpi);
  void Form_Load();
  void cmdEnd_Click();

  HWND mainWindow_;
  UniqueFont font_;
};

}  // namespace vokram::ui
