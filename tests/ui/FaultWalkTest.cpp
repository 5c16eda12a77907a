// Every I/O call of a split, a join and a piece check started from the
// window's buttons, made to fail one at a time. Each time the window must
// show the engine's failure once as a warning and never "終了しました。",
// leave the default pointer behind, stay ready for the next command and keep
// unfinished output out of the user's way.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "File.h"
#include "FrmBunFixture.h"
#include "Split.h"
#include "Text.h"

namespace vokram::ui {
namespace {

namespace fs = std::filesystem;

constexpr int kInjectedError = ERROR_ACCESS_DENIED;

// 4,700 bytes in pieces of 1 KB: four full ones and a short last one.
constexpr std::size_t kSourceSize = 4700;
constexpr int kPieces = 5;
constexpr char kSourceName[] = "データ.avi";
constexpr wchar_t kBaseName[] = L"データ";

constexpr wchar_t kIoFailed[] = L"ファイルの読み書きに失敗しました。";

using Call = test::IoCall;
using test::HookGuard;
using test::OpName;

std::string Describe(std::size_t n, const Call& call) {
  return "failing call " + std::to_string(n) + ": " + OpName(call.op) + " " + ToUtf8(call.path);
}

std::wstring PieceName(int index) { return kBaseName + std::wstring(L".00") + std::to_wstring(index); }

// The check's report with the piece of that name damaged (none: all sound).
std::wstring Report(const std::wstring& damaged = {}) {
  std::wstring text;
  for (int i = 0; i < kPieces; ++i) {
    const std::wstring name = PieceName(i);
    text += (name == damaged ? L" △  " : L" ○  ") + name + L"\r\n";
  }
  return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::wstring Listing(const fs::path& folder) {
  std::wstring names;
  for (const auto& entry : fs::directory_iterator(folder)) names += entry.path().filename().wstring() + L" ";
  return names;
}

class FaultWalkTest : public FrmBunTest {
 protected:
  // Every call a click makes, with a hook that lets all of them run.
  std::vector<Call> ClickCounting(int button) {
    return test::RecordCalls([&] { Click(button); });
  }

  // A click with only call number n (from 1) failing; the call that failed.
  std::optional<Call> ClickFailing(int button, std::size_t n) {
    SetCursor(ArrowPointer());  // as over the window when the user clicks
    std::optional<Call> failed;
    std::size_t seen = 0;
    HookGuard guard([&](io::Op op, const fs::path& path) -> std::optional<int> {
      if (++seen != n) return std::nullopt;
      failed = Call{op, path};
      return kInjectedError;
    });
    Click(button);
    return failed;
  }

  // The same call failed as was counted: the walk really reaches every call.
  static bool FailedAsCounted(const std::optional<Call>& failed, const Call& counted) {
    if (!failed) {
      ADD_FAILURE() << "the click made fewer calls than when it was counted";
      return false;
    }
    EXPECT_EQ(failed->op, counted.op);
    EXPECT_EQ(failed->path.filename().wstring(), counted.path.filename().wstring());
    return true;
  }

  // One box, a warning, shown over the window with the default pointer.
  void ExpectOneWarning(const std::wstring& textStart) {
    ASSERT_EQ(boxes.size(), 1u) << (boxes.empty() ? "no box" : "more than one box");
    const BoxShown& box = boxes[0];
    EXPECT_EQ(box.title, L"警告");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(box.owner, form->Handle());
    EXPECT_EQ(box.pointer, ArrowPointer()) << "the wait pointer still showed over the box";
    EXPECT_TRUE(StartsWith(box.text, textStart)) << ToUtf8(box.text);
    EXPECT_EQ(box.text.find(L"終了しました。"), std::wstring::npos);
  }

  // The pointer is the default, and the window no longer asks for the wait
  // pointer when the mouse moves over it.
  void ExpectDefaultPointer() {
    EXPECT_EQ(GetCursor(), ArrowPointer());
    SetCursor(WaitPointer());
    SendMessageW(form->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(form->Handle()),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), ArrowPointer()) << "the window still shows the wait pointer";
    SetCursor(ArrowPointer());
  }

  // A Run with no failure after the failed one completes: nothing was left busy.
  void ExpectRunCompletes() {
    boxes.clear();
    Click(IDC_cmdRun);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, L"終了");
    EXPECT_EQ(boxes[0].text, L"終了しました。");
  }

