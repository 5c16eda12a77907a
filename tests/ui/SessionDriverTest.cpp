// Keys, questions and the end of the session while an operation runs, driven
// against the window with an engine 40 ms slower per read and write
// (SlowVokram.cpp): a join of 1 KiB pieces lasts seconds.
#include <thread>

#include "DriverFixture.h"

namespace vokram::uitest {
namespace {

class SessionDriverTest : public ::testing::Test {
 protected:
  VokramProcess app{SlowVokramExe(), L"40"};
  TempDir dir;

  // A source of `pieces` KiB in 1 KiB pieces p.000...; the descriptor.
  fs::path Pieces(int pieces) {
    WriteFile(dir / "src.bin", test::RandomBytes(static_cast<std::size_t>(pieces) * 1024));
    SplitFile((dir / "src.bin").native(), (dir / "p").native(), 1, 1, SplitOptions{true, false});
    return dir / "src.vok";
  }

  void FocusOn(int id) {
    for (int i = 0, from = app.FocusedId(); i < 25 && from != id; ++i) {
      app.PressKey(VK_TAB);
      from = app.WaitForFocusOtherThan(from);
    }
    ASSERT_EQ(app.FocusedId(), id);
  }

  // Until the folder holds more than `count` names: the operation writes.
  void WaitForMoreThan(const fs::path& folder, std::size_t count) {
    for (int i = 0; i < 2000 && test::Listing(folder).size() <= count; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(test::Listing(folder).size(), count);
  }
};

// Esc in the multi-line report box once closed its panel. Idle it does
// nothing and Enter is a new line; during a check Enter changes nothing of
// the report and Esc asks, and the question goes when the check ends.
TEST_F(SessionDriverTest, EscAndEnterInTheReportBoxIdleAndDuringACheck) {
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtVokFile, W(Pieces(60)));
  FocusOn(IDC_txtChkCRC);
  app.PressKey(VK_ESCAPE);
  app.PressKey(VK_RETURN);
  EXPECT_TRUE(app.WaitForText(IDC_txtChkCRC, L"\r\n"));
  EXPECT_TRUE(app.NoMessageBox());

  app.Click(IDC_cmdChk);
  app.WaitForFocusOtherThan(IDC_txtChkCRC);  // the click focused cmdChk: the check runs
  FocusOn(IDC_txtChkCRC);
  app.PressKey(VK_RETURN);
  app.PressKey(VK_ESCAPE);
  const auto question = app.WaitForMessageBox();
  ASSERT_TRUE(question);
  EXPECT_EQ(question->text, L"処理を中止しますか？");
  std::wstring report;
  for (int i = 0; i < 60; ++i) report += L" ○  p.0" + std::wstring(i < 10 ? L"0" : L"") + std::to_wstring(i) + L"\r\n";
  EXPECT_TRUE(app.WaitForText(IDC_txtChkCRC, report)) << Utf8(app.Text(IDC_txtChkCRC));
  for (int i = 0; i < 500 && IsWindow(question->box); ++i) Sleep(10);
  EXPECT_FALSE(IsWindow(question->box)) << "the question outlived the check";
  EXPECT_TRUE(app.NoMessageBox());
  EXPECT_TRUE(app.IsVisible(IDC_txtChkCRC));
  EXPECT_EQ(app.Caption(), L"Vokram　－　結合");
}

// A logoff during a join over an older file: when WM_ENDSESSION returns the
// join has stopped and cleaned up; the program then ends without a message.
TEST_F(SessionDriverTest, EndOfSessionDuringAJoinStopsItAndCleansUpBeforeAnswering) {
  fs::create_directories(dir / "restore");
  WriteFile(dir / "restore" / "src.bin", test::AsBytes("older"));
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtVokFile, W(Pieces(200)));
  app.SetText(IDC_txtSaveDir, W(dir / "restore"));
  EXPECT_EQ(app.RunAndAnswer(IDYES).title, L"確認");
  WaitForMoreThan(dir / "restore", 1);

  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(app.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  ASSERT_TRUE(SendMessageTimeoutW(app.Main(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer));
  EXPECT_EQ(test::Listing(dir / "restore"), std::vector<fs::path>{"src.bin"});
  EXPECT_EQ(ReadFile(dir / "restore" / "src.bin"), test::AsBytes("older"));
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));
}

// Esc, then a close while its question shows: no second question (the sent
// close would wait for it), and Yes stops, takes back the pieces and quits.
TEST_F(SessionDriverTest, EscThenCloseDuringASplitAsksOnceAndYesQuitsLeavingNothing) {
  WriteFile(dir / "src.bin", test::RandomBytes(100 * 1024));
  fs::create_directories(dir / "out");
  app.SetText(IDC_txtSrcFile, W(dir / "src.bin"));
  app.SetText(IDC_txtDstdir, W(dir / "out"));
  app.SetText(IDC_txtMinSize, L"1");
  app.SetText(IDC_txtMaxSize, L"1");
  app.Click(IDC_cmdRun);
  WaitForMoreThan(dir / "out", 1);
  app.PressKey(VK_ESCAPE);
  const auto question = app.WaitForMessageBox();
  ASSERT_TRUE(question);
  EXPECT_EQ(question->text, L"処理を中止しますか？");
  EXPECT_TRUE(SendMessageTimeoutW(app.Main(), WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, nullptr));
  app.PressOk(*question, IDYES);
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(test::Listing(dir / "out"), std::vector<fs::path>{});
}

}  // namespace
}  // namespace vokram::uitest
