// The base of both windows: one static window procedure that finds the C++
// object and forwards every message to it, so handlers are member functions
// named after their control and event.
#pragma once

#include <windows.h>

namespace vokram::ui {

// Registers a window class of this program (arrow pointer, dialog
// background) unless it is registered already.
void RegisterWindowClassOnce(const wchar_t* className, WNDPROC procedure, HICON icon = nullptr,
                             HICON smallIcon = nullptr);

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  HWND Handle() const noexcept { return hwnd_; }

  // The object behind a window of one of our classes; nullptr for others.
  static Window* FromHandle(HWND hwnd) noexcept;

  // Keyboard navigation for a message bound for this window or one of its
  // controls; true when the message was consumed.
  virtual bool PreTranslateMessage(MSG& msg);

 protected:
  // Registers the class once per process; every class uses WndProc.
  static void RegisterClassOnce(const wchar_t* className, HICON icon, HICON smallIcon);
  // Creates the window with this object as its creation parameter.
  HWND CreateTopLevel(const wchar_t* className, const wchar_t* title, DWORD style, DWORD exStyle,
                      int x, int y, int width, int height, HWND owner, HMENU menu);

  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Called once the window is destroyed; hwnd_ is already cleared.
  virtual void OnDestroyed() {}

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
};

}  // namespace vokram::ui
