#include "Frm_Bun.h"

#include "ControlIds.h"
#include "Dpi.h"
#include "Frm_BunLayout.h"
#include "Frm_Ver.h"
#include "MessageBoxes.h"
#include "Resource.h"
#include "TabOrder.h"

namespace vokram::ui {
namespace {

constexpr wchar_t kClassName[] = L"VokramFrmBun";
// A fixed frame: the design places every control for one client size.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

HMENU BuildMenuBar() {
  UniqueMenu menu(CreateMenu());
  if (!menu) return nullptr;
  // Plain commands on the bar itself: no submenus, access keys or shortcuts.
  AppendMenuW(menu.get(), MF_STRING, IDM_mnuBunkatsu, L"分割");
  AppendMenuW(menu.get(), MF_STRING, IDM_mnuKetsugou, L"結合");
  AppendMenuW(menu.get(), MF_STRING, IDM_mnuVer, L"バージョン");
  return menu.release();
}

}  // namespace

bool Frm_Bun::Create(int showCommand) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  auto icon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_VOKRAM), IMAGE_ICON, 32, 32, LR_SHARED));
  auto smallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VOKRAM), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  RegisterClassOnce(kClassName, icon, smallIcon);
  UniqueMenu menu(BuildMenuBar());
  const SIZE size = WindowSizeForClient(kFrmBunWidthTwips, kFrmBunHeightTwips, kStyle, kExStyle,
                                        true, GetDpiForSystem());
  if (!CreateTopLevel(kClassName, kCaptionSplit, kStyle, kExStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                      size.cx, size.cy, nullptr, menu.get())) {
    return false;
  }
  menu.release();  // the window owns its menu bar now
  // Before the window shows, which is when the shell first tells of its
  // taskbar button.
  runner_.Attach(Handle());
  if (!CreateControls(Handle(), FrmBunControls())) return false;
  AcceptDropsOnPathBoxes();
  SendMessageW(Control(IDC_chkVokFile), BM_SETCHECK, BST_CHECKED, 0);
  SendMessageW(Control(IDC_optSavePath0), BM_SETCHECK, BST_CHECKED, 0);
  ApplyDpi(WindowDpi(Handle()), nullptr);

  ShowWindow(Handle(), showCommand);
  UpdateWindow(Handle());
  return true;
}

bool Frm_Bun::IsJoinMode() const noexcept { return IsWindowVisible(Control(IDC_picKetsugou)) != FALSE; }

HWND Frm_Bun::Control(int id) const noexcept { return FindControl(Handle(), id); }

std::wstring Frm_Bun::FieldText(int id) const { return GetText(Control(id)); }

bool Frm_Bun::PreTranslateMessage(MSG& msg) {
  // Esc means one thing wherever the focus is. Left to the dialog navigation
  // it would reach the report box, which posts WM_CLOSE to its panel.
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
    OnCommand(IDCANCEL, BN_CLICKED);
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0 &&
      GetKeyState(VK_MENU) >= 0) {
    MoveFocusInTabOrder(GetKeyState(VK_SHIFT) < 0);
    return true;
  }
  return Window::PreTranslateMessage(msg);
}

