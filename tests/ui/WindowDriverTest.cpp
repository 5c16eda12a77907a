// Vokram.exe started as its own process and driven from outside through its
// controls: the start state, the mode switch, the keyboard, the version
// window and the end of the program.
#include "DriverFixture.h"

namespace vokram::uitest {
namespace {

TEST_F(WindowDriverTest, StartsInSplitModeInItsDesignState) {
  EXPECT_EQ(app.Caption(), L"Vokram　－　分割");
  EXPECT_TRUE(app.IsVisible(IDC_picBunkatsu));
  EXPECT_FALSE(app.IsVisible(IDC_picKetsugou));
  for (int id : {IDC_txtSrcFile, IDC_txtDstdir, IDC_txtMinSize, IDC_txtMaxSize, IDC_txtDstFileName,
                 IDC_txtVokFile, IDC_txtSaveDir, IDC_txtChkCRC}) {
    EXPECT_EQ(app.Text(id), L"") << id;
  }
  EXPECT_TRUE(app.IsChecked(IDC_chkVokFile));
  EXPECT_FALSE(app.IsChecked(IDC_chkBatFile));
  EXPECT_FALSE(app.IsChecked(IDC_chkRecovery));
  EXPECT_TRUE(app.IsChecked(IDC_optSavePath0));
  EXPECT_FALSE(app.IsChecked(IDC_optSavePath1));
  for (int id : {IDC_cmdSrcRef0, IDC_cmdRef0, IDC_cmdSrcRef1, IDC_cmdRef1}) {
    EXPECT_EQ(app.Text(id), L"．．．") << id;
  }
  EXPECT_EQ(app.Text(IDC_cmdRun), L"実行");
  EXPECT_EQ(app.Text(IDC_cmdEnd), L"終了");
  EXPECT_EQ(app.Text(IDC_chkVokFile), L"vok ファイルを作成");
  EXPECT_EQ(app.Text(IDC_chkRecovery), L"リカバリファイルを作成");
  EXPECT_EQ(app.Text(IDC_optSavePath1), L"vok ファイルと同じ場所に保存");
  EXPECT_EQ(app.Text(IDC_Label8_1), L"△：破損ファイル");
  EXPECT_EQ(app.FocusedId(), IDC_txtSrcFile);
}

TEST_F(WindowDriverTest, ModeSwitchKeepsEveryFieldAndChangesTheCaption) {
  app.SetText(IDC_txtSrcFile, L"C:\\data\\movie.avi");
  app.SetText(IDC_txtMinSize, L"10");
  app.ClickAndWait(IDC_chkBatFile);
  app.MenuAndWait(IDM_mnuKetsugou);
  EXPECT_EQ(app.Caption(), L"Vokram　－　結合");
  EXPECT_FALSE(app.IsVisible(IDC_picBunkatsu));
  EXPECT_TRUE(app.IsVisible(IDC_picKetsugou));
  EXPECT_FALSE(app.IsVisible(IDC_cmdSrcRef0));
  EXPECT_TRUE(app.IsVisible(IDC_cmdRun));

  app.SetText(IDC_txtVokFile, L"D:\\parts\\movie.vok");
  app.SetText(IDC_txtChkCRC, L" ○  movie.000\r\n");
  app.ClickAndWait(IDC_optSavePath1);
  app.MenuAndWait(IDM_mnuBunkatsu);
  EXPECT_EQ(app.Caption(), L"Vokram　－　分割");
  EXPECT_EQ(app.Text(IDC_txtSrcFile), L"C:\\data\\movie.avi");
  EXPECT_EQ(app.Text(IDC_txtMinSize), L"10");
  EXPECT_TRUE(app.IsChecked(IDC_chkBatFile));

  // Choosing the mode already shown changes nothing.
  app.MenuAndWait(IDM_mnuBunkatsu);
  EXPECT_EQ(app.Caption(), L"Vokram　－　分割");
  EXPECT_TRUE(app.IsVisible(IDC_picBunkatsu));

  app.MenuAndWait(IDM_mnuKetsugou);
  EXPECT_EQ(app.Text(IDC_txtVokFile), L"D:\\parts\\movie.vok");
  EXPECT_EQ(app.Text(IDC_txtChkCRC), L" ○  movie.000\r\n");
  EXPECT_TRUE(app.IsChecked(IDC_optSavePath1));
  EXPECT_FALSE(app.IsChecked(IDC_optSavePath0));
  // The other option leaves the folder row usable.
  EXPECT_TRUE(app.IsEnabled(app.Control(IDC_txtSaveDir)));
  EXPECT_TRUE(app.IsEnabled(app.Control(IDC_cmdRef1)));
}

TEST_F(WindowDriverTest, RunAtOnceAsksForTheSourceFileOnly) {
  ExpectRunWarns(L"対象ファイルを入力してください。");
}

TEST_F(WindowDriverTest, TabWalksTheSplitPanelAndSkipsTheHiddenOne) {
  ASSERT_EQ(app.FocusedId(), IDC_txtSrcFile);
  const int expected[] = {IDC_cmdSrcRef0, IDC_txtDstdir,  IDC_cmdRef0,    IDC_txtMinSize,
                          IDC_txtMaxSize, IDC_txtDstFileName, IDC_chkVokFile, IDC_chkBatFile,
                          IDC_chkRecovery, IDC_txtRecovery,
                          IDC_cmdRun,     IDC_cmdEnd,     IDC_txtSrcFile};
  int from = IDC_txtSrcFile;
  for (int id : expected) {
    app.PressKey(VK_TAB);
    from = app.WaitForFocusOtherThan(from);
    EXPECT_EQ(from, id);
  }
}

TEST_F(WindowDriverTest, EnterAndEscapePressNoButton) {
  // Focus on End: Enter and Esc must neither close the window nor run.
  int focused = app.FocusedId();
  for (int i = 0; i < 12 && focused != IDC_cmdEnd; ++i) {
    app.PressKey(VK_TAB);
    focused = app.WaitForFocusOtherThan(focused);
  }
  ASSERT_EQ(focused, IDC_cmdEnd);
  app.PressKey(VK_RETURN);
  app.PressKey(VK_ESCAPE);
  // Posted messages are handled in order: the box of this click comes first
  // unless a key above started something.
  const MessageBoxSeen box = app.RunAndAnswer();
  EXPECT_EQ(box.text, L"対象ファイルを入力してください。");
  EXPECT_FALSE(app.WaitForExit(200).has_value());
}

// The split checks in their order, each with its message and focus.

TEST_F(WindowDriverTest, VersionWindowIsModalAndComposesItsTextOnEveryLoad) {
  for (int round = 0; round < 3; ++round) {
    app.Menu(IDM_mnuVer);
    HWND ver = app.WaitForWindow(L"バージョン");
    ASSERT_NE(ver, nullptr);
    EXPECT_EQ(WindowText(GetDlgItem(ver, IDC_lblVer)), L"Vokram Ver.0.1.0");
    EXPECT_NE(WindowText(GetDlgItem(ver, IDC_Ver_Label2)).find(L"2002"), std::wstring::npos);
    EXPECT_EQ(WindowText(GetDlgItem(ver, IDC_Ver_cmdEnd)), L"OK");
    EXPECT_FALSE(app.IsEnabled(app.Main()));
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(GetDlgItem(ver, IDC_Image1), STM_GETICON, 0, 0, SMTO_NORMAL, 5000, &icon);
    EXPECT_NE(icon, 0u);
    // Centred on the screen.
    RECT frame, work;
    GetWindowRect(ver, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((frame.left + frame.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (work.top + work.bottom) / 2, 1);

    // Escape closes nothing, nor a close another program sends the main
    // window (it was destroyed under the version window's loop); then each
    // round closes another way.
    app.PressKey(VK_ESCAPE);
    SendMessageTimeoutW(app.Main(), WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, nullptr);
    app.Sync();
    EXPECT_TRUE(IsWindow(ver));
    if (round == 0) {
      app.PressKey(VK_RETURN);
    } else if (round == 1) {
      app.PressKey(VK_SPACE);
    } else {
      PostMessageW(ver, WM_CLOSE, 0, 0);
    }
    for (int i = 0; i < 500 && IsWindow(ver); ++i) Sleep(10);
    EXPECT_FALSE(IsWindow(ver)) << "round " << round;
    app.Sync();
    EXPECT_TRUE(app.IsEnabled(app.Main()));
  }
}

TEST_F(WindowDriverTest, EndClosesTheProgramWithoutAQuestion) {
  app.SetText(IDC_txtSrcFile, L"something typed");
  app.Click(IDC_cmdEnd);
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));
}

TEST_F(WindowDriverTest, TitleBarCloseEndsTheProgram) {
  app.MenuAndWait(IDM_mnuKetsugou);
  PostMessageW(app.Main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(app.WaitForExit(), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace vokram::uitest
