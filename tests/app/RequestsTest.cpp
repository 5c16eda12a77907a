// The Run command's checks over field values, against an in-memory disk, and
// the flows that both front ends answer.

#include <gtest/gtest.h>

#include "Descriptor.h"
#include "GetCRC.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <stdexcept>
#include <optional>
#include <set>
#include <string>
#include <variant>

#include "Messages.h"
#include "Operations.h"
#include "Requests.h"
#include "TestSupport.h"

namespace vokram {
namespace {

using test::N;

// Paths are written POSIX style in the tables; on Windows "/data/x" becomes
// "C:\data\x" so the engine sees the separators of the system it runs on.
NativeString P(std::string_view posix) {
  std::string text(posix);
#ifdef _WIN32
  const auto first = text.find_first_not_of(' ');
  if (first != std::string::npos && text[first] == '/') text.insert(first, "C:");
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
#endif
  return N(text);
}

// Files with their lengths and folders, looked up exactly as written (a
// folder also with or without its trailing separator).
class FakeDisk final : public FileSystemView {
 public:
  FakeDisk& AddFile(std::string_view posix, std::uint64_t length) {
    files_[P(posix)] = length;
    return *this;
  }
  FakeDisk& AddNativeFile(const NativeString& path, std::uint64_t length) {
    files_[path] = length;
    return *this;
  }
  FakeDisk& AddNativeFolder(const NativeString& path) {
    folders_.insert(path);
    return *this;
  }
  FakeDisk& AddFolder(std::string_view posix) {
    const NativeString folder = P(posix);
    folders_.insert(folder);
    folders_.insert(WithTrailingSeparator(folder));
    if (folder.size() > 1 && IsSeparator(folder.back())) folders_.insert(folder.substr(0, folder.size() - 1));
    return *this;
  }
  bool IsExistingFile(NativeView path) const override { return files_.count(NativeString(path)) != 0; }
  bool IsExistingFolder(NativeView path) const override { return folders_.count(NativeString(path)) != 0; }
  std::optional<std::uint64_t> FileLength(NativeView path) const override {
    const auto it = files_.find(NativeString(path));
    if (it == files_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<NativeString, std::uint64_t> files_;
  std::set<NativeString> folders_;
};

constexpr std::uint64_t k2GiB = 0x80000000ull;
// The most 32,765 pieces of the largest size hold.
constexpr std::uint64_t kWidest = std::uint64_t{kMaxPieces} * (std::uint64_t{kMaxSizeKb} * 1024 + 1);

const FakeDisk& Disk() {
  static const FakeDisk disk = [] {
    FakeDisk d;
    d.AddFolder("/").AddFolder("/data").AddFolder("/out").AddFolder("/parts").AddFolder("/restore");
    d.AddFile("/data/movie.part1.avi", 5000)
        .AddFile("/data/.profile", 10)
        .AddFile("/data/noext", 10)
        .AddFile("/data/archive.tar.gz", 10)
        .AddFile("/data/empty.bin", 0)
        .AddFile("/data/huge.bin", k2GiB)
        .AddFile("/data/largest.bin", k2GiB - 1)
        .AddFile("/data/4gib.bin", 2 * k2GiB)
        .AddFile("/data/widest.bin", kWidest)
        .AddFile("/data/wider.bin", kWidest + 1)
        .AddFile("/data/many.bin", 32766)
        .AddFile("/data/edge.bin", 32765)
        .AddFile("/data/café.avi", 10)
        .AddFile("/data/日本語の動画.avi", 5000)
        .AddFile("/out/file.txt", 10)
        .AddFile("/parts/movie.vok", 100)
        .AddFile("/restore/file.txt", 10)
        .AddFile("movie.vok", 100);  // relative to the current folder
    return d;
  }();
  return disk;
}

// UTF-8 text of n characters "あ" (two bytes each in code page 932, three in UTF-8).
std::string Hiragana(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += "あ";
  return text;
}

struct Fields {
  std::string src, dst, base, min, max;
};

SplitFields ToSplitFields(const Fields& f) { return {P(f.src), P(f.dst), N(f.base), N(f.min), N(f.max)}; }

const char* Name(ErrorCode id) {
  switch (id) {
    case ErrorCode::SourceBlank: return "SourceBlank";
    case ErrorCode::SourceMissing: return "SourceMissing";
    case ErrorCode::DstDirBlank: return "DstDirBlank";
    case ErrorCode::SaveDirBlank: return "SaveDirBlank";
    case ErrorCode::FolderMissing: return "FolderMissing";
    case ErrorCode::MinSizeBlank: return "MinSizeBlank";
    case ErrorCode::MaxSizeBlank: return "MaxSizeBlank";
    case ErrorCode::NotNumeric: return "NotNumeric";
    case ErrorCode::SizeOutOfRange: return "SizeOutOfRange";
    case ErrorCode::SourceEmpty: return "SourceEmpty";
    case ErrorCode::SourceModified: return "SourceModified";
    case ErrorCode::TooManyPieces: return "TooManyPieces";
    case ErrorCode::BadBaseName: return "BadBaseName";
    case ErrorCode::ReservedBaseName: return "ReservedBaseName";
    case ErrorCode::NameNotEncodable: return "NameNotEncodable";
    case ErrorCode::OutputIsSource: return "OutputIsSource";
    default: return "another message";
  }
}

// What the user reads for a refusal.
std::string Shown(const Rejection& refused) { return MessageFor(refused.reason, Operation::Split); }

// Checks that a validation refused with the given message and focus.
void ExpectRefused(const std::variant<Rejection, SplitRequest>& outcome, ErrorCode message, Focus focus) {
  const auto* refused = std::get_if<Rejection>(&outcome);
  ASSERT_NE(refused, nullptr) << "accepted, expected " << Name(message);
  EXPECT_EQ(refused->reason.Code(), message) << "expected " << Name(message);
  EXPECT_EQ(refused->focus, focus);
}

const SplitRequest* Accepted(const SplitValidation& v) {
  const auto* request = std::get_if<SplitRequest>(&v.outcome);
  if (!request) {
    ADD_FAILURE() << "refused with " << Shown(std::get<Rejection>(v.outcome));
  }
  return request;
}

// ---------------------------------------------------------------------------
// Numbers in the size fields

struct NumberCase {
  const char* text;
  std::optional<double> parsed;       // nothing: not numeric
  std::optional<std::int32_t> size;   // nothing: out of range (when numeric)
};

TEST(ParseNumberField, AcceptsSignedDecimalsWithFractionExponentAndFullWidthDigits) {
  const NumberCase cases[] = {
      {"10", 10, 10},
      {"  20  ", 20, 20},
      {"007", 7, 7},
      {"1.5", 1.5, 2},
      {"2.5", 2.5, 2},
      {"3.5", 3.5, 4},
      {".5", 0.5, 0},
      {"5.", 5, 5},
      {"+7", 7, 7},
      {"-0", 0, 0},
      {"-0.4", -0.4, 0},
      {"-0.5", -0.5, 0},
      {"-0.6", -0.6, std::nullopt},
      {"1e3", 1000, 1000},
      {"1E+3", 1000, 1000},
      {"25e-1", 2.5, 2},
      {"1.5e0", 1.5, 2},
      {"１２３", 123, 123},
      {"１．５", 1.5, 2},
      {"１ｅ３", 1000, 1000},
      {"－１", -1, std::nullopt},
      {"2097151", 2097151, 2097151},
      {"2097151.4", 2097151.4, 2097151},
      {"2097150.5", 2097150.5, 2097150},
      {"2097151.5", 2097151.5, std::nullopt},  // the even neighbour is 2097152
      {"2097152", 2097152, std::nullopt},
      {"2147483648", 2147483648.0, std::nullopt},
      {"-5", -5, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = ParseNumberField(N(c.text));
    ASSERT_TRUE(parsed.has_value()) << "not taken as a number";
    EXPECT_DOUBLE_EQ(*parsed, *c.parsed);
    EXPECT_EQ(SizeInRange(*parsed), c.size);
  }
}

TEST(ParseNumberField, RefusesEverythingElse) {
  const char* cases[] = {"",    "   ",  "abc",  "1e",  "1e+", "e5",   ".",      "+",     "-",   "+-1",
                         "1.2.3", "0x10", "1,000", "1 000", "12a", "a12", "inf", "nan", "1..2", "１２a",
                         "\t5"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseNumberField(N(text)), std::nullopt);
  }
}

TEST(ParseNumberField, ExponentsBeyondDoubleAreNumbersOutOfRangeOrZero) {
  // Numeric, so the message is the range message, not "数字を入力してください。".
  for (const char* text : {"1e400", "-1e400"}) {
    SCOPED_TRACE(text);
    const auto parsed = ParseNumberField(N(text));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(SizeInRange(*parsed), std::nullopt);
  }
  // A value too small for a double is still a value that rounds to 0.
  const auto tiny = ParseNumberField(N("1e-400"));
  ASSERT_TRUE(tiny.has_value());
  EXPECT_EQ(SizeInRange(*tiny), 0);
}

TEST(SizeInRange, RoundsHalvesToEvenAndKeepsTheBounds) {
  const std::pair<double, std::optional<std::int32_t>> cases[] = {
      {0.0, 0},          {0.5, 0},
      {1.5, 2},          {2.5, 2},
      {-0.5, 0},         {-0.51, std::nullopt},
      {2097151.0, 2097151}, {2097151.49, 2097151},
      {2097151.5, std::nullopt}, {4294967296.0, std::nullopt},
      {HUGE_VAL, std::nullopt},  {-HUGE_VAL, std::nullopt},
      {std::nan(""), std::nullopt},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value);
    EXPECT_EQ(SizeInRange(value), expected);
  }
}

// ---------------------------------------------------------------------------
// Split mode

struct RefusalCase {
  const char* what;
  Fields fields;
  ErrorCode message;
  Focus focus;
  std::optional<std::string> derived;  // the base name written back, if any
};

TEST(ValidateSplit, EachCheckRefusesInItsOrderWithItsFocus) {
  const std::string src = "/data/movie.part1.avi";
  const RefusalCase cases[] = {
      {"every field empty", {"", "", "", "", ""}, ErrorCode::SourceBlank, Focus::Unchanged, std::nullopt},
      {"source only spaces", {"   ", "/out", "mv", "1", "1"}, ErrorCode::SourceBlank, Focus::Unchanged, std::nullopt},
      {"source missing", {"/data/none.avi", "/out", "mv", "1", "1"}, ErrorCode::SourceMissing, Focus::Unchanged,
       std::nullopt},
      {"source missing before a blank folder", {"/data/none.avi", "", "", "", ""}, ErrorCode::SourceMissing,
       Focus::Unchanged, std::nullopt},
      {"source is a folder", {"/data", "/out", "mv", "1", "1"}, ErrorCode::SourceMissing, Focus::Unchanged,
       std::nullopt},
      {"source is a folder with separator", {"/data/", "/out", "mv", "1", "1"}, ErrorCode::SourceMissing,
       Focus::Unchanged, std::nullopt},
      {"folder blank", {src, "", "", "", ""}, ErrorCode::DstDirBlank, Focus::Unchanged, std::nullopt},
      {"folder only spaces", {src, "  ", "mv", "1", "1"}, ErrorCode::DstDirBlank, Focus::Unchanged, std::nullopt},
      {"folder missing, base not yet derived", {src, "/nowhere", "", "1", "1"}, ErrorCode::FolderMissing,
       Focus::Unchanged, std::nullopt},
      {"folder is a file", {src, "/out/file.txt", "mv", "1", "1"}, ErrorCode::FolderMissing, Focus::Unchanged,
       std::nullopt},
      {"minimum blank after deriving the base", {src, "/out", "", "", "1"}, ErrorCode::MinSizeBlank,
       Focus::MinSize, "movie.part1"},
      {"base only spaces is derived too", {src, "/out", "   ", "", ""}, ErrorCode::MinSizeBlank, Focus::MinSize,
       "movie.part1"},
      {"minimum blank, base given", {src, "/out", "mv", "", ""}, ErrorCode::MinSizeBlank, Focus::MinSize,
       std::nullopt},
      {"minimum blank before maximum not numeric", {src, "/out", "mv", " ", "abc"}, ErrorCode::MinSizeBlank,
       Focus::MinSize, std::nullopt},
      {"maximum blank", {src, "/out", "mv", "1", ""}, ErrorCode::MaxSizeBlank, Focus::MaxSize, std::nullopt},
      {"maximum blank before minimum not numeric", {src, "/out", "mv", "abc", "  "}, ErrorCode::MaxSizeBlank,
       Focus::MaxSize, std::nullopt},
      {"neither numeric", {src, "/out", "mv", "abc", "def"}, ErrorCode::NotNumeric, Focus::MinSize, std::nullopt},
      {"maximum not numeric", {src, "/out", "mv", "1", "1x"}, ErrorCode::NotNumeric, Focus::MaxSize, std::nullopt},
      {"numeric checks before the range check", {src, "/out", "mv", "-1", "abc"}, ErrorCode::NotNumeric,
       Focus::MaxSize, std::nullopt},
      {"minimum below 0", {src, "/out", "", "-1", "1"}, ErrorCode::SizeOutOfRange, Focus::MinSize, "movie.part1"},
      {"maximum above the largest size", {src, "/out", "mv", "1", "2097152"}, ErrorCode::SizeOutOfRange,
       Focus::MaxSize, std::nullopt},
      {"both out of range", {src, "/out", "mv", "2097152", "-3"}, ErrorCode::SizeOutOfRange, Focus::MinSize,
       std::nullopt},
      {"maximum rounds up out of range", {src, "/out", "mv", "1", "2097151.5"}, ErrorCode::SizeOutOfRange,
       Focus::MaxSize, std::nullopt},
      {"size range before an empty source", {"/data/empty.bin", "/out", "mv", "1", "-1"}, ErrorCode::SizeOutOfRange,
       Focus::MaxSize, std::nullopt},
      {"empty source", {"/data/empty.bin", "/out", "mv", "1", "1"}, ErrorCode::SourceEmpty, Focus::Unchanged,
       std::nullopt},
      {"more than 32,765 pieces of the largest size hold", {"/data/wider.bin", "/out", "mv", "2097151", "2097151"},
       ErrorCode::TooManyPieces, Focus::MinSize, std::nullopt},
      {"32,766 one-byte pieces", {"/data/many.bin", "/out", "mv", "0", "0"}, ErrorCode::TooManyPieces,
       Focus::MinSize, std::nullopt},
      {"the derived name stays when the plan is refused", {"/data/many.bin", "/out", "", "0", "0"},
       ErrorCode::TooManyPieces, Focus::MinSize, "many"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const SplitValidation v = ValidateSplit(ToSplitFields(c.fields), SplitOptions{}, Disk());
    ExpectRefused(v.outcome, c.message, c.focus);
    if (c.derived) {
      ASSERT_TRUE(v.derivedBaseName.has_value());
      EXPECT_EQ(*v.derivedBaseName, N(*c.derived));
    } else {
      EXPECT_FALSE(v.derivedBaseName.has_value());
    }
  }
}

// The piece limit applies to the sizes really drawn, one draw per piece, and
// the request carries exactly those sizes to the split.
TEST(ValidateSplit, CountsThePiecesAsDrawnAndHandsThemToTheSplit) {
  for (const auto& [min, max] : {std::pair{"0", "5"}, std::pair{"5", "0"}, std::pair{"0", "1"}}) {
    SCOPED_TRACE(std::string(min) + ".." + max);
    test::Draws draws({0.5f, 0.25f, 0.75f});
    const SplitValidation v =
        ValidateSplit(ToSplitFields({"/data/many.bin", "/out", "mv", min, max}), SplitOptions{}, Disk(), std::ref(draws));
    const SplitRequest* request = Accepted(v);
    ASSERT_NE(request, nullptr);
    std::uint64_t total = 0;
    for (std::uint32_t length : request->draw.lengths) total += length;
    EXPECT_EQ(total, 32766u);
    EXPECT_EQ(draws.Count(), request->draw.lengths.size());
    EXPECT_EQ(request->draw.lengths.front(), DrawnPieceSize(0.5f, request->minimum, request->maximum) + 1);
  }
  // Exactly 32,765 one-byte pieces still fit; a refusal before the plan draws nothing.
  test::Draws draws({0.0f});
  const SplitValidation edge =
      ValidateSplit(ToSplitFields({"/data/edge.bin", "/out", "mv", "0", "0"}), SplitOptions{}, Disk(), std::ref(draws));
  ASSERT_NE(Accepted(edge), nullptr);
  EXPECT_EQ(Accepted(edge)->draw.lengths.size(), 32765u);
  test::Draws unused({0.0f});
  ValidateSplit(ToSplitFields({"/data/many.bin", "/out", "mv", "x", "0"}), SplitOptions{}, Disk(), std::ref(unused));
  EXPECT_EQ(unused.Count(), 0u);
}

TEST(ValidateSplit, RefusalsOfTheSplitPlanCarryTheEngineError) {
  const std::pair<Fields, ErrorCode> cases[] = {
      {{"/data/empty.bin", "/out", "mv", "1", "1"}, ErrorCode::SourceEmpty},
      {{"/data/many.bin", "/out", "mv", "0", "0"}, ErrorCode::TooManyPieces},
      {{"/data/movie.part1.avi", "/out", "m*v", "1", "1"}, ErrorCode::BadBaseName},
  };
  for (const auto& [fields, code] : cases) {
    SCOPED_TRACE(fields.src + " / " + fields.base);
    const SplitValidation v = ValidateSplit(ToSplitFields(fields), SplitOptions{}, Disk());
    const auto* refused = std::get_if<Rejection>(&v.outcome);
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->reason.Code(), code);
  }
}

// The recovery count is checked after the sizes, where it is typed; files
// that cannot stay within the largest piece send the user to the sizes.
TEST(ValidateSplit, TheRecoveryCountIsANumberFrom1To999ForFilesThatFit) {
  const std::pair<const char*, std::optional<ErrorCode>> cases[] = {
      {"二", ErrorCode::NotNumeric}, {"", ErrorCode::NotNumeric}, {"0", ErrorCode::RecoveryOutOfRange},
      {"1000", ErrorCode::RecoveryOutOfRange}, {"１", std::nullopt}, {" 999 ", std::nullopt}};
  for (const auto& [count, refusal] : cases) {
    SCOPED_TRACE(count);
    SplitFields fields = ToSplitFields({"/data/huge.bin", "/out", "mv", "1000", "2000"});
    fields.recovery = N(count);
    const SplitValidation v = ValidateSplit(fields, SplitOptions{}, Disk());
    if (refusal) {
      ExpectRefused(v.outcome, *refusal, Focus::Recovery);
    } else if (const SplitRequest* request = Accepted(v)) {
      ASSERT_TRUE(request->draw.recovery.has_value());
      EXPECT_GT(request->draw.recovery->recoverySlices, 0u);
    }
  }
  SplitFields tiny = ToSplitFields({"/data/edge.bin", "/out", "mv", "0", "0"});
  tiny.recovery = N("1");
  ExpectRefused(ValidateSplit(tiny, SplitOptions{}, Disk()).outcome, ErrorCode::RecoveryTooLarge, Focus::MaxSize);
  EXPECT_FALSE(Accepted(ValidateSplit(ToSplitFields({"/data/huge.bin", "/out", "mv", "1000", "2000"}), SplitOptions{},
                                      Disk()))->draw.recovery.has_value());
}

TEST(ValidateSplit, AcceptsTheLimitsThemselves) {
  const std::pair<Fields, std::pair<std::int32_t, std::int32_t>> cases[] = {
      {{"/data/edge.bin", "/out", "mv", "0", "0"}, {0, 0}},  // exactly 32,765 pieces
      {{"/data/many.bin", "/out", "mv", "1", "1.4"}, {1, 1}},
      {{"/data/largest.bin", "/out", "mv", "2097151", "2097151.4"}, {2097151, 2097151}},  // 2 GiB - 1 bytes
      {{"/data/huge.bin", "/out", "mv", "2097151", "2097151"}, {2097151, 2097151}},       // 2 GiB
      {{"/data/4gib.bin", "/out", "mv", "1024", "4096"}, {1024, 4096}},
      {{"/data/widest.bin", "/out", "mv", "2097151", "2097151"}, {2097151, 2097151}},    // 32,765 pieces
      {{"/data/movie.part1.avi", "/out", "mv", "-0.4", "2097151"}, {0, 2097151}},
      {{"/data/movie.part1.avi", "/out", "mv", " ２ ", "１e1"}, {2, 10}},
  };
  for (const auto& [fields, sizes] : cases) {
    SCOPED_TRACE(fields.src + " " + fields.min + ".." + fields.max);
    const SplitValidation v = ValidateSplit(ToSplitFields(fields), SplitOptions{}, Disk());
    const SplitRequest* request = Accepted(v);
    if (!request) continue;
    EXPECT_EQ(request->minimum, sizes.first);
    EXPECT_EQ(request->maximum, sizes.second);
  }
}

struct RequestCase {
  const char* what;
  Fields fields;
  std::string sourcePath;  // POSIX form, see P()
  std::string outputBase;
  std::optional<std::string> derived;
};

TEST(ValidateSplit, BuildsTheRequestFromTrimmedValues) {
  const RequestCase cases[] = {
      {"base derived before the last dot", {"/data/movie.part1.avi", "/out", "", "1", "2"}, "/data/movie.part1.avi",
       "/out/movie.part1", "movie.part1"},
      {"folder with its separator", {"/data/movie.part1.avi", "/out/", "", "1", "2"}, "/data/movie.part1.avi",
       "/out/movie.part1", "movie.part1"},
      {"root folder", {"/data/movie.part1.avi", "/", "mv", "1", "2"}, "/data/movie.part1.avi", "/mv", std::nullopt},
      {"surrounding spaces", {"  /data/movie.part1.avi  ", "  /out  ", "  mv  ", "  1  ", "  2  "},
       "/data/movie.part1.avi", "/out/mv", std::nullopt},
      {"inner spaces of the base stay", {"/data/movie.part1.avi", "/out", "my movie", "1", "2"},
       "/data/movie.part1.avi", "/out/my movie", std::nullopt},
      {"a leading dot only gives an empty base", {"/data/.profile", "/out", "", "1", "2"}, "/data/.profile", "/out/",
       ""},
      {"a name without a dot is its own base", {"/data/noext", "/out", "", "1", "2"}, "/data/noext", "/out/noext",
       "noext"},
      {"only the last extension goes", {"/data/archive.tar.gz", "/out", "", "1", "2"}, "/data/archive.tar.gz",
       "/out/archive.tar", "archive.tar"},
      {"Japanese names", {"/data/日本語の動画.avi", "/out", "", "1", "2"}, "/data/日本語の動画.avi",
       "/out/日本語の動画", "日本語の動画"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const SplitValidation v = ValidateSplit(ToSplitFields(c.fields), SplitOptions{}, Disk());
    const SplitRequest* request = Accepted(v);
    if (!request) continue;
    EXPECT_EQ(request->sourcePath, P(c.sourcePath));
    EXPECT_EQ(request->draw.names.folder + request->draw.names.baseName, P(c.outputBase));
    EXPECT_EQ(request->minimum, 1);
    EXPECT_EQ(request->maximum, 2);
    EXPECT_EQ(v.derivedBaseName, c.derived ? std::optional<NativeString>(N(*c.derived)) : std::nullopt);
  }
}

#ifdef _WIN32
TEST(ValidateSplit, ForwardSlashesSeparateFoldersOnWindows) {
  FakeDisk disk;
  disk.AddNativeFolder(N("C:/out/")).AddNativeFile(N("C:/data/movie.part1.avi"), 5000);
  const SplitValidation v =
      ValidateSplit({N("C:/data/movie.part1.avi"), N("C:/out/"), N(""), N("1"), N("1")}, SplitOptions{}, disk);
  ASSERT_TRUE(v.derivedBaseName.has_value());
  EXPECT_EQ(*v.derivedBaseName, N("movie.part1"));
  const SplitRequest* request = Accepted(v);
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(request->draw.names.folder + request->draw.names.baseName, N("C:/out/movie.part1"));
}
#endif

TEST(ValidateSplit, RefusesEachCharacterForbiddenInFileNames) {
  const char* bases[] = {"a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b", "a\x01" "b", "a\tb",
                         "\x1f", "mv/"};
  for (const char* base : bases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(base)));
    const SplitValidation v =
        ValidateSplit(ToSplitFields({"/data/movie.part1.avi", "/out", base, "1", "1"}), SplitOptions{}, Disk());
    ExpectRefused(v.outcome, ErrorCode::BadBaseName, Focus::DstFileName);
  }
  // What Windows takes for a device or cuts short has no bad character, but
  // such pieces would go nowhere, or to another file.
  for (const char* base : {"NUL", "con", "COM1", "lpt9.x", "mv.", "x..", "CONOUT$"}) {
    SCOPED_TRACE(base);
    const SplitValidation v =
        ValidateSplit(ToSplitFields({"/data/movie.part1.avi", "/out", base, "1", "1"}), SplitOptions{}, Disk());
    ExpectRefused(v.outcome, ErrorCode::ReservedBaseName, Focus::DstFileName);
  }
  // A source of such a name: its descriptor and batch file, and the joined
  // file, would bear it. The field to change is not the base name's.
  for (const char* source : {"/data/CON.txt", "/data/aux", "/data/movie.avi."}) {
    SCOPED_TRACE(source);
    FakeDisk disk = Disk();
    disk.AddFile(source, 5000);
    const SplitValidation v = ValidateSplit(ToSplitFields({source, "/out", "mv", "1", "1"}), SplitOptions{}, disk);
    ExpectRefused(v.outcome, ErrorCode::BadBaseName, Focus::Unchanged);
  }
}

struct EncodingCase {
  const char* what;
  Fields fields;
  SplitOptions options;
  bool refused;
  // A base name that does not fit is mended in its field.
  Focus focus = Focus::Unchanged;
};

TEST(ValidateSplit, NamesMustFit255BytesOfCodePage932WhenWritten) {
  const SplitOptions vok{true, false}, bat{false, true}, none{false, false};
  // 125 "あ" are 250 bytes in code page 932 (375 in UTF-8): with ".000" 254.
  const std::string fits = Hiragana(125), tooLong = Hiragana(126);
  const EncodingCase cases[] = {
      {"source name not in the code page, descriptor", {"/data/café.avi", "/out", "mv", "1", "1"}, vok, true},
      {"source name not in the code page, batch", {"/data/café.avi", "/out", "mv", "1", "1"}, bat, true},
      {"source name not in the code page, neither file", {"/data/café.avi", "/out", "mv", "1", "1"}, none, false},
      {"base name not in the code page", {"/data/movie.part1.avi", "/out", "mv😀", "1", "1"}, vok, true, Focus::DstFileName},
      {"base name with euro sign", {"/data/movie.part1.avi", "/out", "€", "1", "1"}, bat, true, Focus::DstFileName},
      {"Japanese names", {"/data/日本語の動画.avi", "/out", "", "1", "1"}, vok, false},
      {"piece name of 254 bytes", {"/data/movie.part1.avi", "/out", fits, "1", "1"}, vok, false},
      {"piece name of 256 bytes", {"/data/movie.part1.avi", "/out", tooLong, "1", "1"}, vok, true, Focus::DstFileName},
      {"piece name of 255 bytes", {"/data/movie.part1.avi", "/out", std::string(251, 'p'), "1", "1"}, bat, false},
      {"five-digit piece numbers", {"/data/edge.bin", "/out", std::string(249, 'p'), "0", "0"}, vok, false},
      {"five-digit piece numbers, one byte over", {"/data/edge.bin", "/out", std::string(250, 'p'), "0", "0"}, vok,
       true, Focus::DstFileName},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const SplitValidation v = ValidateSplit(ToSplitFields(c.fields), c.options, Disk());
    if (c.refused) {
      ExpectRefused(v.outcome, ErrorCode::NameNotEncodable, c.focus);
    } else {
      Accepted(v);
    }
  }
}

TEST(ValidateSplit, SourceNamesAreMeasuredInCodePage932Bytes) {
  // "あ" × 125 + ".avi" is 254 bytes in code page 932, 379 in UTF-8.
  FakeDisk disk;
  disk.AddFolder("/out");
  const std::string fits = "/data/" + Hiragana(125) + ".avi", tooLong = "/data/" + Hiragana(126) + ".avi";
  disk.AddFile(fits, 10).AddFile(tooLong, 10);
  Accepted(ValidateSplit(ToSplitFields({fits, "/out", "mv", "1", "1"}), SplitOptions{}, disk));
  ExpectRefused(ValidateSplit(ToSplitFields({tooLong, "/out", "mv", "1", "1"}), SplitOptions{}, disk).outcome,
                ErrorCode::NameNotEncodable, Focus::Unchanged);
}

// ---------------------------------------------------------------------------
// Join mode and the piece check

struct JoinCase {
  const char* what;
  std::string vok, saveDir;
  bool chosenFolder;
  std::optional<ErrorCode> refusal;
  std::string vokPath, outputFolder;  // when accepted
};

TEST(ValidateJoin, ChecksInOrderAndPicksTheOutputFolder) {
  const JoinCase cases[] = {
      {"descriptor blank", "", "", true, ErrorCode::SourceBlank, "", ""},
      {"descriptor only spaces", "   ", "/restore", true, ErrorCode::SourceBlank, "", ""},
      {"descriptor missing", "/parts/none.vok", "/restore", true, ErrorCode::SourceMissing, "", ""},
      {"descriptor missing before a blank folder", "/parts/none.vok", "", true, ErrorCode::SourceMissing, "", ""},
      {"descriptor is a folder", "/parts", "/restore", true, ErrorCode::SourceMissing, "", ""},
      {"chosen folder blank", "/parts/movie.vok", "", true, ErrorCode::SaveDirBlank, "", ""},
      {"chosen folder only spaces", "/parts/movie.vok", "   ", true, ErrorCode::SaveDirBlank, "", ""},
      {"chosen folder missing", "/parts/movie.vok", "/nowhere", true, ErrorCode::FolderMissing, "", ""},
      {"chosen folder is a file", "/parts/movie.vok", "/restore/file.txt", true, ErrorCode::FolderMissing, "", ""},
      {"chosen folder passed unchanged", "/parts/movie.vok", "/restore", true, std::nullopt, "/parts/movie.vok",
       "/restore"},
      {"chosen folder trimmed, separator kept", " /parts/movie.vok ", "  /restore/ ", true, std::nullopt,
       "/parts/movie.vok", "/restore/"},
      {"descriptor's folder, blank field ignored", "/parts/movie.vok", "", false, std::nullopt, "/parts/movie.vok",
       "/parts/"},
      {"descriptor's folder, missing folder ignored", "  /parts/movie.vok  ", "/nowhere", false, std::nullopt,
       "/parts/movie.vok", "/parts/"},
      {"a bare descriptor name gives the current folder", "movie.vok", "", false, std::nullopt, "movie.vok", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto outcome = ValidateJoin({P(c.vok), P(c.saveDir), c.chosenFolder}, Disk());
    if (c.refusal) {
      const auto* refused = std::get_if<Rejection>(&outcome);
      ASSERT_NE(refused, nullptr);
      EXPECT_EQ(refused->reason.Code(), *c.refusal);
      EXPECT_EQ(refused->focus, Focus::Unchanged);
    } else {
      const auto* request = std::get_if<JoinRequest>(&outcome);
      ASSERT_NE(request, nullptr) << Shown(std::get<Rejection>(outcome));
      EXPECT_EQ(request->vokPath, P(c.vokPath));
      EXPECT_EQ(request->outputFolder, P(c.outputFolder));
    }
  }
}

#ifdef _WIN32
TEST(ValidateJoin, DescriptorFolderEndsAtEitherSeparatorOnWindows) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:/parts/movie.vok", "C:/parts/"},
      {"C:\\parts/sub\\movie.vok", "C:\\parts/sub\\"},
      {"C:\\parts\\sub/movie.vok", "C:\\parts\\sub/"},
  };
  for (const auto& [vok, folder] : cases) {
    SCOPED_TRACE(vok);
    FakeDisk disk;
    disk.AddNativeFile(N(vok), 100);
    const auto outcome = ValidateJoin({N(vok), N(""), false}, disk);
    const auto* request = std::get_if<JoinRequest>(&outcome);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->outputFolder, N(folder));
  }
}
#endif

