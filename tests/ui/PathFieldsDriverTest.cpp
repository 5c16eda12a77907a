// The four path boxes of Vokram.exe driven from another process: the browse
// buttons with the real pickers, files dropped the plain way and through OLE,
// and the tidy-up on focus.
#include "DragDrop.h"
#include "DriverFixture.h"

namespace vokram::uitest {
namespace {

constexpr wchar_t kFileTitle[] = L"ファイルを選択して下さい。";
constexpr wchar_t kFolderPrompt[] = L"保存するフォルダを選択し、[OK] を押してください";

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

struct Browse {
  int button;
  int box;
  bool joinPanel;
};

class PathFieldsDriverTest : public WindowDriverTest {
 protected:
  // Opens the picker of a browse button; the box is filled first, so that
  // what the picker's answer does to it shows.
  HWND OpenPicker(const Browse& browse) {
    if (browse.joinPanel) app.MenuAndWait(IDM_mnuKetsugou);
    app.SetText(browse.box, L"C:\\before\\value");
    app.Click(browse.button);
    return app.WaitForDialog();
  }

  bool HasPrompt(HWND picker) const {
    for (const auto& text : StaticTexts(picker)) {
      if (text.find(kFolderPrompt) != std::wstring::npos) return true;
    }
    return false;
  }

