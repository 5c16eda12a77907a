// The two pickers as the system shows them (Windows, or Wine with a display).
// The picker runs modally on the test's thread; a watcher thread finds its
// window, records what it shows, saves a screenshot and closes it.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cwctype>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Bas_Dialog.h"

namespace vokram {
namespace {

using namespace std::chrono_literals;

// Control IDs of the common file dialog's template (dlgs.h).
constexpr int kFileNameCombo = 0x47C;  // cmb13
constexpr int kFileNameEdit = 0x480;   // edt1
constexpr int kFileTypeCombo = 0x470;  // cmb1

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// A plain visible window that owns the pickers, as the main window does.
class OwnerWindow {
 public:
  OwnerWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when a previous test registered it
    hwnd_ = CreateWindowExW(0, kClass, L"Vokram picker owner", WS_OVERLAPPEDWINDOW, 20, 20, 400, 300, nullptr,
                            nullptr, wc.hInstance, nullptr);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
  }
  ~OwnerWindow() { DestroyWindow(hwnd_); }
  OwnerWindow(const OwnerWindow&) = delete;
  OwnerWindow& operator=(const OwnerWindow&) = delete;
  HWND Get() const { return hwnd_; }

 private:
  static constexpr const wchar_t* kClass = L"VokramPickerTestOwner";
  HWND hwnd_ = nullptr;
};

// What the watcher saw of the picker while it was open.
struct Seen {
  bool found = false;
  HWND owner = nullptr;
  bool ownerEnabled = true;
  std::wstring title;
  std::vector<std::wstring> statics;
  std::vector<std::wstring> fileTypes;
  int fileTypeSelected = -2;
};

// The first dialog window of the given thread, waited for up to 10 s.
HWND WaitForDialog(DWORD threadId) {
  for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
    HWND found = nullptr;
    EnumThreadWindows(
        threadId,
        [](HWND hwnd, LPARAM out) -> BOOL {
          if (ClassName(hwnd) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
          *reinterpret_cast<HWND*>(out) = hwnd;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    if (found != nullptr) return found;
    std::this_thread::sleep_for(20ms);
  }
  return nullptr;
}

// The whole screen as a 24-bit BMP.
void SaveScreenshot(const std::wstring& name) {
  const std::filesystem::path folder = VOKRAM_SCREENSHOT_DIR;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  header.bfSize = header.bfOffBits + imageBytes;
  const std::wstring path = (folder / (name + L".bmp")).wstring();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, &header, sizeof header, &written, nullptr);
    WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr);
    WriteFile(file, bits, imageBytes, &written, nullptr);
    CloseHandle(file);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// Runs show() on this thread while a watcher records the picker, saves a
// screenshot under shot (when given), then calls act on it.
template <typename Show>
Seen WatchPicker(Show show, const std::wstring& shot, const std::function<void(HWND)>& act) {
  Seen seen;
  const DWORD threadId = GetCurrentThreadId();
  std::thread watcher([&] {
    HWND dialog = WaitForDialog(threadId);
    if (dialog == nullptr) return;
    seen.found = true;
    seen.owner = GetWindow(dialog, GW_OWNER);
    seen.ownerEnabled = seen.owner != nullptr && IsWindowEnabled(seen.owner);
    seen.title = WindowText(dialog);
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM out) -> BOOL {
          if (Lower(ClassName(child)) == L"static") {
            reinterpret_cast<std::vector<std::wstring>*>(out)->push_back(WindowText(child));
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&seen.statics));
    if (HWND types = GetDlgItem(dialog, kFileTypeCombo)) {
      const auto count = SendMessageW(types, CB_GETCOUNT, 0, 0);
      for (WPARAM i = 0; i < static_cast<WPARAM>(count); ++i) {
        std::wstring item(static_cast<std::size_t>(SendMessageW(types, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        item.resize(static_cast<std::size_t>(
            SendMessageW(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()))));
        seen.fileTypes.push_back(item);
      }
      seen.fileTypeSelected = static_cast<int>(SendMessageW(types, CB_GETCURSEL, 0, 0));
    }
    if (!shot.empty()) {
      std::this_thread::sleep_for(500ms);  // until the dialog has painted
      SaveScreenshot(shot);
    }
    act(dialog);
  });
  show();
  watcher.join();
  return seen;
}

void Cancel(HWND dialog) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

// Types a name into the file dialog and presses its confirm button.
std::function<void(HWND)> TypeAndConfirm(std::wstring name) {
  return [name](HWND dialog) {
    HWND field = GetDlgItem(dialog, kFileNameCombo);
    if (field == nullptr) field = GetDlgItem(dialog, kFileNameEdit);
    if (field == nullptr) {
      Cancel(dialog);
      return;
    }
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  };
}

// A name in c:\ that does not exist.
std::wstring FreshName(const std::wstring& stem, const std::wstring& ext) {
  const std::wstring name = stem + std::to_wstring(GetCurrentProcessId()) + ext;
  EXPECT_EQ(GetFileAttributesW((L"c:\\" + name).c_str()), INVALID_FILE_ATTRIBUTES);
  return name;
}

// The folder part must be c:\ whatever case the dialog reports the drive in.
void ExpectInDriveC(const std::wstring& path, const std::wstring& name) {
  ASSERT_EQ(path.size(), 3 + name.size()) << testing::PrintToString(path);
  EXPECT_EQ(Lower(path.substr(0, 3)), L"c:\\");
  EXPECT_EQ(path.substr(3), name);
}

// ---------------------------------------------------------------------------

TEST(FolderPicker, ShowsThePromptOwnedByTheCallerAndCancelGivesEmptyText) {
  OwnerWindow owner;
  std::wstring result = L"unchanged";
  const Seen seen = WatchPicker([&] { result = BrowseFolder(owner.Get()); }, L"picker-folder", Cancel);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.owner, owner.Get());
  EXPECT_FALSE(seen.ownerEnabled) << "a modal picker disables its owner";
  bool promptShown = false;
  for (const auto& text : seen.statics) {
    if (text.find(std::wstring(kBrowseFolderPrompt)) != std::wstring::npos) promptShown = true;
  }
  EXPECT_TRUE(promptShown);
  EXPECT_EQ(result, L"");
  EXPECT_TRUE(IsWindowEnabled(owner.Get()));
}

TEST(FolderPicker, WorksAgainAfterACancel) {
  // COM is set up and released per call; a second call must still open.
  OwnerWindow owner;
  for (int i = 0; i < 2; ++i) {
    std::wstring result = L"unchanged";
    const Seen seen = WatchPicker([&] { result = BrowseFolder(owner.Get()); }, L"", Cancel);
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(result, L"");
  }
}

TEST(FilePicker, ShowsItsTitleAndOneFilterAndCancelGivesEmptyText) {
  OwnerWindow owner;
  std::wstring result = L"unchanged";
  const Seen seen = WatchPicker([&] { result = BrowseFile(owner.Get()); }, L"picker-file", Cancel);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, L"ファイルを選択して下さい。");
  EXPECT_EQ(seen.owner, owner.Get());
  EXPECT_FALSE(seen.ownerEnabled);
  EXPECT_EQ(seen.fileTypes, std::vector<std::wstring>{L"\u5168\u3066\u306E\uFF8C\uFF67\uFF72\uFF99(*.*)"});
  EXPECT_EQ(seen.fileTypeSelected, 0);
  EXPECT_EQ(result, L"");
}

TEST(FilePicker, ReturnsATypedNameThatDoesNotExistInDriveC) {
  OwnerWindow owner;
  const std::wstring name = FreshName(L"vokram-picker-", L".bin");
  std::wstring result;
  const Seen seen = WatchPicker([&] { result = BrowseFile(owner.Get()); }, L"", TypeAndConfirm(name));
  ASSERT_TRUE(seen.found);
  ExpectInDriveC(result, name);
  // Choosing a name creates nothing.
  EXPECT_EQ(GetFileAttributesW(result.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ShowFileDialogTest, AnswerOfAConfirmedJapaneseName) {
  OwnerWindow owner;
  const std::wstring name = FreshName(L"データ", L".bin");
  FileDialogParams params = BrowseFileRequest();
  FileDialogParams answer;
  WatchPicker([&] { answer = ShowFileDialog(owner.Get(), params); }, L"", TypeAndConfirm(name));
  EXPECT_NE(answer.Result, 0);
  ExpectInDriveC(answer.FullPath, name);
  EXPECT_EQ(Lower(answer.FolderPath), L"c:\\");
  EXPECT_EQ(answer.FileTitle, name);
  // The request was normalised in place.
  EXPECT_EQ(params.FileTitle, std::wstring(261, L'\0'));
}

TEST(ShowFileDialogTest, NormalisedRequestReachesTheDialog) {
  OwnerWindow owner;
  const std::wstring stem = FreshName(L"vokram-note-", L"");
  FileDialogParams params;
  params.DefaultExt = L".txt";
  params.Filter = L"Text(*.txt)|*.txt|All(*.*)|*.*";
  params.FilterIndex = 2;
  params.Flags = 4;
  params.InitialDir = L"c:\\";
  params.MaxPathLength = 0;
  FileDialogParams answer;
  const Seen seen =
      WatchPicker([&] { answer = ShowFileDialog(owner.Get(), params); }, L"", TypeAndConfirm(stem));
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.title, L"\uFF8C\uFF67\uFF72\uFF99\u3092\u958B\u304F");  // ﾌｧｲﾙを開く
  EXPECT_EQ(seen.fileTypes, (std::vector<std::wstring>{L"Text(*.txt)", L"All(*.*)"}));
  EXPECT_EQ(seen.fileTypeSelected, 1);
  EXPECT_EQ(params.DefaultExt, L"txt");
  EXPECT_EQ(params.MaxPathLength, 261);
  // The extension without its dot is what the dialog appends.
  EXPECT_NE(answer.Result, 0);
  ExpectInDriveC(answer.FullPath, stem + L".txt");
}

TEST(ShowFileDialogTest, AnOutOfRangeFilterIndexStartsOnTheFirstPair) {
  OwnerWindow owner;
  FileDialogParams params = BrowseFileRequest();
  params.Filter = L"A(*.a)|*.a|B(*.b)|*.b";
  params.FilterIndex = 5;
  FileDialogParams answer;
  const Seen seen = WatchPicker([&] { answer = ShowFileDialog(owner.Get(), params); }, L"", Cancel);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.fileTypes, (std::vector<std::wstring>{L"A(*.a)", L"B(*.b)"}));
  EXPECT_EQ(seen.fileTypeSelected, 0);
  EXPECT_EQ(answer.Result, 0);
  EXPECT_EQ(answer.FullPath, L"");
  EXPECT_EQ(answer.FolderPath, L"");
  EXPECT_EQ(answer.FileTitle, L"");
}

}  // namespace
}  // namespace vokram