TEST(ValidateCheck, RefusesABlankOrMissingDescriptor) {
  const std::pair<std::string, std::optional<ErrorCode>> cases[] = {
      {"", ErrorCode::SourceBlank},
      {"    ", ErrorCode::SourceBlank},
      {"/parts/none.vok", ErrorCode::SourceMissing},
      {"/parts", ErrorCode::SourceMissing},
      {"/parts/movie.vok", std::nullopt},
      {"  /parts/movie.vok  ", std::nullopt},
  };
  for (const auto& [vok, expected] : cases) {
    SCOPED_TRACE("\"" + vok + "\"");
    const auto refused = ValidateCheck(P(vok), Disk());
    ASSERT_EQ(refused.has_value(), expected.has_value());
    if (refused) {
      EXPECT_EQ(refused->reason.Code(), *expected);
      EXPECT_EQ(refused->focus, Focus::Unchanged);
    }
  }
}

// ---------------------------------------------------------------------------
// The texts the checks show, character for character.

TEST(MessageText, EveryCheckShowsItsExactText) {
  const std::pair<ErrorCode, const char*> cases[] = {
      {ErrorCode::SourceBlank, "対象ファイルを入力してください。"},
      {ErrorCode::SourceMissing, "対象ファイルが存在しません。"},
      {ErrorCode::DstDirBlank, "保存フォルダを入力してください。"},
      {ErrorCode::SaveDirBlank, "保存先のフォルダを入力してください。"},
      {ErrorCode::FolderMissing, "保存先のフォルダが存在しません。"},
      {ErrorCode::MinSizeBlank, "最小サイズが入力されていません。"},
      {ErrorCode::MaxSizeBlank, "最大サイズが入力されていません。"},
      {ErrorCode::NotNumeric, "数字を入力してください。"},
      {ErrorCode::SizeOutOfRange, "0～2097151 の数字を入力してください。"},
      {ErrorCode::NotVok, "vokファイルではありません。"},
  };
  for (const auto& [code, text] : cases) {
    EXPECT_EQ(MessageFor(VokError(code, {}), Operation::Split), text);
  }
  // The texts of our own say what to change or try next.
  for (const ErrorCode code : {ErrorCode::SourceEmpty, ErrorCode::SourceModified, ErrorCode::TooManyPieces,
                               ErrorCode::BadBaseName, ErrorCode::ReservedBaseName, ErrorCode::NameNotEncodable,
                               ErrorCode::OutputIsSource, ErrorCode::OutputIsInput, ErrorCode::BrokenVok,
                               ErrorCode::TooLargeForVolume, ErrorCode::NoRecoveryFiles, ErrorCode::RecoveryTooLarge}) {
    EXPECT_TRUE(MessageFor(VokError(code, test::U8("x")), Operation::Join).ends_with("ください。")) << static_cast<int>(code);
  }
  EXPECT_EQ(MessageFor(VokError(ErrorCode::OutputIsSource, {}), Operation::Split),
            "作成するファイルが対象ファイルを上書きしてしまいます。保存先か分割ファイル名を変えてください。");
  EXPECT_EQ(MessageText(MessageId::JoinMismatch),
            "結合したファイルがvokファイルの記録と一致しません。壊れた分割ファイルがないかチェックしてください。");
  // A piece not there, empty or unreadable is told apart.
  EXPECT_EQ(MessageFor(VokError(ErrorCode::PieceUnreadable, test::U8("mv.003"), Cause::PieceMissing), Operation::Join),
            "「mv.003」が見つかりません。結合を中止しました。分割ファイルをvokファイルと同じフォルダに置いてください。");
  EXPECT_EQ(MessageFor(VokError(ErrorCode::PieceUnreadable, test::U8("mv.003"), Cause::PieceEmpty), Operation::Join),
            "「mv.003」が空です。結合を中止しました。その分割ファイルをもう一度受け取ってください。");
  EXPECT_EQ(MessageFor(VokError(ErrorCode::PieceUnreadable, test::U8("mv.003"), std::string("アクセスが拒否されました。")),
                       Operation::Join),
            "「mv.003」を読み込めませんでした。結合を中止しました。ほかのソフトで開いていれば閉じてください。\n"
            "アクセスが拒否されました。");
  EXPECT_EQ(MessageText(MessageId::Done), "終了しました。");
  EXPECT_EQ(std::string(BusyText(Operation::Split)) + std::string(BusyText(Operation::Join)) + std::string(BusyText(Operation::Check)),
            "分割中です。結合中です。チェック中です。");
  EXPECT_EQ(kTitleWarning, "警告");
  EXPECT_EQ(kTitleDone, "終了");
  EXPECT_EQ(JoinNotReplacedMessage(test::U8("動画.avi")),
            "「動画.avi」を置き換えませんでした。結合したファイルがvokファイルの記録と一致しません。"
            "壊れた分割ファイルがないかチェックしてください。");
  // The check's report lines, with the window's line break or another.
  EXPECT_EQ(ReportLine({PieceStatus::Missing, test::U8("a.000")}), " ×  a.000\r\n");
  EXPECT_EQ(ReportLine({PieceStatus::Damaged, test::U8("a.000")}), " △  a.000\r\n");
  EXPECT_EQ(ReportLine({PieceStatus::Sound, test::U8("表.000")}, "\n"), " ○  表.000\n");
}

