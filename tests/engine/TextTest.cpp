// Path text helpers and the code page 932 conversion of names.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "CodePage932.h"
#include "TestSupport.h"
#include "Text.h"

namespace vokram {
namespace {

using test::N;
using test::U8;

using Utf8Pair = std::pair<const char*, const char*>;

// ---------------------------------------------------------------------------
// Folder and name parts

TEST(PathParts, SplitAtTheLastSeparator) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {"/data/movie.avi", "/data/", "movie.avi"},
      {"/data/sub/movie.avi", "/data/sub/", "movie.avi"},
      {"movie.avi", "", "movie.avi"},
      {"/data/", "/data/", ""},
      {"/", "/", ""},
      {"", "", ""},
      {"/データ/日本語.txt", "/データ/", "日本語.txt"},
#ifdef _WIN32
      {"C:\\data\\movie.avi", "C:\\data\\", "movie.avi"},
      {"C:/data/movie.avi", "C:/data/", "movie.avi"},
      {"C:\\data/sub\\movie.avi", "C:\\data/sub\\", "movie.avi"},
      {"C:\\data\\sub/movie.avi", "C:\\data\\sub/", "movie.avi"},
      {"\\\\server\\share\\x.bin", "\\\\server\\share\\", "x.bin"},
      {"C:\\", "C:\\", ""},
#else
      {"C:\\data\\movie.avi", "", "C:\\data\\movie.avi"},  // "\" is an ordinary character here
      {"/data/a\\b", "/data/", "a\\b"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FolderPart(N(c.path)), N(c.folder));
    EXPECT_EQ(NamePart(N(c.path)), N(c.name));
    EXPECT_EQ(AfterLastSeparator(N(c.path)), N(c.folder).size());
  }
}

TEST(PathParts, SeparatorsOfTheSystem) {
  EXPECT_TRUE(IsSeparator(N("/")[0]));
  EXPECT_FALSE(IsSeparator(N(":")[0]));
  EXPECT_FALSE(IsSeparator(N(".")[0]));
#ifdef _WIN32
  EXPECT_TRUE(IsSeparator(L'\\'));
#else
  EXPECT_FALSE(IsSeparator('\\'));
#endif
}

TEST(StemOf, CutsBeforeTheLastDot) {
  const Utf8Pair cases[] = {
      {"movie.part1.avi", "movie.part1"},
      {"movie.avi", "movie"},
      {".profile", ""},
      {"name", "name"},
      {"name.", "name"},
      {"a.b.", "a.b"},
      {"", ""},
      {"日本語.txt", "日本語"},
      {"表示.ソフト", "表示"},
  };
  for (const auto& [name, stem] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(StemOf(N(name)), N(stem));
  }
}

TEST(WithTrailingSeparator, AddsTheSystemSeparatorOnlyWhereMissing) {
  const std::pair<const char*, bool> cases[] = {
      {"", false},  // stays empty: names are then relative to the current folder
      {"/out", true},
      {"/out/", false},
      {"/", false},
      {"出力", true},
#ifdef _WIN32
      {"C:\\out", true},
      {"C:\\out\\", false},
      {"C:\\out/", false},
      {"C:\\", false},
#else
      {"/out\\", true},
#endif
  };
  for (const auto& [folder, added] : cases) {
    SCOPED_TRACE(folder);
    NativeString expected = N(folder);
    if (added) expected += std::filesystem::path::preferred_separator;
    EXPECT_EQ(WithTrailingSeparator(N(folder)), expected);
  }
}

TEST(TrimSpaces, RemovesOnlyOuterSpaces) {
  const Utf8Pair cases[] = {
      {"  a b  ", "a b"},
      {"a  b", "a  b"},
      {"   ", ""},
      {"", ""},
      {" x", "x"},
      {"x ", "x"},
      {"\tx\t", "\tx\t"},  // only spaces, as the window's fields are trimmed
      {" 日本 語 ", "日本 語"},
  };
  for (const auto& [text, trimmed] : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(text)));
    EXPECT_EQ(TrimSpaces(N(text)), N(trimmed));
  }
}

// ---------------------------------------------------------------------------
// Names that may stand in a folder