bool Frm_Bun::CanTakeTabFocus(int id) const {
  HWND control = Control(id);
  if (!control || !IsWindowVisible(control) || !IsWindowEnabled(control)) return false;
  if (!(GetWindowLongPtrW(control, GWL_STYLE) & WS_TABSTOP)) return false;
  // As in a dialog, Tab reaches an option pair only at its selected option.
  if ((SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) != 0) {
    return SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  return true;
}

void Frm_Bun::MoveFocusInTabOrder(bool backward) {
  // Only a control has a place in the order; the window itself has none.
  HWND focus = GetFocus();
  const int current = focus && IsChild(Handle(), focus) ? GetDlgCtrlID(focus) : 0;
  const auto next = NextTabStop(FrmBunTabOrder(), current, backward,
                                [this](int id) { return CanTakeTabFocus(id); });
  if (!next) return;
  HWND control = Control(*next);
  SetFocus(control);
  // Like the dialog manager: a text box entered by Tab has its text selected.
  if ((SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) {
    SendMessageW(control, EM_SETSEL, 0, -1);
  }
}

void Frm_Bun::ApplyDpi(UINT dpi, const RECT* suggested) {
  // The controls hold the old font until each has the new one: it goes last.
  UniqueFont font = CreateMessageFont(dpi);
  LayoutControls(Handle(), FrmBunControls(), dpi, font.get());
  if (suggested) {
    SetWindowPos(Handle(), nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    const SIZE size =
        WindowSizeForClient(kFrmBunWidthTwips, kFrmBunHeightTwips, kStyle, kExStyle, true, dpi);
    SetWindowPos(Handle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  font_ = std::move(font);
}

void Frm_Bun::OnActivate(bool active) {
  if (!active) {
    HWND focus = GetFocus();
    if (focus && IsChild(Handle(), focus)) focusBeforeDeactivate_ = focus;
    return;
  }
  // Back from a message box or another program: the focus returns to the
  // control that had it, or goes to the first stop at start.
  if (focusBeforeDeactivate_ && IsWindow(focusBeforeDeactivate_) &&
      IsWindowVisible(focusBeforeDeactivate_)) {
    SetFocus(focusBeforeDeactivate_);
  } else {
    SetFocus(Handle());
    MoveFocusInTabOrder(false);  // from the window: the first stop
  }
}

LRESULT Frm_Bun::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (LRESULT result = 0; runner_.HandleMessage(message, wParam, lParam, result)) return result;
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam));
      return 0;
    case WM_SETCURSOR:
      // Controls ask their parents first, so this covers the whole window.
      if (runner_.WaitPointer()) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_DPICHANGED:
      ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_CLOSE:
      Form_Close();
      return 0;
    case WM_DESTROY:
      // The boxes still exist here; their drop registrations go first.
      drops_.clear();
      break;
    default:
      break;
  }
  return Window::HandleMessage(message, wParam, lParam);
}

void Frm_Bun::OnDestroyed() { PostQuitMessage(0); }

void Frm_Bun::OnCommand(int id, int notification) {
  // Anything that would start another action or close the window waits for
  // the running one, or for the window open over this one: it is dropped,
  // not queued.
  switch (id) {
    case IDM_mnuBunkatsu:
      if (Idle()) mnuBunkatsu_Click();
      return;
    case IDM_mnuKetsugou:
      if (Idle()) mnuKetsugou_Click();
      return;
    case IDM_mnuVer:
      if (Idle()) mnuVer_Click();
      return;
    default:
      break;
  }
  if (notification == EN_SETFOCUS && IsPathBox(id)) {
    txtPath_GotFocus(id);
    return;
  }
  if (notification != BN_CLICKED) return;
  switch (id) {
    case IDC_cmdRun:
      if (Idle()) cmdRun_Click();
      break;
    case IDC_cmdEnd:
      if (runner_.Busy()) {
        runner_.AskToStop(true);
      } else if (Idle()) {
        cmdEnd_Click();
      }
      break;
    case IDC_cmdChk:
      if (Idle()) cmdChk_Click();
      break;
    case IDC_cmdSrcRef0:
    case IDC_cmdSrcRef1:
      if (Idle()) cmdSrcRef_Click(id == IDC_cmdSrcRef0 ? 0 : 1);
      break;
    case IDC_cmdRef0:
    case IDC_cmdRef1:
      if (Idle()) cmdRef_Click(id == IDC_cmdRef0 ? 0 : 1);
      break;
    case IDC_optSavePath0:
    case IDC_optSavePath1:
      optSavePath_Click(id == IDC_optSavePath0 ? 0 : 1);
      break;
    case IDCANCEL:
      // Esc: nothing, unless an operation runs.
      if (runner_.Busy()) runner_.AskToStop(false);
      break;
    default:
      // IDOK from Enter lands here: no default button.
      break;
  }
}

void Frm_Bun::ShowPanel(int shownId, int hiddenId, const wchar_t* caption) {
  HWND hidden = Control(hiddenId);
  HWND focus = GetFocus();
  const bool focusHidden = focus && IsChild(hidden, focus);
  ShowWindow(hidden, SW_HIDE);
  ShowWindow(Control(shownId), SW_SHOW);
  SetWindowTextW(Handle(), caption);
  // Keys must not reach a control that can no longer be seen; the focus moves
  // on only in that case, as when a focused control disappears.
  if (focusHidden) MoveFocusInTabOrder(false);
}

void Frm_Bun::mnuBunkatsu_Click() { ShowPanel(IDC_picBunkatsu, IDC_picKetsugou, kCaptionSplit); }

void Frm_Bun::mnuKetsugou_Click() { ShowPanel(IDC_picKetsugou, IDC_picBunkatsu, kCaptionJoin); }

void Frm_Bun::mnuVer_Click() { Frm_Ver::ShowModal(Handle()); }

void Frm_Bun::cmdEnd_Click() { DestroyWindow(Handle()); }

void Frm_Bun::Form_Close() {
  if (runner_.Busy()) {
    runner_.AskToStop(true);
  } else if (Idle()) {
    DestroyWindow(Handle());
  }
}

bool Frm_Bun::Idle() const noexcept {
  // A modal window of ours disables this one. Only another program reaches
  // it then (a posted click, a task list's close), and whatever it started
  // would run inside that window's loop, under code that waits for it.
  return !runner_.Busy() && IsWindowEnabled(Handle());
}

// The selection itself is all an option click does; Run reads it.
void Frm_Bun::optSavePath_Click(int /*index*/) {}

}  // namespace vokram::ui