// The window speaks Japanese only: whatever the engine found itself, and
// whatever else went wrong, reaches it without an English sentence.
TEST(MessageFor, TheEnginesOwnReasonsAreJapanese) {
  auto hasLatinLetter = [](const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
  };
  for (const Cause cause : {Cause::SourceEndedEarly, Cause::SourceChanged, Cause::NoTemporaryName, Cause::OutputAppeared}) {
    for (const Operation operation : {Operation::Split, Operation::Join, Operation::Check}) {
      const std::string text = MessageFor(VokError(ErrorCode::IoFailed, test::U8("動画"), cause), operation);
      EXPECT_FALSE(hasLatinLetter(text)) << text;
      EXPECT_NE(text.find('\n'), std::string::npos) << text;  // the reason follows the message
    }
  }
  EXPECT_EQ(MessageFor(VokError(ErrorCode::Cancelled, {}), Operation::Split), "分割を中止しました。");
  EXPECT_EQ(MessageFor(VokError(ErrorCode::Cancelled, {}), Operation::Join), "結合を中止しました。");
  // Byte counts grouped, and roughly in the units Windows shows free space in.
  const std::pair<std::uint64_t, const char*> needed[] = {
      {999, "999 バイト"},
      {1024, "1,024 バイト（約 1.0 KB）"},
      {1048575, "1,048,575 バイト（約 1.0 MB）"},
      {1234567890, "1,234,567,890 バイト（約 1.1 GB）"},
      {4294967296, "4,294,967,296 バイト（約 4.0 GB）"},
  };
  for (const auto& [bytes, text] : needed) {
    EXPECT_EQ(MessageFor(VokError(ErrorCode::NoSpace, test::U8("d"), bytes), Operation::Join),
              std::string("保存先の空き容量が足りません。空きを作るか、別のドライブを選んでください。\n必要な空き容量：") + text);
  }
  EXPECT_EQ(MessageFor(VokError(ErrorCode::OutputIsFolder, test::U8("表.000")), Operation::Split),
            "保存先に「表.000」という名前のフォルダがあります。別の保存先を選ぶか、そのフォルダの名前を変えてください。");
  EXPECT_EQ(UnexpectedFailureText(std::bad_alloc()), "メモリが足りません。ほかのソフトを閉じてからやり直してください。");
  EXPECT_FALSE(hasLatinLetter(UnexpectedFailureText(std::runtime_error("vector::reserve"))));
}