TEST(FileNames, PlainNamesAndBaseNames) {
  struct Case {
    std::string name;
    bool plain;
    bool base;
  };
  const Case cases[] = {
      {"movie.avi", true, true},
      {"my movie (1).avi", true, true},
      {".profile", true, true},
      {"日本語の動画.avi", true, true},
      {"表ソ能＼予.txt", true, true},  // code page 932 trail bytes 0x5C, full-width backslash
      {"", false, true},
      {".", false, false},
      {"..", false, false},
      {"a.", false, false},
      {"a ", false, false},
      {"a .txt", true, true},
      {"NUL", false, false},
      {"nul.txt", false, false},
      {"Con.tar.gz", false, false},
      {"AUX .txt", false, false},
      {"prn", false, false},
      {"COM1", false, false},
      {"lpt9.000", false, false},
      {"COM\u00b9.bin", false, false},
      {"CONIN$", false, false},
      {"conout$.log", false, false},
      {"COM0", true, true},
      {"COM10", true, true},
      {"NULL", true, true},
      {"CONSOLE.txt", true, true},
      {"my.nul", true, true},
      {"_CON", true, true},
      {"a\\b", false, false},
      {"a/b", false, false},
      {"a:b", false, false},
      {"a*b", false, false},
      {"a?b", false, false},
      {"a\"b", false, false},
      {"a<b", false, false},
      {"a>b", false, false},
      {"a|b", false, false},
      {"..\\up", false, false},
      {"../up", false, false},
      {"C:x", false, false},
      {std::string("a\0b", 3), false, false},
      {"a\x01" "b", false, false},
      {"a\tb", false, false},
      {"a\nb", false, false},
      {"a\x1f", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.name));
    const NativeString name = N(c.name);
    EXPECT_EQ(IsPlainFileName(name), c.plain);
    EXPECT_EQ(IsValidBaseName(name), c.base);
  }
}

// ---------------------------------------------------------------------------
// UTF-8 and the native form

TEST(Utf8, RoundTripsThroughTheNativeForm) {
  for (const char* text : {"", "plain.txt", "日本語.txt", "表ソ", "emoji 😀.bin", "ｱｲｳ"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ToUtf8(PathFromUtf8(text)), text);
    EXPECT_EQ(PathFromUtf8(text).native(), NativeFromUtf8(text));
  }
#ifdef _WIN32
  EXPECT_EQ(NativeFromUtf8("日本語"), std::wstring(L"\u65E5\u672C\u8A9E"));
  EXPECT_EQ(NativeFromUtf8("😀"), std::wstring(L"\xD83D\xDE00"));
#else
  EXPECT_EQ(NativeFromUtf8("日本語"), std::string("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"));
#endif
}

// ---------------------------------------------------------------------------
// Code page 932

struct Cp932Case {
  const char* text;   // UTF-8
  std::string bytes;  // code page 932
};

TEST(CodePage932, EncodesAndDecodesTheWindowsTable) {
  const Cp932Case cases[] = {
      {"", ""},
      {"movie.avi", "movie.avi"},
      {"日本語.txt", "\x93\xFA\x96\x7B\x8C\xEA\x2E\x74\x78\x74"},
      {"表", "\x95\x5C"},  // trail byte 0x5C, the code of "\"
      {"ソ", "\x83\x5C"},
      {"能", "\x94\x5C"},
      {"表示.txt", "\x95\x5C\x8E\xA6.txt"},
      {"～", "\x81\x60"},  // U+FF5E
      {"－", "\x81\x7C"},  // U+FF0D
      {"∥", "\x81\x61"},  // U+2225
      {"￢", "\x81\xCA"},  // U+FFE2
      {"①", "\x87\x40"},  // NEC row 13
      {"ｱ", "\xB1"},      // half-width katakana, one byte
      {"＼", "\x81\x5F"},
      {"Ω", "\x83\xB6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto encoded = EncodeCp932(U8(c.text));
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(*encoded, c.bytes);
    const auto decoded = DecodeCp932(c.bytes);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(ToUtf8(*decoded), c.text);
  }
}

TEST(CodePage932, DecodedTrailBytesAreNoSeparators) {
  // "表示\ソフト" would be a folder and a name only if 0x5C were read as "\".
  const auto decoded = DecodeCp932("\x95\x5C\x8E\xA6\x83\x5C\x83\x74\x83\x67.txt");
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(ToUtf8(*decoded), "表示ソフト.txt");
  EXPECT_TRUE(IsPlainFileName(decoded->native()));
  EXPECT_EQ(FolderPart(decoded->native()), NativeString());
}

TEST(CodePage932, RefusesCharactersItCannotHold) {
  // Never a silent "?" or a look-alike: the name would no longer match the file.
  for (const char* text : {"café.avi", "é", "€", "😀", "a😀b", "ß", "한"}) {
    SCOPED_TRACE(text);
    const auto encoded = EncodeCp932(U8(text));
    EXPECT_FALSE(encoded.has_value()) << "encoded as " << ::testing::PrintToString(encoded.value_or(""));
  }
}

TEST(CodePage932, RefusesCutOffOrInvalidBytes) {
  for (const std::string& bytes : {std::string("\x93"), std::string("abc\x93"), std::string("\x93\xFA\x96")}) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    EXPECT_FALSE(DecodeCp932(bytes).has_value());
  }
}

TEST(CodePage932, RoundTripsAMixedName) {
  const char* name = "第１話 ～表ソ能～ (ｱﾆﾒ) ①-final.part1.avi";
  const auto encoded = EncodeCp932(U8(name));
  ASSERT_TRUE(encoded.has_value());
  EXPECT_LT(encoded->size(), std::string_view(name).size());  // two bytes a kanji, not three
  const auto decoded = DecodeCp932(*encoded);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->native(), N(name));
}

}  // namespace
}  // namespace vokram
