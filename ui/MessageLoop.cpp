#include "MessageLoop.h"

#include "Window.h"

namespace vokram::ui {

void TranslateAndDispatch(MSG& msg) {
  if (msg.hwnd) {
    if (Window* window = Window::FromHandle(GetAncestor(msg.hwnd, GA_ROOT))) {
      if (window->PreTranslateMessage(msg)) return;
    }
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

bool PumpPendingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    TranslateAndDispatch(msg);
  }
  return true;
}

int RunMessageLoop() {
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    TranslateAndDispatch(msg);
  }
  return static_cast<int>(msg.wParam);
}

void RunModalLoop(HWND window) {
  MSG msg;
  while (IsWindow(window)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) return;
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateAndDispatch(msg);
  }
}

}  // namespace vokram::ui
