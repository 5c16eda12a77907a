#include "Driver.h"

#include <shlobj.h>
#include <commctrl.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ControlIds.h"
#include "Controls.h"
#include "DragDrop.h"

namespace vokram::uitest {
namespace {

using Clock = std::chrono::steady_clock;

std::wstring VokramExePath() {
  const std::string path = VOKRAM_EXE;
  return FromUnixPath(std::wstring(path.begin(), path.end()));
}

template <typename Predicate>
bool WaitUntil(DWORD timeoutMs, Predicate done) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

struct WindowSearch {
  DWORD processId;
  const wchar_t* className;  // nullptr: any
  const std::wstring* title; // nullptr: any
  HWND owner;                // nullptr: any
  HWND found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != search->processId || !IsWindowVisible(hwnd)) return TRUE;
  if (search->className) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    if (std::wstring(name) != search->className) return TRUE;
  }
  if (search->owner && GetWindow(hwnd, GW_OWNER) != search->owner) return TRUE;
  if (search->title && WindowText(hwnd) != *search->title) return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND FindTopLevel(WindowSearch search) {
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}


// What a test needs to know when a program's window is not where it should
// be: whether the process still runs, and every top-level window it has.
struct ProcessWindows {
  DWORD processId;
  std::string list;
};

BOOL CALLBACK ListWindow(HWND hwnd, LPARAM param) {
  auto* windows = reinterpret_cast<ProcessWindows*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != windows->processId) return TRUE;
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  // The caption as the window manager holds it: sending WM_GETTEXT could
  // wait on the very thread that is stuck.
  wchar_t caption[128] = {};
  InternalGetWindowText(hwnd, caption, 128);
  DWORD_PTR ignored = 0;
  const bool answers =
      SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored) != 0;
  windows->list += " [" + Utf8(name) + " \"" + Utf8(caption) + "\"" +
                   (IsWindowVisible(hwnd) ? " visible" : " hidden") +
                   (answers ? "" : " not answering") + "]";
  return TRUE;
}

// "running" or "exited with N", and every top-level window of the process.
std::string DescribeProcess(const PROCESS_INFORMATION& process) {
  DWORD code = 0;
  std::string state = GetExitCodeProcess(process.hProcess, &code) && code != STILL_ACTIVE
                          ? "exited with " + std::to_string(code)
                          : "running";
  ProcessWindows windows{process.dwProcessId, {}};
  EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&windows));
  return state + ", windows:" + (windows.list.empty() ? " none" : windows.list);
}

}  // namespace

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring FromUnixPath(std::wstring path) {
  // Wine shows the Unix root as drive Z:.
  if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return L"<no answer>";
  }
  std::vector<wchar_t> buffer(length + 1);
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, 5000, &copied);
  return std::wstring(buffer.data(), copied);
}

VokramProcess::VokramProcess() : VokramProcess(VokramExePath(), L"") {}

VokramProcess::VokramProcess(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process_)) {
    throw std::runtime_error("Vokram.exe did not start");
  }
  const auto started = Clock::now();
  const DWORD idle = WaitForInputIdle(process_.hProcess, 20000);
  const auto idleMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  const std::wstring title = L"Vokram　－　分割";
  WaitUntil(20000, [&] {
    main_ = FindTopLevel({process_.dwProcessId, nullptr, &title, nullptr});
    return main_ != nullptr;
  });
  if (!main_) {
    throw std::runtime_error("the main window did not appear (WaitForInputIdle " +
                             std::to_string(idle) + " after " + std::to_string(idleMs.count()) +
                             " ms; " + DescribeProcess(process_) + ")");
  }
  Sync();
}

VokramProcess::~VokramProcess() {
  if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

HWND VokramProcess::Control(int id) const { return ui::FindControl(main_, id); }

std::wstring VokramProcess::Caption() const { return WindowText(main_); }

std::wstring VokramProcess::Text(int id) const { return WindowText(Control(id)); }

void VokramProcess::SetText(int id, const std::wstring& text) {
  SendMessageTimeoutW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      SMTO_ABORTIFHUNG, 5000, nullptr);
}

