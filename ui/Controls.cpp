#include "Controls.h"

#include <algorithm>

#include "Dpi.h"
#include "Window.h"

namespace vokram::ui {
namespace {

LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
      // Handlers live on the top-level window, whatever panel holds a control.
      return SendMessageW(GetAncestor(hwnd, GA_ROOT), message, wParam, lParam);
    case WM_CLOSE:
      // A panel is never closed on its own: the default would destroy it with
      // its controls. (A multi-line box posts this on Esc in dialog
      // navigation; the window handles Esc before any control sees it.)
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

void RegisterPanelClassOnce() { RegisterWindowClassOnce(kPanelClass, PanelProc); }

struct FindState {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND hwnd, LPARAM param) {
  auto* state = reinterpret_cast<FindState*>(param);
  if (GetDlgCtrlID(hwnd) == state->id) {
    state->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND ParentOf(HWND window, int parentId) {
  return parentId == 0 ? window : FindControl(window, parentId);
}

}  // namespace

bool CreateControls(HWND window, std::span<const ControlDef> defs) {
  RegisterPanelClassOnce();
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const ControlDef& def : defs) {
    HWND control = CreateWindowExW(def.exStyle, def.className, def.text, WS_CHILD | def.style, 0, 0, 0,
                                   0, ParentOf(window, def.parentId),
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(def.id)), instance,
                                   nullptr);
    if (!control) return false;
    if (wcscmp(def.className, L"EDIT") == 0) {
      // Text boxes have no input limit (the default stops at 32767 characters).
      SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
    }
  }
  return true;
}

void LayoutControls(HWND window, std::span<const ControlDef> defs, UINT dpi, HFONT font) {
  for (const ControlDef& def : defs) {
    HWND control = FindControl(window, def.id);
    if (!control) continue;
    const int left = TwipsToPixels(def.left, dpi);
    const int top = TwipsToPixels(def.top, dpi);
    // Right and bottom edges are rounded on their own, so neighbours meet.
    const int right = TwipsToPixels(def.left + def.width, dpi);
    const int bottom = TwipsToPixels(def.top + def.height, dpi);
    // The font first: a control sizes itself by the font it holds.
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowPos(control, nullptr, left, top, (std::max)(right - left, 1),
                 (std::max)(bottom - top, 1), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  InvalidateRect(window, nullptr, TRUE);
}

HWND FindControl(HWND window, int id) noexcept {
  // Without a window EnumChildWindows would walk every top-level window of
  // the desktop, other programs' included.
  if (!window) return nullptr;
  FindState state{id, nullptr};
  EnumChildWindows(window, MatchId, reinterpret_cast<LPARAM>(&state));
  return state.found;
}

std::wstring GetText(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)), L'\0');
  if (!text.empty()) {
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(),
                                                        static_cast<int>(text.size()) + 1)));
  }
  return text;
}

void SetText(HWND control, const std::wstring& text) { SetWindowTextW(control, text.c_str()); }

void AppendText(HWND textBox, const std::wstring& text) {
  const auto end = static_cast<WPARAM>(GetWindowTextLengthW(textBox));
  SendMessageW(textBox, EM_SETSEL, end, static_cast<LPARAM>(end));
  SendMessageW(textBox, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace vokram::ui
