// Split, check and join through the window in a folder whose path is over
// 300 characters. Wine's pickers cannot reach such a folder (its shell does
// not parse the path, its file dialog fails on it), so the source is dropped
// and the other boxes are typed into.
#include "DeepFolder.h"
#include "DriverFixture.h"
#include "File.h"

namespace vokram::uitest {
namespace {

TEST_F(WindowDriverTest, SplitCheckAndJoinInAFolderBeyondMaxPath) {
  const test::DeepFolder deep(dir.Path(), 8);
  const fs::path source = deep.Path() / L"長い道.bin", parts = deep.Path() / L"分割", restored = deep.Path() / L"復元";
  ASSERT_GT(parts.native().size(), 300u);
  const Bytes content = test::RandomBytes(200 * 1024 + 3, 5);
  WriteFile(source, content);
  fs::create_directory(parts);
  fs::create_directory(restored);

  app.DropFiles(IDC_txtSrcFile, {W(source)});
  EXPECT_EQ(app.Text(IDC_txtSrcFile), W(source));
  app.SetText(IDC_txtDstdir, W(parts));
  app.SetText(IDC_txtMinSize, L"20");
  app.SetText(IDC_txtMaxSize, L"40");
  ExpectRunFinishes();
  std::vector<fs::path> pieces;
  for (int i = 0; NameExists(parts / PieceName(L"長い道", i)); ++i) pieces.push_back(parts / PieceName(L"長い道", i));
  ASSERT_GE(pieces.size(), 5u);
  EXPECT_EQ(test::Concatenate(pieces), content);

  JoinFields(W(parts / L"長い道.vok"), true, W(restored));
  app.ClickAndWait(IDC_cmdChk);
  std::wstring report;
  for (int i = 0; i < static_cast<int>(pieces.size()); ++i) report += L" ○  " + PieceName(L"長い道", i) + L"\r\n";
  EXPECT_EQ(app.Text(IDC_txtChkCRC), report);
  ExpectRunFinishes();
  EXPECT_EQ(ReadFile(restored / L"長い道.bin"), content);
}

}  // namespace
}  // namespace vokram::uitest
