// Frm_Bun created inside the test process, where what a second process
// cannot see is visible: the icons and buttons of the message boxes, the
// mouse pointer during an operation, clicks that arrive while one runs, the
// whole tab order, the geometry and the font.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <optional>
#include <filesystem>
#include <string>
#include <vector>

#include "FrmBunFixture.h"
#include "Split.h"

namespace vokram::ui {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// A window of the test that notes the pointer whenever a message reaches it;
// posted before a click, it shows what the pointer was while the click's
// operation pumped messages.
struct Probe {
  static inline std::vector<HCURSOR> seen;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
      seen.push_back(GetCursor());
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  HWND hwnd = nullptr;
  Probe() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VokramTestProbe";
    RegisterClassW(&wc);
    hwnd = CreateWindowW(L"VokramTestProbe", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         wc.hInstance, nullptr);
    seen.clear();
  }
  ~Probe() { DestroyWindow(hwnd); }
  void Post() const { PostMessageW(hwnd, WM_APP, 0, 0); }
};

TEST_F(FrmBunTest, WarningsHaveTheExclamationMarkAndCompletionTheInformationIcon) {
  Click(IDC_cmdRun);
  PrepareSplit(3000);
  Click(IDC_cmdRun);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, L"警告");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(boxes[0].owner, form->Handle());
  EXPECT_EQ(boxes[1].title, L"終了");
  EXPECT_EQ(boxes[1].text, L"終了しました。");
  EXPECT_EQ(boxes[1].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
}

TEST_F(FrmBunTest, WaitPointerDuringTheSplitAndDefaultWhenItEnds) {
  PrepareSplit(3000);  // three pieces of 1 KB
  Probe probe;
  probe.Post();
  Click(IDC_cmdRun);
  ASSERT_EQ(Probe::seen.size(), 1u);  // handled by the split's pump
  EXPECT_EQ(Probe::seen[0], WaitPointer());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].pointer, ArrowPointer());
  EXPECT_EQ(GetCursor(), ArrowPointer());
}

TEST_F(FrmBunTest, DefaultPointerAndNoCompletionAfterAFailedSplit) {
  PrepareSplit(3000);
  Set(IDC_txtDstFileName, L"p");
  // The second piece cannot be written (pieces take the first temporary names).
  io::SetFaultHook([](io::Op op, const fs::path& path) -> std::optional<int> {
    if (op == io::Op::Write && path.filename() == L"~vok0001.tmp") return ERROR_DISK_FULL;  // its temporary
    return std::nullopt;
  });
  Click(IDC_cmdRun);
  io::SetFaultHook({});
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, L"警告");
  EXPECT_NE(boxes[0].text.find(L"分割を中止しました。"), std::wstring::npos);
  EXPECT_EQ(boxes[0].pointer, ArrowPointer());
  EXPECT_TRUE(fs::is_empty(dir / "out"));
  // The next click runs again: nothing was left busy.
  Click(IDC_cmdRun);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, L"終了しました。");
}

// Files under the outputs' names: once the plan is known, a question under
// "確認" with the exclamation mark and No as default, over the default
// pointer. (What Yes and No then do: the window driver's test.)
TEST_F(FrmBunTest, ReplacingFilesAsksFirst) {
  PrepareSplit(3000);
  Click(IDC_cmdRun);
  boxes.clear();
  Click(IDC_cmdRun);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, L"確認");
  EXPECT_EQ(boxes[0].text, L"保存先に同じ名前のファイルが 4 個あります。置き換えますか？");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2));
  EXPECT_EQ(boxes[0].pointer, ArrowPointer());
}

// Run, the browse buttons and the menu are ignored; End and close ask first
// (answered No here).
TEST_F(FrmBunTest, ClicksDuringASplitAreIgnored) {
  PrepareSplit(3000);
  // Still running when the clicks come: the split, and its plan before it,
  // which opens the source (a plan that ended first would be asked nothing).
  const SlowCalls slow({io::Op::Write, io::Op::OpenRead}, std::chrono::milliseconds(50));
  Probe probe;
  // Queued now, handled by the window's loop while the split runs.
  PostClick(IDC_cmdRun);
  PostClick(IDC_cmdEnd);
  PostClick(IDC_cmdSrcRef0);
  PostMenu(IDM_mnuKetsugou);
  PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
  probe.Post();
  Click(IDC_cmdRun);
  ASSERT_EQ(Probe::seen.size(), 1u);
  EXPECT_EQ(Probe::seen[0], WaitPointer()) << "the queued clicks arrived after the split";
  ASSERT_EQ(boxes.size(), 3u);
  for (std::size_t i : {0u, 1u}) {
    EXPECT_EQ(boxes[i].text, L"処理を中止して終了しますか？");
    EXPECT_EQ(boxes[i].title, L"確認");
    EXPECT_EQ(boxes[i].type, kQuestion);
  }
  EXPECT_EQ(boxes[2].text, L"終了しました。");
  EXPECT_TRUE(IsWindow(form->Handle()));
  EXPECT_FALSE(form->IsJoinMode());
}