// ---------------------------------------------------------------------------
// The flows, answered the way a front end answers them

class RecordingView final : public OperationView {
 public:
  bool agree = false;
  std::exception_ptr fail;  // what every step throws instead of running
  bool leave = false;       // the front end goes away during a step
  std::vector<std::string> heard;

  std::exception_ptr Run(Operation, const Work& work, bool& gone) override {
    gone = leave;
    if (fail || leave) return fail;
    try {
      work({});
    } catch (...) {
      return std::current_exception();
    }
    return nullptr;
  }
  void Refuse(const std::string& text, Focus) override { heard.push_back("refuse " + text); }
  void Notice(const std::string& text) override { heard.push_back("notice " + text); }
  bool AskToReplace(const std::string& question, const std::filesystem::path&) override {
    heard.push_back("ask " + question);
    return agree;
  }
  void Pending(const std::string& text) override { heard.push_back("pending " + text); }
  void Report(const PieceReport& piece) override { heard.push_back(ReportLine(piece, "")); }
  void Conclude(const std::string& text) override { heard.push_back("conclude " + text); }
  void Summary(const std::string& line) override { heard.push_back(line); }
  void End(Ending, const std::string& text) override { heard.push_back("end " + text); }
};

TEST(Flows, AskBeforeReplacingAndSayWhatFailedInTheWindowsWords) {
  const test::TempDir dir;
  test::WriteFile(dir / "s.bin", test::RandomBytes(3000));
  const SplitFields fields{(dir / "s.bin").native(), dir.Path().native(), N("p"), N("1"), N("1")};
  RecordingView view;
  EXPECT_EQ(RunSplit(fields, {}, view), Ending::Done);
  const std::string crc = CRCText(*GetFileCRC(dir / "s.bin"));
  EXPECT_EQ(view.heard, (std::vector<std::string>{"分割ファイル 3 個、CRC " + crc, "end 終了しました。"}));

  // Declined: nothing more is said or written; agreed: the run goes on.
  const std::string ask = "ask 保存先に同じ名前のファイルが 4 個あります。置き換えますか？";
  view.heard.clear();
  EXPECT_EQ(RunSplit(fields, {}, view), Ending::Declined);
  EXPECT_EQ(view.heard, std::vector<std::string>{ask});
  view.agree = true;
  view.heard.clear();
  EXPECT_EQ(RunSplit(fields, {}, view), Ending::Done);
  EXPECT_EQ(view.heard.front(), ask);

  const RecordingView::Work none;
  view.heard.clear();
  EXPECT_EQ(RunCheck((dir / "s.vok").native(), view), Ending::Done);
  EXPECT_EQ(view.heard, (std::vector<std::string>{" ○  p.000", " ○  p.001", " ○  p.002"}));

  // A failure that is no VokError names the file, in Japanese.
  view.heard.clear();
  view.fail = std::make_exception_ptr(std::bad_alloc());
  EXPECT_EQ(RunJoin({(dir / "s.vok").native(), {}, false}, {}, view), Ending::Failed);
  EXPECT_EQ(view.heard, std::vector<std::string>{"end " + ToUtf8(dir / "s.vok") +
                                                 "\nファイルの読み書きに失敗しました。結合を中止しました。\n"
                                                 "メモリが足りません。ほかのソフトを閉じてからやり直してください。"});
  view.fail = std::make_exception_ptr(VokError(ErrorCode::Cancelled, {}));
  view.heard.clear();
  EXPECT_EQ(RunCheck((dir / "s.vok").native(), view), Ending::Stopped);
  EXPECT_EQ(view.heard, std::vector<std::string>{"end チェックを中止しました。"});
  // A window that went away hears nothing more.
  view.leave = true;
  view.heard.clear();
  EXPECT_EQ(RunSplit(fields, {}, view), Ending::Gone);
  EXPECT_TRUE(view.heard.empty());
}


