// Keys, questions and the end of the session while an operation runs, against
// the window with an engine 40 ms slower per read and write (SlowVokram.cpp).
#include "DriverFixture.h"

namespace vokram::uitest {
namespace {

class SessionDriverTest : public WindowDriverTest {
 protected:
  SessionDriverTest() : WindowDriverTest(FromUnixPath(SLOW_VOKRAM_EXE), L"40") {}

  // `kib` KiB in pieces p.000... of 1 KiB; the descriptor.
  fs::path Pieces(std::size_t kib) {
    WriteFile(dir / "src.bin", test::RandomBytes(kib * 1024));
    return SplitWithEngine(dir / "src.bin", dir.Path(), L"p", 1, 1);
  }
  void FocusOn(int id) {
    for (int i = 0, from = app.FocusedId(); i < 25 && from != id; ++i) {
      app.PressKey(VK_TAB);
      from = app.WaitForFocusOtherThan(from);
    }
    ASSERT_EQ(app.FocusedId(), id);
  }
  // Until the operation has written into the folder.
  void WaitForMoreThan(const fs::path& folder, std::size_t names) {
    for (int i = 0; i < 2000 && test::Listing(folder).size() <= names; ++i) Sleep(10);
    ASSERT_GT(test::Listing(folder).size(), names);
  }
  void EscAsks() {
    app.PressKey(VK_ESCAPE);
    question = app.WaitForMessageBox();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->text, L"処理を中止しますか？");
  }
  std::optional<MessageBoxSeen> question;
};

// Esc in the report box once closed its panel. Idle it does nothing and Enter
// is a new line; during a check Enter leaves the report whole and Esc asks,
// and the question goes when the check ends.
TEST_F(SessionDriverTest, EscAndEnterInTheReportBoxIdleAndDuringACheck) {
  JoinFields(W(Pieces(60)), true, L"");
  FocusOn(IDC_txtChkCRC);
  app.PressKey(VK_ESCAPE);
  app.PressKey(VK_RETURN);
  EXPECT_TRUE(app.WaitForText(IDC_txtChkCRC, L"\r\n"));
  EXPECT_TRUE(app.NoMessageBox());
  app.Click(IDC_cmdChk);
  app.WaitForFocusOtherThan(IDC_txtChkCRC);  // the click focused cmdChk: the check runs
  FocusOn(IDC_txtChkCRC);
  app.PressKey(VK_RETURN);
  EscAsks();
  std::wstring report;
  for (int i = 0; i < 60; ++i) report += (i < 10 ? L" ○  p.00" : L" ○  p.0") + std::to_wstring(i) + L"\r\n";
  EXPECT_TRUE(app.WaitForText(IDC_txtChkCRC, report)) << Utf8(app.Text(IDC_txtChkCRC));
  for (int i = 0; i < 500 && IsWindow(question->box); ++i) Sleep(10);
  EXPECT_TRUE(app.NoMessageBox()) << "the question outlived the check";
  EXPECT_EQ(app.Caption(), L"Vokram　－　結合");
}

// When WM_ENDSESSION returns, the join has stopped and cleaned up.
TEST_F(SessionDriverTest, EndOfSessionDuringAJoinStopsItAndCleansUpBeforeAnswering) {
  fs::create_directories(dir / "restore");
  WriteFile(dir / "restore" / "src.bin", test::AsBytes("older"));
  JoinFields(W(Pieces(200)), true, W(dir / "restore"));
  EXPECT_EQ(app.RunAndAnswer(IDYES).title, L"確認");
  WaitForMoreThan(dir / "restore", 1);
  DWORD_PTR answer = 0;
  EXPECT_TRUE(SendMessageTimeoutW(app.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 9000, &answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  EXPECT_TRUE(SendMessageTimeoutW(app.Main(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer));
  EXPECT_EQ(test::Listing(dir / "restore"), std::vector<fs::path>{"src.bin"});
  EXPECT_EQ(ReadFile(dir / "restore" / "src.bin"), test::AsBytes("older"));
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));  // and no message
}

// A close while Esc's question shows opens no other (the sent close would
// wait for it); Yes then stops, takes back the pieces and quits.
TEST_F(SessionDriverTest, EscThenCloseDuringASplitAsksOnceAndYesQuitsLeavingNothing) {
  WriteFile(dir / "src.bin", test::RandomBytes(100 * 1024));
  fs::create_directories(dir / "out");
  SplitFields(W(dir / "src.bin"), W(dir / "out"), L"", L"1", L"1");
  app.Click(IDC_cmdRun);
  WaitForMoreThan(dir / "out", 1);
  EscAsks();
  EXPECT_TRUE(SendMessageTimeoutW(app.Main(), WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, nullptr));
  app.PressOk(*question, IDYES);
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));
  EXPECT_EQ(test::Listing(dir / "out"), std::vector<fs::path>{});
}

}  // namespace
}  // namespace vokram::uitest