TEST_F(FrmBunTest, ClicksDuringAPieceCheckAreIgnoredAndTheWindowPaints) {
  test::WriteFile(dir / "src.bin", test::RandomBytes(5000));
  SplitFile((dir / "src.bin").native(), (dir / "p").native(), 1, 1, SplitOptions{true, false});
  Menu(IDM_mnuKetsugou);
  Set(IDC_txtVokFile, (dir / "src.vok").wstring());
  Set(IDC_txtSaveDir, L"");  // a Run now would warn about the folder
  const SlowCalls slow(io::Op::Read, std::chrono::milliseconds(50));
  Probe probe;
  PostClick(IDC_cmdRun);
  PostMenu(IDM_mnuBunkatsu);
  PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
  probe.Post();
  Click(IDC_cmdChk);
  EXPECT_EQ(Probe::seen.size(), 1u);
  ASSERT_EQ(boxes.size(), 1u);  // the close asked, answered No
  EXPECT_EQ(boxes[0].text, L"処理を中止して終了しますか？");
  EXPECT_TRUE(form->IsJoinMode());
  EXPECT_TRUE(IsWindow(form->Handle()));
  EXPECT_EQ(GetText(Ctl(IDC_txtChkCRC)),
            L" ○  p.000\r\n ○  p.001\r\n ○  p.002\r\n ○  p.003\r\n ○  p.004\r\n");
}

TEST_F(FrmBunTest, ReportHoldsMoreThanTheDefaultTextLimit) {
  // 1,300 one-byte pieces with long names give a report of about 36,000
  // characters.
  test::WriteFile(dir / "s.bin", test::RandomBytes(1300));
  SplitFile((dir / "s.bin").native(), (dir / "a_long_piece_name").native(), 0, 0,
            SplitOptions{true, false});
  Menu(IDM_mnuKetsugou);
  Set(IDC_txtVokFile, (dir / "s.vok").wstring());
  Click(IDC_cmdChk);
  const std::wstring report = GetText(Ctl(IDC_txtChkCRC));
  EXPECT_GT(report.size(), 32767u);
  EXPECT_EQ(report.substr(0, 27), L" ○  a_long_piece_name.000\r\n");
  EXPECT_EQ(report.substr(report.size() - 28), L" ○  a_long_piece_name.1299\r\n");
  EXPECT_TRUE(boxes.empty());
  // It ends showing its first line, not its last.
  EXPECT_EQ(SendMessageW(Ctl(IDC_txtChkCRC), EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

TEST_F(FrmBunTest, TabOrderInSplitModeAndBackwards) {
  EXPECT_EQ(Focused(), IDC_txtSrcFile);
  const int forward[] = {IDC_cmdSrcRef0, IDC_txtDstdir,  IDC_cmdRef0,    IDC_txtMinSize,
                         IDC_txtMaxSize, IDC_txtDstFileName, IDC_chkVokFile, IDC_chkBatFile,
                         IDC_chkRecovery, IDC_txtRecovery,
                         IDC_cmdRun,     IDC_cmdEnd,     IDC_txtSrcFile};
  for (int id : forward) {
    Key(VK_TAB);
    EXPECT_EQ(Focused(), id);
  }
  Key(VK_TAB, true);
  EXPECT_EQ(Focused(), IDC_cmdEnd);
  Key(VK_TAB, true);
  EXPECT_EQ(Focused(), IDC_cmdRun);
}

TEST_F(FrmBunTest, TabOrderInJoinModeReachesTheSelectedOptionOnly) {
  Menu(IDM_mnuKetsugou);
  // The focus was in the hidden panel; it moved on to the join panel.
  EXPECT_EQ(Focused(), IDC_txtVokFile);
  const int forward[] = {IDC_cmdSrcRef1, IDC_optSavePath0, IDC_txtSaveDir, IDC_cmdRef1,
                         IDC_cmdChk,     IDC_cmdRun,       IDC_cmdEnd,     IDC_txtChkCRC,
                         IDC_txtVokFile};
  for (int id : forward) {
    Key(VK_TAB);
    EXPECT_EQ(Focused(), id);
  }
  Click(IDC_optSavePath1);
  SetFocus(Ctl(IDC_cmdRef1));
  Key(VK_TAB);
  EXPECT_EQ(Focused(), IDC_optSavePath1);
  EXPECT_FALSE(SendMessageW(Ctl(IDC_optSavePath0), BM_GETCHECK, 0, 0) == BST_CHECKED);
}

TEST_F(FrmBunTest, EnterAndEscapePressNothingButSpacePressesTheFocusedButton) {
  SetFocus(Ctl(IDC_cmdRun));
  Key(VK_RETURN);
  Key(VK_ESCAPE);
  EXPECT_TRUE(boxes.empty());
  SetFocus(Ctl(IDC_cmdEnd));
  Key(VK_RETURN);
  Key(VK_ESCAPE);
  EXPECT_TRUE(IsWindow(form->Handle()));
  SetFocus(Ctl(IDC_cmdRun));
  Key(VK_SPACE);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"対象ファイルを入力してください。");
}

TEST_F(FrmBunTest, GeometryFollowsTheDesignAt96Dpi) {
  if (GetDpiForWindow(form->Handle()) != 96) GTEST_SKIP() << "display is not at 96 DPI";
  RECT client;
  GetClientRect(form->Handle(), &client);
  EXPECT_EQ(client.right, 576);
  EXPECT_EQ(client.bottom, 278);
  const auto placeOf = [&](int id) {
    RECT r;
    HWND control = Ctl(id);
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top};
  };
  EXPECT_EQ(placeOf(IDC_picBunkatsu), (std::vector<LONG>{8, 0, 561, 221}));
  EXPECT_EQ(placeOf(IDC_picKetsugou), (std::vector<LONG>{0, 4, 569, 225}));
  EXPECT_EQ(placeOf(IDC_cmdRun), (std::vector<LONG>{340, 240, 109, 29}));
  EXPECT_EQ(placeOf(IDC_cmdEnd), (std::vector<LONG>{460, 240, 109, 29}));
}

TEST_F(FrmBunTest, ControlsUseTheSystemMessageFont) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                                         GetDpiForWindow(form->Handle())));
  for (int id : {IDC_txtSrcFile, IDC_Label8_2, IDC_cmdRun, IDC_chkVokFile}) {
    auto font = reinterpret_cast<HFONT>(SendMessageW(Ctl(id), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr) << id;
    LOGFONTW used{};
    GetObjectW(font, sizeof used, &used);
    EXPECT_STREQ(used.lfFaceName, metrics.lfMessageFont.lfFaceName) << id;
    EXPECT_EQ(used.lfHeight, metrics.lfMessageFont.lfHeight) << id;
  }
}

