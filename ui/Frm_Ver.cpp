#include "Frm_Ver.h"

#include <string>

#include "ControlIds.h"
#include "Controls.h"
#include "Dpi.h"
#include "MessageLoop.h"
#include "Resource.h"
#include "Version.h"

namespace vokram::ui {
namespace {

constexpr wchar_t kClassName[] = L"VokramFrmVer";
constexpr wchar_t kTitle[] = L"バージョン";
constexpr int kWidthTwips = 3960;
constexpr int kHeightTwips = 1620;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

constexpr ControlDef kControls[] = {
    // The icon keeps its natural size inside its box.
    {IDC_Image1, 0, L"STATIC", WS_VISIBLE | SS_ICON | SS_CENTERIMAGE | SS_REALSIZEIMAGE, 0, L"",
     360, 240, 480, 480},
    {IDC_lblVer, 0, L"STATIC", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, L"Vokram ", 1140,
     240, 2355, 315},
    {IDC_Ver_Label2, 0, L"STATIC", WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0,
     L"(C) 2002 Vokram Project", 1140, 540, 2535, 375},
    {IDC_Ver_cmdEnd, 0, L"BUTTON", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, L"OK", 1320, 1080,
     1455, 375},
};

HICON ProgramIcon(int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_VOKRAM),
                                       IMAGE_ICON, size, size, LR_SHARED));
}

}  // namespace

void Frm_Ver::ShowModal(HWND mainWindow) {
  Frm_Ver window(mainWindow);
  EnableWindow(mainWindow, FALSE);
  if (window.Create()) {
    RunModalLoop(window.Handle());
  }
  // Re-enabled before activation moves, so it goes back to the main window.
  EnableWindow(mainWindow, TRUE);
  SetActiveWindow(mainWindow);
}

bool Frm_Ver::Create() {
  RegisterClassOnce(kClassName, ProgramIcon(32),
                    ProgramIcon(GetSystemMetrics(SM_CXSMICON)));
  // Owned by the main window, so it stays above it and out of the taskbar.
  if (!CreateTopLevel(kClassName, kTitle, kStyle, kExStyle, 0, 0, 0, 0, mainWindow_, nullptr)) {
    return false;
  }
  if (!CreateControls(Handle(), kControls)) return false;
  SendMessageW(FindControl(Handle(), IDC_Image1), STM_SETICON,
               reinterpret_cast<WPARAM>(ProgramIcon(32)), 0);
  // Centred on the screen that shows the main window.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(mainWindow_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  SetWindowPos(Handle(), nullptr, monitor.rcWork.left, monitor.rcWork.top, 0, 0,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
  const UINT dpi = WindowDpi(Handle());
  ApplyDpi(dpi);
  RECT frame;
  GetWindowRect(Handle(), &frame);
  const RECT& work = monitor.rcWork;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(Handle(), nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);

  Form_Load();
  ShowWindow(Handle(), SW_SHOW);
  return true;
}

void Frm_Ver::ApplyDpi(UINT dpi) {
  // The old font is deleted only once no control holds it.
  UniqueFont font = CreateMessageFont(dpi);
  LayoutControls(Handle(), kControls, dpi, font.get());
  const SIZE size = WindowSizeForClient(kWidthTwips, kHeightTwips, kStyle, kExStyle, false, dpi);
  SetWindowPos(Handle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  font_ = std::move(font);
}

void Frm_Ver::Form_Load() {
  HWND label = FindControl(Handle(), IDC_lblVer);
  // Composed from the design text on every load, so it never accumulates.
  std::wstring text = GetText(label);
  text += L"Ver.";
  text += std::to_wstring(VOKRAM_VERSION_MAJOR);
  text += L".";
  text += std::to_wstring(VOKRAM_VERSION_MINOR);
  text += L".";
  text += std::to_wstring(VOKRAM_VERSION_REVISION);
  SetText(label, text);
}

void Frm_Ver::cmdEnd_Click() {
  EnableWindow(mainWindow_, TRUE);
  DestroyWindow(Handle());
}

LRESULT Frm_Ver::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      HWND button = FindControl(Handle(), IDC_Ver_cmdEnd);
      // Enter arrives as IDOK; it presses OK only because OK has the focus.
      // Esc (IDCANCEL) closes nothing.
      if ((id == IDC_Ver_cmdEnd && HIWORD(wParam) == BN_CLICKED) ||
          (id == IDOK && GetFocus() == button)) {
        cmdEnd_Click();
      }
      return 0;
    }
    case WM_ACTIVATE:
      // OK is the only control that takes the focus, and keeps it.
      if (LOWORD(wParam) != WA_INACTIVE) SetFocus(FindControl(Handle(), IDC_Ver_cmdEnd));
      return 0;
    case WM_CLOSE:
      cmdEnd_Click();
      return 0;
    case WM_DPICHANGED: {
      ApplyDpi(HIWORD(wParam));
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(Handle(), nullptr, suggested->left, suggested->top, 0, 0,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
      return 0;
    }
    default:
      break;
  }
  return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace vokram::ui