#ifdef VOKRAM_GUIDE
// Every text the program shows, line by line; "\x01" stands for a name and
// 987654321 for a number.
std::vector<std::string> ProgramLines() {
  const std::filesystem::path name = test::U8("\x01");
  constexpr std::uint32_t n = 987654321;
  std::vector<std::string> texts;
  const Operation operations[] = {Operation::Split, Operation::Join, Operation::Check, Operation::Repair};
  for (int c = 0; c <= static_cast<int>(ErrorCode::FolderChanged); ++c) {
    const auto code = static_cast<ErrorCode>(c);
    for (const Operation operation : operations) {
      texts.push_back(MessageFor(VokError(code, name), operation));
      texts.push_back(MessageFor(VokError(code, name, std::string("\x01")), operation));
      texts.push_back(MessageFor(VokError(code, name, std::uint64_t{n}), operation));
      for (int cause = 1; cause <= static_cast<int>(Cause::PieceEmpty); ++cause) {
        texts.push_back(MessageFor(VokError(code, name, static_cast<Cause>(cause)), operation));
      }
    }
  }
  texts.push_back(MessageFor(VokError(ErrorCode::NoSpace, name, std::uint64_t{1234567890}), Operation::Join));
  for (int id = 0; id <= static_cast<int>(MessageId::AllSound); ++id) {
    texts.emplace_back(MessageText(static_cast<MessageId>(id)));
  }
  for (const Operation operation : operations) texts.emplace_back(BusyText(operation));
  for (const Settlement settlement : {Settlement::RolledBack, Settlement::Completed}) {
    texts.push_back(SettledMessage(settlement));
    texts.push_back(PendingMessage(settlement));
  }
  texts.insert(texts.end(), {ReplaceQuestion(name), ReplaceQuestion(std::size_t{n}), JoinNotReplacedMessage(name),
                             RestoredMessage(static_cast<int>(n)), RenamedPieceLine(name, name),
                             NotRemovedWarning(name), RecoveryVerdictText({true, std::nullopt}),
                             RecoveryVerdictText({false, n}), UnexpectedFailureText(std::bad_alloc()),
                             UnexpectedFailureText(std::runtime_error("x"))});
  std::vector<std::string> lines;
  for (const std::string& text : texts) {
    for (std::size_t start = 0; start <= text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      // A line that is only a name or the system's reason says nothing of ours.
      if (end > start && text.compare(start, end - start, "\x01") != 0) lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }
  return lines;
}

// A program line's sentences, split after 。 and ？ outside 「」.
std::vector<std::string> Sentences(const std::string& line) {
  std::vector<std::string> sentences;
  std::size_t start = 0;
  int depth = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const std::string_view rest = std::string_view(line).substr(i);
    if (rest.starts_with("「")) ++depth;
    if (rest.starts_with("」")) --depth;
    if (depth == 0 && (rest.starts_with("。") || rest.starts_with("？"))) {
      sentences.push_back(line.substr(start, i + 3 - start));
      start = i + 3;
    }
  }
  if (start < line.size()) sentences.push_back(line.substr(start));
  return sentences;
}

