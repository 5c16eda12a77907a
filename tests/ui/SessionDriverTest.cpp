// Keys, questions and the end of the session while an operation runs, driven
// from outside against the window with a slow engine (SlowVokram.cpp): every
// read and write takes 40 ms longer, so a join of 1 KiB pieces lasts seconds.
#include <thread>

#include "DriverFixture.h"

namespace vokram::uitest {
namespace {

class SessionDriverTest : public ::testing::Test {
 protected:
  VokramProcess app{SlowVokramExe(), L"40"};
  TempDir dir;

  // A source of `pieces` KiB cut into 1 KiB pieces with the engine; the
  // descriptor's path.
  fs::path Pieces(int pieces) {
    WriteFile(dir / "src.bin", test::RandomBytes(static_cast<std::size_t>(pieces) * 1024));
    fs::create_directories(dir / "parts");
    SplitFile((dir / "src.bin").native(), (dir / "parts" / "p").native(), 1, 1, SplitOptions{true, false});
    return dir / "parts" / "src.vok";
  }

  // Tab until the control has the focus (also while an operation runs).
  void FocusOn(int id) {
    for (int i = 0; i < 25 && app.FocusedId() != id; ++i) {
      const int from = app.FocusedId();
      app.PressKey(VK_TAB);
      app.WaitForFocusOtherThan(from);
    }
    ASSERT_EQ(app.FocusedId(), id);
  }

  // Waits until the folder holds more than `count` names.
  bool WaitForMoreThan(const fs::path& folder, std::size_t count) {
    for (int i = 0; i < 2000; ++i) {
      if (test::Listing(folder).size() > count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  void ExpectJoinPanelWhole() {
    EXPECT_TRUE(app.IsVisible(IDC_picKetsugou));
    EXPECT_TRUE(app.IsVisible(IDC_txtChkCRC));
    EXPECT_EQ(app.Caption(), L"Vokram　－　結合");
  }
};

std::wstring Report(int pieces) {
  std::wstring report;
  for (int i = 0; i < pieces; ++i) report += L" ○  p.0" + std::wstring(i < 10 ? L"0" : L"") + std::to_wstring(i) + L"\r\n";
  return report;
}

// Esc in the multi-line report box closes nothing (its panel once went), and
// during a check asks; Enter is a new line when idle and changes nothing of a
// report being written.
TEST_F(SessionDriverTest, EscAndEnterInTheReportBoxIdleAndDuringACheck) {
  const fs::path vok = Pieces(60);
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtVokFile, W(vok));
  FocusOn(IDC_txtChkCRC);
  app.PressKey(VK_ESCAPE);
  app.PressKey(VK_RETURN);
  EXPECT_TRUE(app.WaitForText(IDC_txtChkCRC, L"\r\n"));
  EXPECT_TRUE(app.NoMessageBox());
  ExpectJoinPanelWhole();

  app.Click(IDC_cmdChk);
  app.WaitForFocusOtherThan(IDC_txtChkCRC);  // the click has focused cmdChk: the check runs
  FocusOn(IDC_txtChkCRC);
  app.PressKey(VK_RETURN);
  app.PressKey(VK_ESCAPE);
  const auto question = app.WaitForMessageBox();
  ASSERT_TRUE(question);
  EXPECT_EQ(question->text, L"処理を中止しますか？");
  app.PressOk(*question, IDNO);
  EXPECT_TRUE(app.WaitForText(IDC_txtChkCRC, Report(60))) << Utf8(app.Text(IDC_txtChkCRC));
  EXPECT_TRUE(app.NoMessageBox());
  ExpectJoinPanelWhole();
}

// A logoff during a join that replaces an older file: when WM_ENDSESSION
// returns the join has stopped and cleaned up; the program then ends
// without a message.
TEST_F(SessionDriverTest, EndOfSessionDuringAJoinStopsItAndCleansUpBeforeAnswering) {
  const fs::path vok = Pieces(200);
  fs::create_directories(dir / "restore");
  WriteFile(dir / "restore" / "src.bin", test::AsBytes("older"));
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtVokFile, W(vok));
  app.SetText(IDC_txtSaveDir, W(dir / "restore"));
  const MessageBoxSeen replace = app.RunAndAnswer(IDYES);
  EXPECT_EQ(replace.title, L"確認");
  ASSERT_TRUE(WaitForMoreThan(dir / "restore", 1)) << "no temporary appeared";

  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(app.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  ASSERT_TRUE(SendMessageTimeoutW(app.Main(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer));
  EXPECT_EQ(test::Listing(dir / "restore"), std::vector<fs::path>{"src.bin"});
  EXPECT_EQ(ReadFile(dir / "restore" / "src.bin"), test::AsBytes("older"));
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));
}

// Esc, then a close while its question shows: still one question, and its
// Yes stops the split, takes back its pieces and ends the program.
TEST_F(SessionDriverTest, EscThenCloseDuringASplitAsksOnceAndYesQuitsLeavingNothing) {
  WriteFile(dir / "src.bin", test::RandomBytes(100 * 1024));
  fs::create_directories(dir / "out");
  app.SetText(IDC_txtSrcFile, W(dir / "src.bin"));
  app.SetText(IDC_txtDstdir, W(dir / "out"));
  app.SetText(IDC_txtMinSize, L"1");
  app.SetText(IDC_txtMaxSize, L"1");
  app.Click(IDC_cmdRun);
  ASSERT_TRUE(WaitForMoreThan(dir / "out", 1)) << "no pieces appeared";
  app.PressKey(VK_ESCAPE);
  const auto question = app.WaitForMessageBox();
  ASSERT_TRUE(question);
  EXPECT_EQ(question->text, L"処理を中止しますか？");
  // Sent, so it returns once handled: a second question would hold it.
  DWORD_PTR ignored = 0;
  EXPECT_TRUE(SendMessageTimeoutW(app.Main(), WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &ignored));
  EXPECT_EQ(app.MessageBoxCount(), 1);
  app.PressOk(*question, IDYES);
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(test::Listing(dir / "out"), std::vector<fs::path>{});
}

// A join that ends while its stop question shows: the question goes by
// itself and the result shows as for any join.
TEST_F(SessionDriverTest, WorkThatEndsUnderItsQuestionClosesItAndShowsItsResult) {
  const fs::path vok = Pieces(20);
  fs::create_directories(dir / "restore");
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtVokFile, W(vok));
  app.SetText(IDC_txtSaveDir, W(dir / "restore"));
  app.Click(IDC_cmdRun);
  ASSERT_TRUE(WaitForMoreThan(dir / "restore", 0)) << "no temporary appeared";
  app.PressKey(VK_ESCAPE);
  const auto question = app.WaitForMessageBox();
  ASSERT_TRUE(question);
  EXPECT_EQ(question->text, L"処理を中止しますか？");
  for (int i = 0; i < 3000 && IsWindow(question->box); ++i) Sleep(10);
  ASSERT_FALSE(IsWindow(question->box)) << "the question outlived the join";
  const auto result = app.WaitForMessageBox();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->text, L"終了しました。");
  app.PressOk(*result);
  EXPECT_EQ(ReadFile(dir / "restore" / "src.bin"), ReadFile(dir / "src.bin"));
}

}  // namespace
}  // namespace vokram::uitest