  // Tab until the focus is on control id; false when it never gets there.
  bool TabTo(int id) {
    int focused = app.FocusedId();
    for (int i = 0; i < 12 && focused != id; ++i) {
      app.PressKey(VK_TAB);
      focused = app.WaitForFocusOtherThan(focused);
    }
    return focused == id;
  }
};

TEST_F(PathFieldsDriverTest, FileButtonsOpenTheFilePickerAndACancelEmptiesTheirBox) {
  for (const Browse browse : {Browse{IDC_cmdSrcRef0, IDC_txtSrcFile, false},
                              Browse{IDC_cmdSrcRef1, IDC_txtVokFile, true}}) {
    HWND picker = OpenPicker(browse);
    ASSERT_NE(picker, nullptr) << browse.button;
    EXPECT_EQ(WindowText(picker), kFileTitle);
    EXPECT_FALSE(app.IsEnabled(app.Main())) << "the picker is modal";
    app.CloseDialog(picker, IDCANCEL);
    EXPECT_EQ(app.Text(browse.box), L"");
    EXPECT_EQ(app.FocusedId(), browse.button);
  }
}

TEST_F(PathFieldsDriverTest, FolderButtonsOpenTheFolderBrowserAndACancelEmptiesTheirBox) {
  for (const Browse browse : {Browse{IDC_cmdRef0, IDC_txtDstdir, false},
                              Browse{IDC_cmdRef1, IDC_txtSaveDir, true}}) {
    HWND picker = OpenPicker(browse);
    ASSERT_NE(picker, nullptr) << browse.button;
    EXPECT_TRUE(HasPrompt(picker)) << browse.button;
    EXPECT_NE(WindowText(picker), kFileTitle);
    app.CloseDialog(picker, IDCANCEL);
    EXPECT_EQ(app.Text(browse.box), L"");
    EXPECT_EQ(app.FocusedId(), browse.button);
  }
}

TEST_F(PathFieldsDriverTest, ConfirmedFolderLandsInItsBoxAndTheOtherBoxKeepsItsText) {
  fs::create_directories(dir / "出力 先");
  const std::wstring folder = FromUnixPath(W(dir / "出力 先"));
  app.SetText(IDC_txtSaveDir, L"join folder");
  HWND picker = OpenPicker({IDC_cmdRef0, IDC_txtDstdir, false});
  ASSERT_NE(picker, nullptr);
  ASSERT_TRUE(app.SelectFolder(picker, folder));
  app.CloseDialog(picker, IDOK);
  // Wine may report the drive letter in either case.
  const std::wstring chosen = app.Text(IDC_txtDstdir);
  ASSERT_EQ(chosen.size(), folder.size()) << testing::PrintToString(chosen);
  EXPECT_EQ(Upper(chosen), Upper(folder));
  EXPECT_EQ(app.Text(IDC_txtSaveDir), L"join folder");
  EXPECT_EQ(app.FocusedId(), IDC_cmdRef0);
}

TEST_F(PathFieldsDriverTest, ConfirmedFileLandsInTxtVokFileAsThePickerGivesIt) {
  const std::wstring name = L"vokram-browse-" + std::to_wstring(app.ProcessId()) + L".vok";
  HWND picker = OpenPicker({IDC_cmdSrcRef1, IDC_txtVokFile, true});
  ASSERT_NE(picker, nullptr);
  // The file-name box of the dialog template (cmb13, or edt1 in older ones).
  HWND nameBox = GetDlgItem(picker, 0x47C);
  if (!nameBox) nameBox = GetDlgItem(picker, 0x480);
  ASSERT_NE(nameBox, nullptr);
  SendMessageTimeoutW(nameBox, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()),
                      SMTO_NORMAL, 5000, nullptr);
  app.CloseDialog(picker, IDOK);
  const std::wstring chosen = app.Text(IDC_txtVokFile);
  ASSERT_EQ(chosen.size(), 3 + name.size()) << testing::PrintToString(chosen);
  EXPECT_EQ(chosen.substr(1), L":\\" + name);
}

TEST_F(PathFieldsDriverTest, PlainDropPutsTheFirstOfThreePathsIntoTxtSrcFile) {
  app.SetText(IDC_txtSrcFile, L"old text that the drop replaces");
  app.DropFiles(IDC_txtSrcFile, {L"C:\\in\\first.bin", L"C:\\in\\second.bin", L"C:\\in\\third.bin"});
  EXPECT_EQ(app.Text(IDC_txtSrcFile), L"C:\\in\\first.bin");
  EXPECT_EQ(app.Text(IDC_txtDstdir), L"");
}

TEST_F(PathFieldsDriverTest, PlainDropIsTakenUntrimmedWithoutMovingTheFocus) {
  ASSERT_EQ(app.FocusedId(), IDC_txtSrcFile);
  app.DropFiles(IDC_txtDstdir, {L"  D:\\with spaces  "});
  EXPECT_EQ(app.Text(IDC_txtDstdir), L"  D:\\with spaces  ");
  EXPECT_EQ(app.FocusedId(), IDC_txtSrcFile);
}

TEST_F(PathFieldsDriverTest, PlainDropOfAFolderOnTxtVokFileIsTakenAsText) {
  app.MenuAndWait(IDM_mnuKetsugou);
  const std::wstring folder = FromUnixPath(W(dir.Path()));
  app.DropFiles(IDC_txtVokFile, {folder});
  EXPECT_EQ(app.Text(IDC_txtVokFile), folder);
  EXPECT_TRUE(app.NoMessageBox());
}

TEST_F(PathFieldsDriverTest, PlainDropOnTheSizeBoxChangesNothing) {
  app.SetText(IDC_txtMinSize, L"100");
  EXPECT_EQ(GetWindowLongPtrW(app.Control(IDC_txtMinSize), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
  app.DropFiles(IDC_txtMinSize, {L"C:\\in\\file.bin"});
  EXPECT_EQ(app.Text(IDC_txtMinSize), L"100");
  EXPECT_EQ(app.Text(IDC_txtSrcFile), L"");
}

// OLE drags, as from Explorer, from this process.
class OleDropDriverTest : public PathFieldsDriverTest {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
  void TearDown() override { OleUninitialize(); }
};

TEST_F(OleDropDriverTest, ThreeDraggedFilesPutTheFirstIntoTxtSrcFile) {
  app.SetText(IDC_txtSrcFile, L"old");
  auto data = NewDataObject(std::vector<std::wstring>{L"C:\\a\\one.zip", L"C:\\a\\two.zip",
                                                      L"C:\\a\\three.zip"});
  const DragOutcome outcome = DragOnto(app.Control(IDC_txtSrcFile), data.get());
  EXPECT_EQ(outcome.result, DRAGDROP_S_DROP);
  EXPECT_TRUE(outcome.accepted);
  EXPECT_EQ(outcome.effect, static_cast<DWORD>(DROPEFFECT_COPY));
  app.Sync();
  EXPECT_EQ(app.Text(IDC_txtSrcFile), L"C:\\a\\one.zip");
}

TEST_F(OleDropDriverTest, DraggedTextIsRefusedAndLeavesTheBoxAsItWas) {
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtVokFile, L"D:\\kept.vok");
  auto data = NewDataObject(std::nullopt, L"C:\\just\\text.vok");
  const DragOutcome outcome = DragOnto(app.Control(IDC_txtVokFile), data.get());
  EXPECT_FALSE(outcome.accepted);
  EXPECT_EQ(outcome.effect, static_cast<DWORD>(DROPEFFECT_NONE));
  app.Sync();
  EXPECT_EQ(app.Text(IDC_txtVokFile), L"D:\\kept.vok");
}

TEST_F(OleDropDriverTest, DraggedFilesAreRefusedOverTheSizeBox) {
  app.SetText(IDC_txtMinSize, L"100");
  auto data = NewDataObject(std::vector<std::wstring>{L"C:\\a\\one.zip"});
  const DragOutcome outcome = DragOnto(app.Control(IDC_txtMinSize), data.get());
  EXPECT_FALSE(outcome.accepted);
  EXPECT_EQ(outcome.effect, static_cast<DWORD>(DROPEFFECT_NONE));
  app.Sync();
  EXPECT_EQ(app.Text(IDC_txtMinSize), L"100");
  EXPECT_EQ(app.Text(IDC_txtSrcFile), L"");
}

TEST_F(PathFieldsDriverTest, TabbingIntoTxtSaveDirTrimsItAndSelectsTheWholeText) {
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtSaveDir, L"  C:\\out  ");
  ASSERT_TRUE(TabTo(IDC_txtSaveDir));
  app.Sync();
  EXPECT_EQ(app.Text(IDC_txtSaveDir), L"C:\\out");
  EXPECT_EQ(app.Selection(IDC_txtSaveDir), std::make_pair(0, 6));
}

TEST_F(PathFieldsDriverTest, ABoxOfOnlySpacesIsEmptyOnceFocused) {
  app.SetText(IDC_txtDstdir, L"    ");
  app.SetText(IDC_txtMinSize, L"  7  ");
  ASSERT_TRUE(TabTo(IDC_txtDstdir));
  app.Sync();
  EXPECT_EQ(app.Text(IDC_txtDstdir), L"");
  // Only the path boxes tidy themselves.
  ASSERT_TRUE(TabTo(IDC_txtMinSize));
  app.Sync();
  EXPECT_EQ(app.Text(IDC_txtMinSize), L"  7  ");
}

TEST_F(PathFieldsDriverTest, ModeSwitchesKeepAllFourPaths) {
  const std::pair<int, std::wstring> paths[] = {{IDC_txtSrcFile, L"C:\\src.bin"},
                                                {IDC_txtDstdir, L" D:\\pieces "},
                                                {IDC_txtVokFile, L"E:\\src.vok"},
                                                {IDC_txtSaveDir, L"F:\\joined"}};
  for (const auto& [id, text] : paths) app.SetText(id, text);
  for (int round = 0; round < 2; ++round) {
    app.MenuAndWait(IDM_mnuKetsugou);
    app.MenuAndWait(IDM_mnuBunkatsu);
  }
  app.MenuAndWait(IDM_mnuKetsugou);
  for (const auto& [id, text] : paths) EXPECT_EQ(app.Text(id), text) << id;
}

TEST_F(PathFieldsDriverTest, SavingBesideTheVokFileLeavesTheFolderRowInUse) {
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtSaveDir, L"G:\\restore");
  app.ClickAndWait(IDC_optSavePath1);
  EXPECT_TRUE(app.IsChecked(IDC_optSavePath1));
  EXPECT_EQ(app.Text(IDC_txtSaveDir), L"G:\\restore");
  EXPECT_TRUE(app.IsEnabled(app.Control(IDC_txtSaveDir)));
  EXPECT_TRUE(app.IsEnabled(app.Control(IDC_cmdRef1)));
  // Its browse button still opens the folder browser.
  app.Click(IDC_cmdRef1);
  HWND picker = app.WaitForDialog();
  ASSERT_NE(picker, nullptr);
  EXPECT_TRUE(HasPrompt(picker));
  app.CloseDialog(picker, IDCANCEL);
  EXPECT_EQ(app.Text(IDC_txtSaveDir), L"");
}

}  // namespace
}  // namespace vokram::uitest
