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

void WaitAnsweringSentMessages(HANDLE object) {
  for (;;) {
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(1, &object, INFINITE, QS_SENDMESSAGE | QS_PAINT, MWMO_INPUTAVAILABLE);
    if (woke != WAIT_OBJECT_0 + 1) return;
    // Sent messages are handled inside PeekMessageW itself; the filter leaves
    // posted messages, input and WM_QUIT in the queue.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      DispatchMessageW(&msg);
    }
  }
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