  // The split fields for a fresh source in `folder`, pieces to folder\out.
  struct SplitPaths {
    fs::path source, out;
  };
  SplitPaths PrepareSplitIn(const fs::path& folder) {
    const SplitPaths paths{folder / test::U8(kSourceName), folder / "out"};
    fs::create_directories(paths.out);
    test::WriteFile(paths.source, test::RandomBytes(kSourceSize, 7));
    Set(IDC_txtSrcFile, paths.source.wstring());
    Set(IDC_txtDstdir, paths.out.wstring());
    Set(IDC_txtDstFileName, kBaseName);
    Set(IDC_txtMinSize, L"1");
    Set(IDC_txtMaxSize, L"1");
    return paths;
  }

  // Pieces and descriptor made by the engine in folder\parts, an empty
  // folder\out, and the join fields for them.
  struct JoinPaths {
    fs::path vok, out;
    test::Bytes source;
  };
  JoinPaths PrepareJoinIn(const fs::path& folder) {
    const fs::path parts = folder / "parts";
    JoinPaths paths{parts / test::U8("データ.vok"), folder / "out", test::RandomBytes(kSourceSize, 11)};
    fs::create_directories(parts);
    fs::create_directories(paths.out);
    const fs::path source = parts / test::U8(kSourceName);
    test::WriteFile(source, paths.source);
    SplitFile(source.native(), (parts / kBaseName).native(), 1, 1, SplitOptions{true, false});
    fs::remove(source);
    Set(IDC_txtVokFile, paths.vok.wstring());
    Set(IDC_txtSaveDir, paths.out.wstring());
    return paths;
  }