// Controls that held a deleted font while a message reached them.
std::vector<int> heldDeletedFont;
LRESULT CALLBACK WatchFont(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  const auto font = reinterpret_cast<HGDIOBJ>(DefSubclassProc(control, WM_GETFONT, 0, 0));
  if (font && GetObjectType(font) != OBJ_FONT) heldDeletedFont.push_back(GetDlgCtrlID(control));
  return DefSubclassProc(control, message, wParam, lParam);
}

// A DPI change gives every control the new font before the old one is deleted.
TEST_F(FrmBunTest, DpiChangeNeverLeavesAControlHoldingADeletedFont) {
  EnumChildWindows(
      form->Handle(), [](HWND c, LPARAM) { return SetWindowSubclass(c, WatchFont, 1, 0); }, 0);
  const auto old = reinterpret_cast<HGDIOBJ>(SendMessageW(Ctl(IDC_txtSrcFile), WM_GETFONT, 0, 0));
  RECT frame;
  GetWindowRect(form->Handle(), &frame);
  const auto dpi = static_cast<WORD>(GetDpiForWindow(form->Handle()));
  SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
  EnumChildWindows(
      form->Handle(), [](HWND c, LPARAM) { return RemoveWindowSubclass(c, WatchFont, 1); }, 0);
  EXPECT_EQ(heldDeletedFont, std::vector<int>{});
  EXPECT_NE(GetObjectType(old), static_cast<DWORD>(OBJ_FONT)) << "the old font was kept";
}

// The "～" between the two size boxes is drawn by the control itself: an
// owner-draw style would leave its rectangle blank.
TEST_F(FrmBunTest, TheTildeBetweenTheSizeBoxesPaints) {
  HWND label = Ctl(IDC_Label2);
  RECT r;
  GetClientRect(label, &r);
  ASSERT_GT(r.right, 0);
  ASSERT_GT(r.bottom, 0);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  SendMessageW(label, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  GdiFlush();
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  const std::size_t count = static_cast<std::size_t>(r.right) * static_cast<std::size_t>(r.bottom);
  std::size_t inked = 0;
  for (std::size_t i = 0; i < count; ++i) inked += (pixels[i] & 0xFFFFFF) != (pixels[0] & 0xFFFFFF);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  EXPECT_GT(inked, 5u);
  EXPECT_EQ(GetWindowLongW(label, GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
}

TEST_F(FrmBunTest, MenuBarHoldsThreePlainCommands) {
  HMENU menu = GetMenu(form->Handle());
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  const std::pair<int, std::wstring> expected[] = {
      {IDM_mnuBunkatsu, L"分割"}, {IDM_mnuKetsugou, L"結合"}, {IDM_mnuVer, L"バージョン"}};
  for (int i = 0; i < 3; ++i) {
    wchar_t text[32] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 32, MF_BYPOSITION);
    EXPECT_EQ(text, expected[i].second);
    EXPECT_EQ(GetMenuItemID(menu, i), static_cast<UINT>(expected[i].first));
    EXPECT_EQ(GetSubMenu(menu, i), nullptr);
  }
}

}  // namespace
}  // namespace vokram::ui