// A program text with its name ("\x01") and number (987654321) left open:
// the guide writes （ファイル名）, 「mv.000」, N or 3 there.
class Pattern {
 public:
  explicit Pattern(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\x01') {
        parts_.push_back({Part::Name, {}});
      } else if (text.compare(i, 9, "987654321") == 0) {
        parts_.push_back({Part::Number, {}});
        i += 8;
      } else {
        if (parts_.empty() || parts_.back().kind != Part::Literal) parts_.push_back({Part::Literal, {}});
        parts_.back().text += text[i];
      }
    }
  }
  bool Matches(std::string_view quote) const { return MatchFrom(quote, 0, 0); }

 private:
  struct Part {
    enum Kind { Literal, Name, Number } kind;
    std::string text;
  };
  bool MatchFrom(std::string_view quote, std::size_t at, std::size_t part) const {
    if (part == parts_.size()) return at == quote.size();
    const Part& p = parts_[part];
    if (p.kind == Part::Literal) {
      return quote.substr(at).starts_with(p.text) && MatchFrom(quote, at + p.text.size(), part + 1);
    }
    if (p.kind == Part::Number) {
      if (quote.substr(at).starts_with("N")) return MatchFrom(quote, at + 1, part + 1);
      for (std::size_t end = at; end < quote.size() && (std::isdigit(static_cast<unsigned char>(quote[end])) ||
                                                        (end > at && quote[end] == ','));) {
        if (MatchFrom(quote, ++end, part + 1)) return true;
      }
      return false;
    }
    for (std::size_t end = at + 1; end <= quote.size(); ++end) {
      if (MatchFrom(quote, end, part + 1)) return true;
    }
    return false;
  }
  std::vector<Part> parts_;
};

