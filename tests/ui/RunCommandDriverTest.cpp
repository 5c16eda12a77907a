// The Run command and the piece check driven from outside through the
// fields: every check the window can reach, split and join ending in
// "終了しました。" with the right files, failures without it, and the report.
#include "DriverFixture.h"

namespace vokram::uitest {
namespace {

TEST_F(WindowDriverTest, SplitChecksReportTheFirstProblem) {
  const fs::path source = dir / "movie.part1.avi";
  WriteFile(source, test::RandomBytes(5000));
  fs::create_directories(dir / "out");
  const std::wstring src = W(source), out = W(dir / "out");

  SplitFields(L"   ", out, L"", L"1", L"2");
  ExpectRunWarns(L"対象ファイルを入力してください。");
  for (const std::wstring& notAFile :
       {W(dir / "missing.bin"), out, out + L"\\", W(dir / "movie.*"), W(dir / "movie.part1.av?")}) {
    SplitFields(notAFile, out, L"", L"1", L"2");
    ExpectRunWarns(L"対象ファイルが存在しません。");
  }
  SplitFields(src, L"  ", L"", L"1", L"2");
  ExpectRunWarns(L"保存フォルダを入力してください。");
  SplitFields(src, src, L"", L"1", L"2");
  ExpectRunWarns(L"保存先のフォルダが存在しません。");
  SplitFields(src, W(dir / "nowhere"), L"", L"1", L"2");
  ExpectRunWarns(L"保存先のフォルダが存在しません。");

  // The base name is derived before the size checks and stays.
  SplitFields(src, out, L"", L"", L"2");
  ExpectRunWarns(L"最小サイズが入力されていません。", IDC_txtMinSize);
  EXPECT_EQ(app.Text(IDC_txtDstFileName), L"movie.part1");

  SplitFields(src, out, L"x", L"1", L" ");
  ExpectRunWarns(L"最大サイズが入力されていません。", IDC_txtMaxSize);
  SplitFields(src, out, L"x", L"abc", L"def");
  ExpectRunWarns(L"数字を入力してください。", IDC_txtMinSize);
  SplitFields(src, out, L"x", L"1", L"2KB");
  ExpectRunWarns(L"数字を入力してください。", IDC_txtMaxSize);
  SplitFields(src, out, L"x", L"-1", L"2");
  ExpectRunWarns(L"0～2097151 の数字を入力してください。", IDC_txtMinSize);
  SplitFields(src, out, L"x", L"1", L"2097152");
  ExpectRunWarns(L"0～2097151 の数字を入力してください。", IDC_txtMaxSize);
  // 2097151.5 rounds to the even 2097152: out of range.
  SplitFields(src, out, L"x", L"2097151.5", L"1");
  ExpectRunWarns(L"0～2097151 の数字を入力してください。", IDC_txtMinSize);

  SplitFields(src, out, L"a:b", L"1", L"2");
  ExpectRunWarns(L"分割ファイル名に使えない文字が含まれています。\\ / : * ? \" < > | を除いてください。", IDC_txtDstFileName);
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

TEST_F(WindowDriverTest, SplitRefusesSourcesAndNamesItCannotHandle) {
  const fs::path empty = dir / "empty.bin";
  WriteFile(empty, Bytes{});
  SplitFields(W(empty), W(dir.Path()), L"", L"1", L"2");
  ExpectRunWarns(L"対象ファイルが空です。1 バイト以上のファイルを指定してください。");

  // 2 GiB without writing them, a sparse file: no size limit of its own, but
  // pieces of 1-2 KiB would be far too many.
  const fs::path huge = dir / "huge.bin";
  WriteFile(huge, Bytes{1});
  fs::resize_file(huge, 0x80000000ull);
  SplitFields(W(huge), W(dir.Path()), L"", L"1", L"2");
  ExpectRunWarns(L"分割数が多すぎます。分割サイズを大きくしてください。", IDC_txtMinSize);

  // Sizes of 0 KB give 1-byte pieces: 32,766 of them is one too many.
  const fs::path many = dir / "many.bin";
  WriteFile(many, test::RandomBytes(32766));
  fs::create_directories(dir / "none");
  SplitFields(W(many), W(dir / "none"), L"m", L"0", L"0");
  ExpectRunWarns(L"分割数が多すぎます。分割サイズを大きくしてください。", IDC_txtMinSize);
  EXPECT_TRUE(fs::is_empty(dir / "none"));

  // "é" has no code page 932 form; the descriptor could not name the source.
  const fs::path accented = dir.Path() / L"café.bin";
  WriteFile(accented, test::RandomBytes(100));
  SplitFields(W(accented), W(dir.Path()), L"cafe", L"1", L"2");
  ExpectRunWarns(L"ファイル名にvokファイルで扱えない文字が含まれています。対象ファイルの名前か分割ファイル名を変えてください。");

  // The first piece would be the source itself.
  const fs::path piece = dir / "a.000";
  WriteFile(piece, test::RandomBytes(100));
  SplitFields(W(piece), W(dir.Path()), L"a", L"1", L"2");
  ExpectRunWarns(L"作成するファイルが対象ファイルを上書きしてしまいます。保存先か分割ファイル名を変えてください。");
  EXPECT_EQ(ReadFile(piece), test::RandomBytes(100));
}

TEST_F(WindowDriverTest, SplitAndJoinThroughTheFieldsWithJapaneseNames) {
  const fs::path source = dir / "日本語の資料.bin";
  const Bytes content = test::RandomBytes(300 * 1024 + 17, 7);
  WriteFile(source, content);
  const fs::path parts = dir / "分割先";
  fs::create_directories(parts);

  // Surrounding spaces are not part of any value; the base name is derived.
  SplitFields(L"  " + W(source) + L" ", W(parts) + L"\\", L"", L" 10 ", L"５０");
  app.ClickAndWait(IDC_chkBatFile);
  // Recovery files for any two pieces; a count that is no number is refused there.
  EXPECT_EQ(app.Text(IDC_txtRecovery), L"1");
  app.ClickAndWait(IDC_chkRecovery);
  app.SetText(IDC_txtRecovery, L"二");
  ExpectRunWarns(L"数字を入力してください。");
  EXPECT_EQ(app.FocusedId(), IDC_txtRecovery);
  app.SetText(IDC_txtRecovery, L"2");
  ExpectRunFinishes();
  EXPECT_EQ(app.Text(IDC_txtDstFileName), L"日本語の資料");

  std::vector<fs::path> pieces;
  for (int i = 0; fs::exists(parts / PieceName(L"日本語の資料", i)); ++i) {
    pieces.push_back(parts / PieceName(L"日本語の資料", i));
  }
  ASSERT_GE(pieces.size(), 6u);  // at most 50 KB + 1 byte each
  EXPECT_EQ(test::Concatenate(pieces), content);
  EXPECT_TRUE(fs::exists(parts / L"日本語の資料.vok"));
  EXPECT_TRUE(fs::exists(parts / L"日本語の資料.bat"));
  // The index and the volumes, none larger than the largest piece.
  std::uintmax_t largest = 0;
  for (const fs::path& piece : pieces) largest = std::max(largest, fs::file_size(piece));
  EXPECT_TRUE(fs::exists(parts / L"日本語の資料.par2"));
  int volumes = 0;
  for (const auto& entry : fs::directory_iterator(parts)) {
    const std::wstring name = entry.path().filename().wstring();
    if (name.starts_with(L"日本語の資料.vol") && name.ends_with(L".par2")) {
      ++volumes;
      EXPECT_LE(entry.file_size(), largest) << Utf8(name);
    }
  }
  EXPECT_GE(volumes, 1);

  // A piece lost and one saved under a browser's name: the check finds the
  // second and says the recovery files restore the first, the join does.
  fs::remove(pieces[1]);
  fs::rename(pieces[2], parts / L"日本語の資料 (1).002");
  const fs::path restored = dir / "復元";
  fs::create_directories(restored);
  JoinFields(L" " + W(parts / L"日本語の資料.vok") + L" ", true, W(restored));
  app.ClickAndWait(IDC_cmdChk);
  const std::wstring report = app.Text(IDC_txtChkCRC);
  EXPECT_NE(report.find(L" ○  日本語の資料.000\r\n ×  日本語の資料.001\r\n ○  日本語の資料 (1).002\r\n"), std::wstring::npos)
      << Utf8(report);
  EXPECT_TRUE(report.ends_with(L"\r\nリカバリファイルで復元できます。\r\n")) << Utf8(report);
  const MessageBoxSeen box = app.RunAndAnswer();
  EXPECT_EQ(box.title, L"終了");
  EXPECT_EQ(box.text, L"終了しました。\n分割ファイル 1 個をリカバリファイルで復元しました。\n"
                      L"「日本語の資料 (1).002」を「日本語の資料.002」として使いました。");
  EXPECT_EQ(ReadFile(restored / L"日本語の資料.bin"), content);
}

TEST_F(WindowDriverTest, JoinIntoTheDescriptorsFolderIgnoresTheFolderField) {
  const fs::path source = dir / "src" / "data.bin";
  fs::create_directories(source.parent_path());
  const Bytes content = test::RandomBytes(40000, 3);
  WriteFile(source, content);
  const fs::path vok = SplitWithEngine(source, dir / "parts", L"data", 4, 8);

  JoinFields(W(vok), false, L"Q:\\does\\not\\exist");
  ExpectRunFinishes();
  EXPECT_EQ(ReadFile(dir / "parts" / "data.bin"), content);
}

TEST_F(WindowDriverTest, JoinChecksAndFailuresReportWithoutCompletion) {
  JoinFields(L"  ", true, L"");
  ExpectRunWarns(L"対象ファイルを入力してください。");
  JoinFields(W(dir / "none.vok"), true, L"");
  ExpectRunWarns(L"対象ファイルが存在しません。");

  const fs::path source = dir / "src" / "data.bin";
  fs::create_directories(source.parent_path());
  WriteFile(source, test::RandomBytes(20000, 5));
  const fs::path vok = SplitWithEngine(source, dir / "parts", L"data", 4, 8);
  const fs::path out = dir / "out";
  fs::create_directories(out);

  JoinFields(W(vok), true, L" ");
  ExpectRunWarns(L"保存先のフォルダを入力してください。");
  JoinFields(W(vok), true, W(dir / "nowhere"));
  ExpectRunWarns(L"保存先のフォルダが存在しません。");
  JoinFields(W(vok), true, W(source));
  ExpectRunWarns(L"保存先のフォルダが存在しません。");

  JoinFields(W(source), true, W(out));
  ExpectRunWarns(L"vokファイルではありません。");

  const Bytes whole = ReadFile(vok);
  const fs::path truncated = dir / "parts" / "cut.vok";
  WriteFile(truncated, Bytes(whole.begin(), whole.begin() + 30));
  JoinFields(W(truncated), true, W(out));
  ExpectRunWarns(L"vokファイルが壊れています。vokファイルをもう一度受け取ってください。");

  // The joined name is taken by a folder: refused, never replaced.
  fs::create_directories(out / "data.bin");
  JoinFields(W(vok), true, W(out));
  ExpectRunWarns(L"保存先に「data.bin」という名前のフォルダがあります。別の保存先を選ぶか、そのフォルダの名前を変えてください。");
  EXPECT_TRUE(fs::is_directory(out / "data.bin"));
  fs::remove(out / "data.bin");

  // A piece changed in place: joined, but not what the descriptor records.
  Bytes piece = ReadFile(dir / "parts" / "data.001");
  piece[10] ^= 0xFF;
  WriteFile(dir / "parts" / "data.001", piece);
  JoinFields(W(vok), true, W(out));
  ExpectRunWarns(L"結合したファイルがvokファイルの記録と一致しません。壊れた分割ファイルがないかチェックしてください。");

  fs::remove(dir / "parts" / "data.001");
  JoinFields(W(vok), true, W(out));
  EXPECT_EQ(app.RunAndAnswer(IDYES).text, L"「data.bin」は既に存在します。置き換えますか？");
  ExpectNextBox(kWarning, L"「data.001」が見つかりません。結合を中止しました。分割ファイルをvokファイルと同じフォルダに置いてください。");
}

// What would destroy a file is refused with its message, and the files stay.
TEST_F(WindowDriverTest, NoFileIsDestroyedThroughAnotherName) {
  const fs::path source = dir / "movie.bin";
  const Bytes content = test::RandomBytes(5000, 9);
  WriteFile(source, content);
  fs::create_directories(dir / "out");
  fs::create_hard_link(source, dir / "out" / "mv.002");
  SplitFields(W(source), W(dir / "out"), L"mv", L"1", L"2");
  ExpectRunWarns(L"作成するファイルが対象ファイルを上書きしてしまいます。保存先か分割ファイル名を変えてください。");
  EXPECT_EQ(ReadFile(source), content);
  fs::remove(dir / "out" / "mv.002");

  // U+301C reads back from code page 932 as U+FF5E: another name.
  const fs::path wave = dir.Path() / L"第1話\u301C第3話.bin";
  WriteFile(wave, content);
  SplitFields(W(wave), W(dir / "out"), L"", L"1", L"2");
  ExpectRunWarns(L"ファイル名にvokファイルで扱えない文字が含まれています。対象ファイルの名前か分割ファイル名を変えてください。");
  EXPECT_TRUE(fs::is_empty(dir / "out"));

  // A source named like its first piece, joined beside its pieces.
  const fs::path named = dir / "src" / "mv.000";
  fs::create_directories(named.parent_path());
  WriteFile(named, content);
  const fs::path vok = SplitWithEngine(named, dir / "parts", L"mv", 1, 2);
  const Bytes firstPiece = ReadFile(dir / "parts" / "mv.000");
  JoinFields(W(vok), false, L"");
  ExpectRunWarns(L"結合したファイルがvokファイルか分割ファイルを上書きしてしまいます。別の保存先を選んでください。");
  EXPECT_EQ(ReadFile(dir / "parts" / "mv.000"), firstPiece);

  // A damaged piece never replaces a good file of the same name, even when
  // the user agreed to replace it.
  fs::create_directories(dir / "restore");
  WriteFile(dir / "restore" / "mv.000", content);
  Bytes piece = ReadFile(dir / "parts" / "mv.001");
  piece[0] ^= 1;
  WriteFile(dir / "parts" / "mv.001", piece);
  JoinFields(W(vok), true, W(dir / "restore"));
  EXPECT_EQ(app.RunAndAnswer(IDYES).text, L"「mv.000」は既に存在します。置き換えますか？");
  const auto kept = app.WaitForMessageBox();
  ASSERT_TRUE(kept);
  app.PressOk(*kept);
  EXPECT_EQ(kept->title, kWarning);
  EXPECT_EQ(kept->text, L"「mv.000」を置き換えませんでした。結合したファイルがvokファイルの記録と一致しません。壊れた分割ファイルがないかチェックしてください。");
  EXPECT_EQ(ReadFile(dir / "restore" / "mv.000"), content);
  EXPECT_EQ(fs::directory_iterator(dir / "restore")->path().filename(), "mv.000");
}

// Files under the outputs' names are replaced only after a Yes; No does
// nothing more and shows nothing more. A folder is never replaced.
TEST_F(WindowDriverTest, ReplacingFilesAsksFirst) {
  const fs::path source = dir / "data.bin";
  WriteFile(source, test::RandomBytes(5000));
  const fs::path vok = SplitWithEngine(source, dir / "out", L"p", 1, 1);
  const auto earlier = test::Listing(dir / "out");
  const Bytes earlierVok = ReadFile(vok);
  WriteFile(source, test::RandomBytes(5000, 2));
  SplitFields(W(source), W(dir / "out"), L"p", L"1", L"1");
  app.Click(IDC_cmdRun);
  const auto no = app.WaitForMessageBox();
  ASSERT_TRUE(no);
  // No is the default button.
  EXPECT_EQ(GetWindowLongW(GetDlgItem(no->box, IDNO), GWL_STYLE) & BS_TYPEMASK, static_cast<LONG>(BS_DEFPUSHBUTTON));
  app.PressOk(*no, IDNO);
  EXPECT_EQ(no->title, L"確認");
  EXPECT_EQ(no->text, L"保存先に同じ名前のファイルが " + std::to_wstring(earlier.size()) + L" 個あります。置き換えますか？");
  EXPECT_TRUE(app.NoMessageBox());
  EXPECT_EQ(test::Listing(dir / "out"), earlier);
  EXPECT_EQ(ReadFile(vok), earlierVok);
  EXPECT_EQ(app.RunAndAnswer(IDYES).title, L"確認");
  ExpectNextBox(L"終了", L"終了しました。");
  EXPECT_NE(ReadFile(vok), earlierVok);

  const Bytes sourceBytes = ReadFile(source);
  JoinFields(W(vok), true, W(dir.Path()));  // where the source itself lies
  EXPECT_EQ(app.RunAndAnswer(IDNO).text, L"「data.bin」は既に存在します。置き換えますか？");
  EXPECT_TRUE(app.NoMessageBox());
  EXPECT_EQ(ReadFile(source), sourceBytes);
  JoinFields(W(vok), false, L"");
  ExpectRunFinishes();
  EXPECT_EQ(app.RunAndAnswer(IDYES).text, L"「data.bin」は既に存在します。置き換えますか？");
  ExpectNextBox(L"終了", L"終了しました。");

  fs::remove(dir / "out" / "p.000");
  fs::create_directories(dir / "out" / "p.000");
  app.MenuAndWait(IDM_mnuBunkatsu);
  SplitFields(W(source), W(dir / "out"), L"p", L"1", L"2");
  ExpectRunWarns(L"保存先に「p.000」という名前のフォルダがあります。別の保存先を選ぶか、そのフォルダの名前を変えてください。");
  EXPECT_TRUE(fs::is_directory(dir / "out" / "p.000"));
}

TEST_F(WindowDriverTest, PieceCheckReportsEveryPieceAndReplacesTheLastReport) {
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtVokFile, L"");
  EXPECT_EQ(app.ClickAndAnswer(IDC_cmdChk).text, L"対象ファイルを入力してください。");
  app.SetText(IDC_txtVokFile, W(dir / "none.vok"));
  EXPECT_EQ(app.ClickAndAnswer(IDC_cmdChk).text, L"対象ファイルが存在しません。");

  const fs::path source = dir / "src" / test::U8("写真.jpg");
  fs::create_directories(source.parent_path());
  WriteFile(source, test::RandomBytes(10 * 1024, 11));
  const fs::path vok = SplitWithEngine(source, dir / "parts", L"写真", 3, 3);  // 4 pieces

  app.SetText(IDC_txtVokFile, L" " + W(vok) + L" ");
  app.ClickAndWait(IDC_cmdChk);
  EXPECT_EQ(app.Text(IDC_txtChkCRC),
            L" ○  写真.000\r\n ○  写真.001\r\n ○  写真.002\r\n ○  写真.003\r\n");
  EXPECT_TRUE(app.NoMessageBox());

  fs::remove(dir / "parts" / L"写真.001");
  Bytes third = ReadFile(dir / "parts" / L"写真.002");
  third[0] ^= 1;
  WriteFile(dir / "parts" / L"写真.002", third);
  app.ClickAndWait(IDC_cmdChk);
  EXPECT_EQ(app.Text(IDC_txtChkCRC),
            L" ○  写真.000\r\n ×  写真.001\r\n △  写真.002\r\n ○  写真.003\r\n");

  const fs::path broken = dir / "parts" / "broken.vok";
  WriteFile(broken, Bytes{'V', 'O', 'K', 1, 2});
  app.SetText(IDC_txtVokFile, W(broken));
  const MessageBoxSeen box = app.ClickAndAnswer(IDC_cmdChk);
  EXPECT_EQ(box.title, kWarning);
  EXPECT_EQ(box.text, L"vokファイルが壊れています。vokファイルをもう一度受け取ってください。");
}

}  // namespace
}  // namespace vokram::uitest