bool VokramProcess::IsChecked(int id) const {
  DWORD_PTR state = 0;
  SendMessageTimeoutW(Control(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
  return state == BST_CHECKED;
}

void VokramProcess::SetChecked(int id, bool checked) {
  if (IsChecked(id) != checked) ClickAndWait(id);
}

bool VokramProcess::IsVisible(int id) const { return IsWindowVisible(Control(id)) != FALSE; }

bool VokramProcess::IsEnabled(HWND window) const { return IsWindowEnabled(window) != FALSE; }

void VokramProcess::Click(int id) { PostMessageW(Control(id), BM_CLICK, 0, 0); }

void VokramProcess::ClickAndWait(int id) {
  SendMessageTimeoutW(Control(id), BM_CLICK, 0, 0, SMTO_NORMAL, 10000, nullptr);
}

void VokramProcess::Menu(int menuId) { PostMessageW(main_, WM_COMMAND, MAKEWPARAM(menuId, 0), 0); }

void VokramProcess::MenuAndWait(int menuId) {
  SendMessageTimeoutW(main_, WM_COMMAND, MAKEWPARAM(menuId, 0), 0, SMTO_NORMAL, 10000, nullptr);
}

void VokramProcess::PressKey(UINT virtualKey) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(process_.dwThreadId, &info);
  HWND target = info.hwndFocus ? info.hwndFocus : main_;
  const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, virtualKey, 1 | (scan << 16) | (3u << 30));
}

int VokramProcess::WaitForFocusOtherThan(int id, DWORD timeoutMs) const {
  int focused = FocusedId();
  WaitUntil(timeoutMs, [&] { return (focused = FocusedId()) != id; });
  return focused;
}

int VokramProcess::FocusedId() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(process_.dwThreadId, &info) || !info.hwndFocus) return 0;
  return GetDlgCtrlID(info.hwndFocus);
}

void VokramProcess::Sync() const {
  // A sent message is handled only where the program next asks for messages:
  // back in its loop, or in the loop of a box it has just opened.
  SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, nullptr);
}

std::optional<MessageBoxSeen> VokramProcess::WaitForMessageBox(DWORD timeoutMs) const {
  HWND box = nullptr;
  WaitUntil(timeoutMs, [&] {
    box = FindTopLevel({process_.dwProcessId, L"#32770", nullptr, main_});
    return box != nullptr;
  });
  if (!box) return std::nullopt;
  // The text is set while the box initialises; wait until it is there.
  HWND text = GetDlgItem(box, 0xFFFF);
  WaitUntil(5000, [&] { return text && !WindowText(text).empty(); });
  return MessageBoxSeen{box, WindowText(box), text ? WindowText(text) : L""};
}

void VokramProcess::PressOk(const MessageBoxSeen& box, int button) const {
  PostMessageW(box.box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box.box, button)));
  WaitUntil(10000, [&] { return !IsWindow(box.box); });
  Sync();
}

MessageBoxSeen VokramProcess::RunAndAnswer(int button) { return ClickAndAnswer(ui::IDC_cmdRun, button); }

MessageBoxSeen VokramProcess::ClickAndAnswer(int id, int button) {
  Click(id);
  auto box = WaitForMessageBox();
  if (!box) return {nullptr, L"<no box>", L"<no box>"};
  PressOk(*box, button);
  return *box;
}

bool VokramProcess::NoMessageBox() const {
  Sync();
  return FindTopLevel({process_.dwProcessId, L"#32770", nullptr, main_}) == nullptr;
}

bool VokramProcess::WaitForText(int id, const std::wstring& text, DWORD timeoutMs) const {
  return WaitUntil(timeoutMs, [&] { return Text(id) == text; });
}

HWND VokramProcess::WaitForDialog(DWORD timeoutMs) const {
  HWND found = nullptr;
  WaitUntil(timeoutMs, [&] {
    found = FindTopLevel({process_.dwProcessId, L"#32770", nullptr, main_});
    return found != nullptr;
  });
  return found;
}

void VokramProcess::CloseDialog(HWND dialog, int buttonId) const {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, buttonId)));
  WaitUntil(10000, [&] { return !IsWindow(dialog); });
  Sync();
}

