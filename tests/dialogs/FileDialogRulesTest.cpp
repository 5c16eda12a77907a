// The file dialog's request rules, without a dialog.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "FileDialogRules.h"

namespace vokram {
namespace {

// Half-width katakana, spelt by code point so that a full-width slip in the
// source shows up here.
const std::wstring kHalfWidthOpenFile = L"\uFF8C\uFF67\uFF72\uFF99\u3092\u958B\u304F";  // ﾌｧｲﾙを開く

// A literal with its inner NULs, less the terminator the compiler adds.
template <std::size_t N>
std::wstring Raw(const wchar_t (&text)[N]) {
  return std::wstring(text, N - 1);
}

FileDialogParams Request(std::wstring defaultExt, std::wstring title, std::int32_t maxPathLength,
                         std::wstring fileTitle = {}) {
  FileDialogParams p;
  p.DefaultExt = std::move(defaultExt);
  p.DialogTitle = std::move(title);
  p.MaxPathLength = maxPathLength;
  p.FileTitle = std::move(fileTitle);
  return p;
}

// ---------------------------------------------------------------------------
// Normalisation

TEST(FileDialogNormalise, RequestFields) {
  struct Case {
    const char* what;
    FileDialogParams in;
    std::wstring defaultExt;
    std::wstring title;
    std::int32_t maxPathLength;
    std::wstring fileTitle;
  };
  const std::wstring nuls261(261, L'\0');
  const Case cases[] = {
      {"empty title gets the default", Request(L"", L"", 261), L"", kHalfWidthOpenFile, 261, nuls261},
      {"given title stays", Request(L"", L"題", 261), L"", L"題", 261, nuls261},
      {"leading dot dropped", Request(L".txt", L"t", 261), L"txt", L"t", 261, nuls261},
      {"no dot unchanged", Request(L"txt", L"t", 261), L"txt", L"t", 261, nuls261},
      {"only the first dot goes", Request(L"..gz", L"t", 261), L".gz", L"t", 261, nuls261},
      {"a lone dot becomes empty", Request(L".", L"t", 261), L"", L"t", 261, nuls261},
      {"inner dot stays", Request(L"tar.gz", L"t", 261), L"tar.gz", L"t", 261, nuls261},
      {"length 0 is below the range", Request(L"", L"t", 0), L"", L"t", 261, nuls261},
      {"negative length", Request(L"", L"t", -5), L"", L"t", 261, nuls261},
      {"length 1 is the lower bound", Request(L"", L"t", 1), L"", L"t", 1, std::wstring(1, L'\0')},
      {"length 32768 is the upper bound", Request(L"", L"t", 32768), L"", L"t", 32768,
       std::wstring(32768, L'\0')},
      {"length 32769 is above the range", Request(L"", L"t", 32769), L"", L"t", 261, nuls261},
      {"length 40000", Request(L"", L"t", 40000), L"", L"t", 261, nuls261},
      {"title buffer follows the length", Request(L"", L"t", 520), L"", L"t", 520, std::wstring(520, L'\0')},
      {"given file title stays", Request(L"", L"t", 261, L"a.bin"), L"", L"t", 261, L"a.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FileDialogParams p = c.in;
    NormaliseFileDialogParams(p);
    EXPECT_EQ(p.DefaultExt, c.defaultExt);
    EXPECT_EQ(p.DialogTitle, c.title);
    EXPECT_EQ(p.MaxPathLength, c.maxPathLength);
    EXPECT_EQ(p.FileTitle.size(), c.fileTitle.size());
    EXPECT_EQ(p.FileTitle, c.fileTitle);
  }
}

TEST(FileDialogNormalise, LeavesOtherFieldsAndIsStable) {
  FileDialogParams p = BrowseFileRequest();
  p.FullPath = L"x";
  p.FolderPath = L"y";
  p.Result = 7;
  NormaliseFileDialogParams(p);
  FileDialogParams expected = BrowseFileRequest();
  expected.FullPath = L"x";
  expected.FolderPath = L"y";
  expected.Result = 7;
  expected.FileTitle.assign(261, L'\0');
  EXPECT_EQ(p, expected);

  // A second pass changes nothing: the NUL buffer counts as a given title.
  FileDialogParams again = p;
  NormaliseFileDialogParams(again);
  EXPECT_EQ(again, p);
}

// ---------------------------------------------------------------------------
// Filter conversion and index

TEST(FileDialogFilter, BarsBecomeNulsAndTheListEndsWithTwo) {
  const SystemFilter f = ConvertFilter(L"テキスト(*.txt)|*.txt|全て(*.*)|*.*");
  EXPECT_EQ(f.Segments, 4);
  EXPECT_EQ(f.Text, Raw(L"テキスト(*.txt)\0*.txt\0全て(*.*)\0*.*\0\0"));
  EXPECT_EQ(f.Text.find(L'|'), std::wstring::npos);
}

TEST(FileDialogFilter, SegmentCounts) {
  struct Case {
    std::wstring filter;
    std::int32_t segments;
    std::size_t nuls;
  };
  const Case cases[] = {
      {L"", 1, 2},
      {L"a", 1, 2},
      {L"全てのﾌｧｲﾙ(*.*)|*.*", 2, 3},
      {L"|", 2, 3},
      {L"a||b", 3, 4},
      {L"a|b|", 3, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.filter.size()));
    const SystemFilter f = ConvertFilter(c.filter);
    EXPECT_EQ(f.Segments, c.segments);
    EXPECT_EQ(f.Text.size(), c.filter.size() + 2);
    EXPECT_EQ(static_cast<std::size_t>(std::count(f.Text.begin(), f.Text.end(), L'\0')), c.nuls);
  }
}

TEST(FileDialogFilter, IndexKeptOnlyWhenItNamesASegment) {
  const std::int32_t segments = ConvertFilter(L"A|*.a|B|*.b").Segments;
  ASSERT_EQ(segments, 4);
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {1, 1}, {2, 2}, {3, 3}, {4, 4}, {0, 0}, {5, 0}, {-1, 0}, {100, 0},
  };
  for (const auto& [given, passed] : cases) {
    SCOPED_TRACE(given);
    EXPECT_EQ(SystemFilterIndex(given, segments), passed);
  }
}

TEST(FileDialogFilter, BrowseFileRequestSelectsItsOnePair) {
  const FileDialogParams request = BrowseFileRequest();
  const SystemFilter f = ConvertFilter(request.Filter);
  EXPECT_EQ(f.Segments, 2);
  EXPECT_EQ(SystemFilterIndex(request.FilterIndex, f.Segments), 1);
  // The description keeps its half-width katakana.
  EXPECT_EQ(f.Text, Raw(L"\u5168\u3066\u306E\uFF8C\uFF67\uFF72\uFF99(*.*)\0*.*\0\0"));
}

// ---------------------------------------------------------------------------
// The answer

// A buffer as the dialog leaves it: the text, then NULs up to its capacity.
std::wstring Buffer(const std::wstring& text, std::size_t capacity) {
  std::wstring b = text;
  b.resize(capacity, L'\0');
  return b;
}

TEST(FileDialogAnswerTest, ConfirmedJapanesePath) {
  FileDialogParams request = BrowseFileRequest();
  NormaliseFileDialogParams(request);
  const std::wstring path = L"D:\\データ\\a.bin";
  const FileDialogParams answer = FileDialogAnswer(request, Buffer(path, 261), Buffer(L"a.bin", 262), 7, 1);
  EXPECT_EQ(answer.FullPath, path);
  EXPECT_EQ(answer.FolderPath, L"D:\\データ\\");
  EXPECT_EQ(answer.FileTitle, L"a.bin");
  EXPECT_EQ(answer.Result, 1);
  // The rest is the normalised request.
  EXPECT_EQ(answer.DialogTitle, request.DialogTitle);
  EXPECT_EQ(answer.Filter, request.Filter);
  EXPECT_EQ(answer.MaxPathLength, 261);
}

TEST(FileDialogAnswerTest, FolderIsTheCharactersBeforeTheOffset) {
  FileDialogParams request;
  NormaliseFileDialogParams(request);
  struct Case {
    std::wstring path;
    std::size_t offset;
    std::wstring folder;
  };
  const Case cases[] = {
      {L"C:\\a.bin", 3, L"C:\\"},
      {L"C:\\表\\ソ.txt", 5, L"C:\\表\\"},  // trail byte 0x5C in code page 932
      {L"\\\\srv\\share\\x", 12, L"\\\\srv\\share\\"},
      {L"name", 0, L""},
      {L"C:\\a", 400, L"C:\\a"},  // an offset past the buffer is held to it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    const FileDialogParams answer = FileDialogAnswer(request, Buffer(c.path, 261), Buffer(L"", 262), c.offset, 1);
    EXPECT_EQ(answer.FolderPath, c.folder);
    EXPECT_EQ(answer.FullPath, c.path);
  }
}

TEST(FileDialogAnswerTest, CancelGivesEmptyPathsEvenWhenTheBufferWasWritten) {
  FileDialogParams request = BrowseFileRequest();
  NormaliseFileDialogParams(request);
  // A too-small buffer error leaves the needed size in the first characters.
  std::wstring written = Buffer(L"", 261);
  written[0] = static_cast<wchar_t>(300);
  const FileDialogParams answer = FileDialogAnswer(request, written, Buffer(L"junk", 262), 5, 0);
  EXPECT_EQ(answer.Result, 0);
  EXPECT_EQ(answer.FullPath, L"");
  EXPECT_EQ(answer.FolderPath, L"");
  EXPECT_EQ(answer.FileTitle, L"");
}

TEST(FileDialogAnswerTest, CancelKeepsAGivenFileTitle) {
  FileDialogParams request = Request(L"", L"t", 261, L"start.bin");
  NormaliseFileDialogParams(request);
  const FileDialogParams answer = FileDialogAnswer(request, Buffer(L"", 261), Buffer(L"other", 10), 0, 0);
  EXPECT_EQ(answer.FileTitle, L"start.bin");
  EXPECT_EQ(answer.FullPath, L"");
}

// ---------------------------------------------------------------------------
// TrimAtNull

TEST(TrimAtNullTest, CutsAtTheFirstNul) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"C:\\データ\\a.bin", L"C:\\データ\\a.bin"},
      {L"", L""},
      {Raw(L"\0abc"), L""},
      {Raw(L"ab\0cd\0"), L"ab"},
      {Raw(L"abc\0"), L"abc"},
      {std::wstring(5, L'\0'), L""},
  };
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(testing::PrintToString(in.size()));
    EXPECT_EQ(TrimAtNull(in), out);
  }
}

}  // namespace
}  // namespace vokram