  fs::path Scene(const char* operation, std::size_t n) const {
    return dir / (std::string(operation) + std::to_string(n));
  }
};

TEST_F(FaultWalkTest, EveryFailingCallOfASplitIsReportedAndLeavesTheOutputFolderEmpty) {
  // Both output files, so that their calls are walked too.
  SendMessageW(Ctl(IDC_chkBatFile), BM_SETCHECK, BST_CHECKED, 0);
  PrepareSplitIn(Scene("split", 0));
  const std::vector<Call> calls = ClickCounting(IDC_cmdRun);
  ASSERT_EQ(boxes.size(), 1u);
  ASSERT_EQ(boxes[0].text, L"終了しました。");
  // Open, create and close of every piece at least.
  ASSERT_GE(calls.size(), static_cast<std::size_t>(3 * kPieces));
  RecordProperty("io_calls_walked", static_cast<int>(calls.size()));


  for (std::size_t n = 1; n <= calls.size(); ++n) {
    // Removing what is left after the commit: a warning, not a failure (the engine's tests).
    if (calls[n - 1].op == io::Op::Remove) continue;
    SCOPED_TRACE(Describe(n, calls[n - 1]));
    const SplitPaths paths = PrepareSplitIn(Scene("split", n));
    boxes.clear();
    const std::optional<Call> failed = ClickFailing(IDC_cmdRun, n);
    if (!FailedAsCounted(failed, calls[n - 1])) continue;
    ExpectOneWarning(failed->path.wstring() + L"\n" + kIoFailed + L"分割を中止しました。");
    ExpectDefaultPointer();
    // Nothing of the failed run, also no batch file that would rebuild a part.
    EXPECT_TRUE(fs::is_empty(paths.out)) << ToUtf8(Listing(paths.out));
    ExpectRunCompletes();
  }
}

TEST_F(FaultWalkTest, EveryFailingCallOfAJoinIsReportedAndLeavesTheOutputFolderEmpty) {
  Menu(IDM_mnuKetsugou);
  ASSERT_TRUE(form->IsJoinMode());
  SendMessageW(Ctl(IDC_optSavePath0), BM_SETCHECK, BST_CHECKED, 0);  // into txtSaveDir
  const JoinPaths counted = PrepareJoinIn(Scene("join", 0));
  const std::vector<Call> calls = ClickCounting(IDC_cmdRun);
  ASSERT_EQ(boxes.size(), 1u);
  ASSERT_EQ(boxes[0].text, L"終了しました。");
  ASSERT_EQ(test::ReadFile(counted.out / test::U8(kSourceName)), counted.source);
  // The descriptor, every piece and the output at least.
  ASSERT_GE(calls.size(), static_cast<std::size_t>(2 * kPieces + 4));
  RecordProperty("io_calls_walked", static_cast<int>(calls.size()));

  for (std::size_t n = 1; n <= calls.size(); ++n) {
    // Removing what is left after the commit: a warning, not a failure (the engine's tests).
    if (calls[n - 1].op == io::Op::Remove) continue;
    SCOPED_TRACE(Describe(n, calls[n - 1]));
    const JoinPaths paths = PrepareJoinIn(Scene("join", n));
    boxes.clear();
    const std::optional<Call> failed = ClickFailing(IDC_cmdRun, n);
    if (!FailedAsCounted(failed, calls[n - 1])) continue;
    const bool pieceRead = (failed->op == io::Op::OpenRead || failed->op == io::Op::Read) &&
                           failed->path.filename() != paths.vok.filename();
    if (pieceRead) {
      // A piece is named as the descriptor lists it.
      const std::wstring message = L"「" + failed->path.filename().wstring() +
                                   L"」を読み込めませんでした。結合を中止しました。ほかのソフトで開いていれば閉じてください。\n";
      ExpectOneWarning(message);
    } else {
      ExpectOneWarning(failed->path.wstring() + L"\n" + kIoFailed + L"結合を中止しました。");
    }
    ExpectDefaultPointer();
    // Nothing under the final name and no temporary file.
    EXPECT_TRUE(fs::is_empty(paths.out)) << ToUtf8(Listing(paths.out));
    ExpectRunCompletes();
    EXPECT_EQ(test::ReadFile(paths.out / test::U8(kSourceName)), paths.source);
  }
}

TEST_F(FaultWalkTest, EveryFailingCallOfAPieceCheckMarksThePieceOrWarnsOfTheDescriptor) {
  Menu(IDM_mnuKetsugou);
  ASSERT_TRUE(form->IsJoinMode());
  PrepareJoinIn(Scene("check", 0));
  const std::vector<Call> calls = ClickCounting(IDC_cmdChk);
  ASSERT_TRUE(boxes.empty());
  ASSERT_EQ(GetText(Ctl(IDC_txtChkCRC)), Report());
  // The descriptor and every piece opened, read and closed.
  ASSERT_GE(calls.size(), static_cast<std::size_t>(3 * kPieces + 2));
  RecordProperty("io_calls_walked", static_cast<int>(calls.size()));

  for (std::size_t n = 1; n <= calls.size(); ++n) {
    SCOPED_TRACE(Describe(n, calls[n - 1]));
    const JoinPaths paths = PrepareJoinIn(Scene("check", n));
    boxes.clear();
    const std::optional<Call> failed = ClickFailing(IDC_cmdChk, n);
    if (!FailedAsCounted(failed, calls[n - 1])) continue;
    if (failed->path.filename() == paths.vok.filename()) {
      ExpectOneWarning(paths.vok.wstring() + L"\n" + kIoFailed + L"チェックを中止しました。");
    } else {
      // An unreadable piece is an outcome of the check, not a failure of it.
      EXPECT_TRUE(boxes.empty()) << ToUtf8(boxes.empty() ? L"" : boxes[0].text);
      EXPECT_EQ(GetText(Ctl(IDC_txtChkCRC)), Report(failed->path.filename().wstring()));
    }
    ExpectDefaultPointer();
    // The next check runs and finds every piece sound.
    boxes.clear();
    Click(IDC_cmdChk);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(GetText(Ctl(IDC_txtChkCRC)), Report());
  }
}

}  // namespace
}  // namespace vokram::ui