bool VokramProcess::SelectFolder(HWND folderBrowser, const std::wstring& path) {
  RemoteMemory text(process_.hProcess, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  if (!text.Address()) return false;
  const std::wstring leaf = path.substr(path.find_last_of(L'\\') + 1);
  // The browser expands its tree down to the folder after the message returns;
  // pressing OK before the selection arrives would confirm a parent folder.
  // Now and then (about one time in ten under Wine) a request sent just after
  // the browser opened selects nothing at all, so it is asked again.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    if (SendMessageTimeoutW(folderBrowser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(text.Address()),
                            SMTO_NORMAL, 10000, nullptr) == 0) {
      return false;
    }
    if (WaitUntil(2000, [&] { return SelectedTreeItemText(folderBrowser) == leaf; })) return true;
  }
  return false;
}

std::wstring VokramProcess::SelectedTreeItemText(HWND folderBrowser) const {
  HWND tree = FindWindowExW(folderBrowser, nullptr, L"SysTreeView32", nullptr);
  if (!tree) return {};
  DWORD_PTR item = 0;
  if (!SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_NORMAL, 5000, &item) || !item) return {};
  // The item's text is copied into a buffer in the program's own memory.
  constexpr std::size_t kChars = MAX_PATH;
  const std::vector<wchar_t> empty(kChars, L'\0');
  RemoteMemory buffer(process_.hProcess, empty.data(), kChars * sizeof(wchar_t));
  TVITEMW query{};
  query.mask = TVIF_TEXT;
  query.hItem = reinterpret_cast<HTREEITEM>(item);
  query.pszText = static_cast<wchar_t*>(buffer.Address());
  query.cchTextMax = static_cast<int>(kChars);
  RemoteMemory remoteQuery(process_.hProcess, &query, sizeof query);
  if (!buffer.Address() || !remoteQuery.Address()) return {};
  DWORD_PTR ok = 0;
  if (!SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remoteQuery.Address()), SMTO_NORMAL,
                           5000, &ok) || !ok) {
    return {};
  }
  std::vector<wchar_t> read(kChars, L'\0');
  SIZE_T got = 0;
  if (!ReadProcessMemory(process_.hProcess, buffer.Address(), read.data(), kChars * sizeof(wchar_t), &got)) return {};
  read.back() = L'\0';
  return std::wstring(read.data());
}

void VokramProcess::DropFiles(int id, const std::vector<std::wstring>& paths) {
  const std::vector<BYTE> list = FileListBytes(paths);
  RemoteMemory block(process_.hProcess, list.data(), list.size());
  // Sent, not posted: the block must outlive the handling.
  SendMessageTimeoutW(Control(id), WM_DROPFILES, reinterpret_cast<WPARAM>(block.Address()), 0,
                      SMTO_NORMAL, 10000, nullptr);
}

std::pair<int, int> VokramProcess::Selection(int id) const {
  DWORD_PTR packed = 0;
  SendMessageTimeoutW(Control(id), EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &packed);
  return {LOWORD(packed), HIWORD(packed)};
}

HWND VokramProcess::WaitForWindow(const std::wstring& title, DWORD timeoutMs) const {
  HWND found = nullptr;
  WaitUntil(timeoutMs, [&] {
    found = FindTopLevel({process_.dwProcessId, nullptr, &title, nullptr});
    return found != nullptr;
  });
  return found;
}

std::optional<DWORD> VokramProcess::WaitForExit(DWORD timeoutMs) {
  if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

std::vector<std::wstring> StaticTexts(HWND window) {
  std::vector<std::wstring> texts;
  EnumChildWindows(
      window,
      [](HWND child, LPARAM out) -> BOOL {
        wchar_t name[16] = {};
        GetClassNameW(child, name, 16);
        if (_wcsicmp(name, L"static") == 0) {
          reinterpret_cast<std::vector<std::wstring>*>(out)->push_back(WindowText(child));
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

RemoteMemory::RemoteMemory(HANDLE process, const void* bytes, std::size_t size) : process_(process) {
  address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (address_ && !WriteProcessMemory(process_, address_, bytes, size, nullptr)) {
    VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    address_ = nullptr;
  }
}

RemoteMemory::~RemoteMemory() {
  if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

bool SaveWindowBitmap(HWND window, const std::wstring& path) {
  RECT rect;
  return GetWindowRect(window, &rect) && SaveScreenBitmap(rect, path);
}

bool SaveScreenBitmap(const RECT& rect, const std::wstring& path) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);

  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<char> pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
            reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) &&
            WriteFile(out, &header, sizeof header, &written, nullptr) &&
            WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
  CloseHandle(out);
  return ok;
}

}  // namespace vokram::uitest
