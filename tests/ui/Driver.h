// Drives a running Vokram.exe from another process, as a user would, through
// its controls: texts are set and read with window messages, buttons are
// clicked with posted BM_CLICK (so a message box cannot block the driver),
// and message boxes are found, read and answered.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vokram::uitest {

struct MessageBoxSeen {
  HWND box = nullptr;
  std::wstring title;
  std::wstring text;
};

std::string Utf8(const std::wstring& text);

class VokramProcess {
 public:
  // Starts Vokram.exe and waits for its main window; throws when it does not
  // appear.
  VokramProcess();
  // Another build of the window (SlowVokram.cpp) and its command line.
  VokramProcess(const std::wstring& exe, const std::wstring& arguments);
  ~VokramProcess();
  VokramProcess(const VokramProcess&) = delete;
  VokramProcess& operator=(const VokramProcess&) = delete;

  HWND Main() const { return main_; }
  HWND Control(int id) const;
  DWORD ProcessId() const { return process_.dwProcessId; }

  std::wstring Caption() const;
  std::wstring Text(int id) const;
  void SetText(int id, const std::wstring& text);
  bool IsChecked(int id) const;
  void SetChecked(int id, bool checked);
  bool IsVisible(int id) const;
  bool IsEnabled(HWND window) const;

  // Posted, for clicks that may open a modal window.
  void Click(int id);
  void Menu(int menuId);
  // Sent: returns once the program has handled it. Only for actions that
  // open no modal window.
  void ClickAndWait(int id);
  void MenuAndWait(int menuId);
  // A key press posted to the control that has the focus. Posted messages
  // are handled in order, so a later posted click shows when it was handled.
  void PressKey(UINT virtualKey);
  // The ID of the control that has the focus in the program (0 for none).
  int FocusedId() const;
  // Waits until the focus leaves control `id`; the new focus.
  int WaitForFocusOtherThan(int id, DWORD timeoutMs = 5000) const;

  // Waits until the program has handled what was sent before.
  void Sync() const;

  // The next message box of the program, waiting up to the timeout.
  std::optional<MessageBoxSeen> WaitForMessageBox(DWORD timeoutMs = 20000) const;
  // Presses OK (or another of its buttons: IDYES, IDNO) and waits for the box
  // to close.
  void PressOk(const MessageBoxSeen& box, int button = IDOK) const;
  // Clicks the button and returns the box it shows, answered.
  MessageBoxSeen ClickAndAnswer(int id, int button = IDOK);
  MessageBoxSeen RunAndAnswer(int button = IDOK);
  // True when no box is open once the program has caught up.
  bool NoMessageBox() const;
  // Waits until a control shows exactly this text.
  bool WaitForText(int id, const std::wstring& text, DWORD timeoutMs = 30000) const;

  // A dialog of the program owned by its main window (a picker), waiting up
  // to the timeout.
  HWND WaitForDialog(DWORD timeoutMs = 20000) const;
  // Presses a dialog's button (IDOK, IDCANCEL) and waits for it to close.
  void CloseDialog(HWND dialog, int buttonId) const;
  // Selects a folder in an open folder browser and waits until its tree shows it.
  bool SelectFolder(HWND folderBrowser, const std::wstring& path);
  std::wstring SelectedTreeItemText(HWND folderBrowser) const;

  // The shell's plain file drop: WM_DROPFILES with the list written into the
  // program's memory. The program reads it as its own; Wine allows this,
  // Windows would not. Returns once the program has handled it.
  void DropFiles(int id, const std::vector<std::wstring>& paths);

  // The selection of a text box: first and one past the last character.
  std::pair<int, int> Selection(int id) const;

  // A top-level window of the program by title.
  HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs = 20000) const;

  // Waits for the process to end; its exit code, or nothing on timeout.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs = 20000);

 private:
  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
};

// A path the build gives in Unix form, as Wine names it (drive Z:); other
// paths unchanged.
std::wstring FromUnixPath(std::wstring path);

// Text of any window of another process (edit controls included).
std::wstring WindowText(HWND window);

// The texts of a window's static controls, in their order.
std::vector<std::wstring> StaticTexts(HWND window);

// Bytes written into another process, freed with the object.
class RemoteMemory {
 public:
  RemoteMemory(HANDLE process, const void* bytes, std::size_t size);
  ~RemoteMemory();
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;
  void* Address() const { return address_; }

 private:
  HANDLE process_;
  void* address_ = nullptr;
};

// Saves an area of the screen as a 24-bit BMP file.
bool SaveScreenBitmap(const RECT& area, const std::wstring& path);
// Saves the screen area of a window.
bool SaveWindowBitmap(HWND window, const std::wstring& path);

}  // namespace vokram::uitest
