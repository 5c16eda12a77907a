#include "Window.h"

namespace vokram::ui {

Window::~Window() {
  if (hwnd_) {
    // The procedure must not reach a destroyed object.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

Window* Window::FromHandle(HWND hwnd) noexcept {
  if (!hwnd || GetWindowLongPtrW(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&Window::WndProc)) {
    return nullptr;
  }
  return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

bool Window::PreTranslateMessage(MSG& msg) { return IsDialogMessageW(hwnd_, &msg) != FALSE; }

void RegisterWindowClassOnce(const wchar_t* className, WNDPROC procedure, HICON icon, HICON smallIcon) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, className, &existing)) return;

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hIconSm = smallIcon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);
}

void Window::RegisterClassOnce(const wchar_t* className, HICON icon, HICON smallIcon) {
  RegisterWindowClassOnce(className, &Window::WndProc, icon, smallIcon);
}

HWND Window::CreateTopLevel(const wchar_t* className, const wchar_t* title, DWORD style,
                            DWORD exStyle, int x, int y, int width, int height, HWND owner,
                            HMENU menu) {
  return CreateWindowExW(exStyle, className, title, style, x, y, width, height, owner, menu,
                         GetModuleHandleW(nullptr), this);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);

  LRESULT result = 0;
  // An exception must not unwind through the system's code that called us.
  try {
    result = self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    // The default for a close destroys the window, whatever runs in it:
    // a close whose handler failed closes nothing.
    result = message == WM_CLOSE ? 0 : DefWindowProcW(hwnd, message, wParam, lParam);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    self->OnDestroyed();
  }
  return result;
}

}  // namespace vokram::ui