// Columns in a Japanese font: ASCII and half-width katakana take one, the rest two.
std::size_t Columns(std::string_view line) {
  std::size_t columns = 0;
  for (std::size_t i = 0; i < line.size();) {
    const auto lead = static_cast<unsigned char>(line[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::string_view c = line.substr(i, length);
    const bool halfKana = c >= "\xEF\xBD\xA1" && c <= "\xEF\xBE\x9F" && length == 3;
    columns += lead < 0x80 || halfKana ? 1 : 2;
    i += length;
  }
  return columns;
}

// The guide quotes the program: each message it quotes, in 「」 or as a
// heading of the messages chapter, is a run of sentences of one of the
// program's lines. No quotation is broken across lines, and every line fits
// 76 columns.
TEST(Guide, QuotesOnlyTheProgramsTextsWithinSeventySixColumns) {
  std::ifstream in(VOKRAM_GUIDE, std::ios::binary);
  std::string guide{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_TRUE(guide.starts_with("\xEF\xBB\xBF"));
  std::vector<Pattern> program;
  for (const std::string& line : ProgramLines()) {
    const std::vector<std::string> sentences = Sentences(line);
    for (std::size_t i = 0; i < sentences.size(); ++i) {
      std::string run;
      for (std::size_t j = i; j < sentences.size(); ++j) program.emplace_back(run += sentences[j]);
    }
  }
  auto isProgramText = [&](std::string_view quote) {
    // The command line puts the option before a field's text: "--max: ".
    if (const std::size_t colon = quote.find(": "); quote.starts_with("--") && colon != std::string_view::npos &&
                                                    std::all_of(quote.begin() + 2, quote.begin() + static_cast<std::ptrdiff_t>(colon),
                                                                [](char c) { return c >= 'a' && c <= 'z'; })) {
      quote.remove_prefix(colon + 2);
    }
    return std::any_of(program.begin(), program.end(), [&](const Pattern& p) { return p.Matches(quote); });
  };
  // Windows' own texts, and the file picker's title (the picker's own tests see it).
  const std::set<std::string> notOurs = {"このファイルは他のコンピューターから取得したものです。", "ファイルを選択して下さい。"};
  bool inMessages = false;
  int checked = 0;
  std::size_t start = 3;
  for (int number = 1; start < guide.size(); ++number) {
    const std::size_t end = guide.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "line " << number << " does not end in CR LF";
    const std::string line = guide.substr(start, end - start);
    start = end + 2;
    ASSERT_EQ(line.find('\n'), std::string::npos) << "line " << number;
    EXPECT_LE(Columns(line), 76u) << "line " << number << ": " << line;
    if (line.starts_with("11. ")) inMessages = true;
    if (line.starts_with("12. ")) inMessages = false;
    const std::size_t indent = line.find_first_not_of(' ');
    const bool sentence = line.ends_with("。") || line.ends_with("？");
    if (inMessages && indent != std::string::npos && indent % 4 == 2 && sentence) {
      EXPECT_TRUE(isProgramText(line.substr(indent))) << "line " << number << ": " << line;
      ++checked;
    }
    int depth = 0;
    std::size_t open = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line.compare(i, 3, "「") == 0 && depth++ == 0) open = i + 3;
      if (line.compare(i, 3, "」") == 0 && --depth == 0) {
        const std::string quote = line.substr(open, i - open);
        if ((quote.ends_with("。") || quote.ends_with("？")) && !notOurs.contains(quote)) {
          EXPECT_TRUE(isProgramText(quote)) << "line " << number << ": 「" << quote << "」";
          ++checked;
        }
      }
      if (depth < 0) {
        ADD_FAILURE() << "a 」 without its 「 at line " << number;
        depth = 0;
      }
    }
    EXPECT_EQ(depth, 0) << "a quotation broken at line " << number << ": " << line;
  }
  EXPECT_GT(checked, 50);
}
#endif

}  // namespace
}  // namespace vokram
