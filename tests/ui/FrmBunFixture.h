// The fixture of the tests that create Frm_Bun inside the test process: a
// fresh window per test whose message boxes are recorded instead of shown,
// and a private folder.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ControlIds.h"
#include "Controls.h"
#include "File.h"
#include "Frm_Bun.h"
#include "MessageBoxes.h"
#include "MessageLoop.h"
#include "TestSupport.h"

namespace vokram::ui {

struct BoxShown {
  std::wstring text, title;
  UINT type;
  HWND owner;
  HCURSOR pointer;  // the pointer while the box shows
};
inline std::vector<BoxShown> boxes;
// How the recorded questions (Yes/No boxes) are answered.
inline int questionAnswer = IDNO;

inline int RecordBox(HWND owner, const wchar_t* text, const wchar_t* title, UINT type) {
  boxes.push_back({text, title, type, owner, GetCursor()});
  return (type & MB_TYPEMASK) == MB_YESNO ? questionAnswer : IDOK;
}

inline constexpr UINT kQuestion = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

// Every call of the given kind takes `delay` longer.
class SlowCalls {
 public:
  SlowCalls(std::initializer_list<io::Op> ops, std::chrono::milliseconds delay) {
    io::SetFaultHook([slow = std::vector<io::Op>(ops), delay](io::Op called,
                                                             const std::filesystem::path&) -> std::optional<int> {
      if (std::find(slow.begin(), slow.end(), called) != slow.end()) std::this_thread::sleep_for(delay);
      return std::nullopt;
    });
  }
  SlowCalls(io::Op op, std::chrono::milliseconds delay) : SlowCalls({op}, delay) {}
  ~SlowCalls() { io::SetFaultHook({}); }
  SlowCalls(const SlowCalls&) = delete;
  SlowCalls& operator=(const SlowCalls&) = delete;
};

inline HCURSOR WaitPointer() { return LoadCursorW(nullptr, IDC_WAIT); }
inline HCURSOR ArrowPointer() { return LoadCursorW(nullptr, IDC_ARROW); }

class FrmBunTest : public ::testing::Test {
 protected:
  std::unique_ptr<Frm_Bun> form = std::make_unique<Frm_Bun>();
  test::TempDir dir;

  void SetUp() override {
    boxes.clear();
    questionAnswer = IDNO;
    SetMessageBoxFunction(RecordBox);
    ASSERT_TRUE(form->Create(SW_SHOWNORMAL));
    SetForegroundWindow(form->Handle());
    PumpPendingMessages();
  }
  void TearDown() override {
    form.reset();
    SetMessageBoxFunction(nullptr);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  HWND Ctl(int id) const { return form->Control(id); }
  void Set(int id, const std::wstring& text) { SetText(Ctl(id), text); }
  void Click(int id) { SendMessageW(Ctl(id), BM_CLICK, 0, 0); }
  void Menu(int id) { SendMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
  void PostClick(int id) { PostMessageW(Ctl(id), BM_CLICK, 0, 0); }
  void PostMenu(int id) { PostMessageW(form->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }

  // A key as the message loop would receive it, with Shift held or not.
  void Key(UINT vk, bool shift = false) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    MSG msg{GetFocus(), WM_KEYDOWN, vk, 1, 0, {}};
    TranslateAndDispatch(msg);
    msg.message = WM_KEYUP;
    msg.lParam = 1 | (3u << 30);
    TranslateAndDispatch(msg);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    PumpPendingMessages();
  }

  int Focused() const { return GetDlgCtrlID(GetFocus()); }

  // A source of several pieces and the split fields for it.
  void PrepareSplit(std::size_t bytes) {
    test::WriteFile(dir / "src.bin", test::RandomBytes(bytes));
    std::filesystem::create_directories(dir / "out");
    Set(IDC_txtSrcFile, (dir / "src.bin").wstring());
    Set(IDC_txtDstdir, (dir / "out").wstring());
    Set(IDC_txtMinSize, L"1");
    Set(IDC_txtMaxSize, L"1");
  }
};

}  // namespace vokram::ui
