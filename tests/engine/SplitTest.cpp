#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#endif

#include "Descriptor.h"
#include "Error.h"
#include "GetCRC.h"
#include "Split.h"
#include "TestSupport.h"

namespace vokram {
namespace {

using test::Bytes;
using test::N;

std::string Utf8Name(const NativeString& s) { return ToUtf8(std::filesystem::path(s)); }

struct SplitFixture : ::testing::Test {
  test::TempDir dir;
  std::filesystem::path Out(std::string_view name) { return dir / ("out/" + std::string(name)); }
  NativeString OutBase(std::string_view base) {
    std::filesystem::create_directories(dir / "out");
    return WithTrailingSeparator((dir / "out").native()) + N(base);
  }
  NativeString Source(std::string_view name, const Bytes& bytes) {
    test::WriteFile(dir / name, bytes);
    return (dir / name).native();
  }
  std::vector<std::filesystem::path> Pieces(std::string_view base, int count) {
    std::vector<std::filesystem::path> paths;
    for (int i = 0; i < count; ++i) paths.push_back(Out(Utf8Name(PieceName(N(base), i))));
    return paths;
  }
};

Bytes Le32(std::uint32_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}; }
Bytes Le16(std::uint16_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8)}; }
void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }
void Append(Bytes& to, std::string_view text) { to.insert(to.end(), text.begin(), text.end()); }
std::uint16_t Crc(const Bytes& b) { return UpdateCRC(kCrcInitial, b); }
Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

TEST(DrawnPieceSize, RoundsHalvesToEvenAndSpansTheRange) {
  // r = k / 2048 makes r * 1024 land on halves exactly.
  EXPECT_EQ(DrawnPieceSize(1.0f / 2048, 0, 1), 0);   // 0.5
  EXPECT_EQ(DrawnPieceSize(3.0f / 2048, 0, 1), 2);   // 1.5
  EXPECT_EQ(DrawnPieceSize(5.0f / 2048, 0, 1), 2);   // 2.5
  EXPECT_EQ(DrawnPieceSize(7.0f / 2048, 0, 1), 4);   // 3.5
  EXPECT_EQ(DrawnPieceSize(0.0f, 1024, 1024), 1024 * 1024);
  EXPECT_EQ(DrawnPieceSize(0.0f, 5, 10), 5 * 1024);
  EXPECT_EQ(DrawnPieceSize(0.5f, 5, 10), 7680);
  EXPECT_EQ(DrawnPieceSize(0.0f, 10, 5), 10 * 1024);  // minimum above maximum: drawn downwards
  EXPECT_EQ(DrawnPieceSize(0.5f, 10, 5), 7680);
  EXPECT_EQ(DrawnPieceSize(0.99999994f, 0, kMaxSizeKb), 2147482496);  // still fits int32 with its +1
}

TEST(PieceName, HasAtLeastThreeDigits) {
  EXPECT_EQ(PieceName(N("base"), 0), N("base.000"));
  EXPECT_EQ(PieceName(N("base"), 7), N("base.007"));
  EXPECT_EQ(PieceName(N("base"), 999), N("base.999"));
  EXPECT_EQ(PieceName(N("base"), 1000), N("base.1000"));
  EXPECT_EQ(PieceName(N(""), 1), N(".001"));
}

TEST(DefaultRandom, StaysInTheHalfOpenUnitInterval) {
  for (int i = 0; i < 100000; ++i) {
    const float r = DefaultRandom();
    ASSERT_GE(r, 0.0f);
    ASSERT_LT(r, 1.0f);
  }
}

// 3,000 bytes at 1 KiB: 1,025 + 1,025 + 950, with every file's exact bytes.
TEST_F(SplitFixture, ThreeThousandBytesGiveTheExactPiecesBatchAndDescriptor) {
  const Bytes data = test::RandomBytes(3000);
  const NativeString source = Source("movie.avi", data);
  int pumped = 0;
  test::Draws draws({0.3f});
  const SplitResult result = SplitFile(source, OutBase("mv"), 1, 1, {true, true}, Progress{[&](std::uint64_t, std::uint64_t) { ++pumped; }, nullptr}, std::ref(draws));
  EXPECT_EQ(result.pieceCount, 3);
  EXPECT_EQ(pumped, 3);
  EXPECT_EQ(draws.Count(), 3u);  // the last piece draws too

  const auto pieces = Pieces("mv", 3);
  EXPECT_EQ(test::ReadFile(pieces[0]), Slice(data, 0, 1025));
  EXPECT_EQ(test::ReadFile(pieces[1]), Slice(data, 1025, 1025));
  EXPECT_EQ(test::ReadFile(pieces[2]), Slice(data, 2050, 950));
  EXPECT_FALSE(std::filesystem::exists(Out("mv.003")));

  EXPECT_EQ(test::ReadFile(Out("movie.bat")),
            test::AsBytes("COPY mv.000 movie.avi\r\n"
                          "COPY /B movie.avi + mv.001 movie.avi\r\n"
                          "COPY /B movie.avi + mv.002 movie.avi\r\n"));

  Bytes vok = {'V', 'O', 'K', 0, '0', '1', '0', 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
  Append(vok, "movie.avi");
  Append(vok, Le32(3000));
  Append(vok, Le16(Crc(data)));
  const std::size_t sizes[] = {1025, 1025, 950};
  for (std::size_t i = 0, at = 0; i < 3; at += sizes[i], ++i) {
    Append(vok, Bytes{6, 0});
    Append(vok, "mv.00" + std::to_string(i));
    Append(vok, Le32(static_cast<std::uint32_t>(sizes[i])));
    Append(vok, Le16(Crc(Slice(data, at, sizes[i]))));
  }
  EXPECT_EQ(test::ReadFile(Out("movie.vok")), vok);
  EXPECT_EQ(result.sourceCrc, Crc(data));
}

TEST_F(SplitFixture, ExactMultiplesAndShortSources) {
  const NativeString exact = Source("a.bin", test::RandomBytes(1025));
  EXPECT_EQ(SplitFile(exact, OutBase("a"), 1, 1, {true, false}).pieceCount, 1);
  EXPECT_EQ(std::filesystem::file_size(Out("a.000")), 1025u);

  const NativeString shorter = Source("b.bin", test::RandomBytes(1024));
  EXPECT_EQ(SplitFile(shorter, OutBase("b"), 1, 1, {true, false}).pieceCount, 1);
  EXPECT_EQ(std::filesystem::file_size(Out("b.000")), 1024u);

  const NativeString one = Source("c.bin", Bytes{0x5A});
  EXPECT_EQ(SplitFile(one, OutBase("c"), 0, 0, {true, true}).pieceCount, 1);
  const Bytes vok = test::ReadFile(Out("c.vok"));
  EXPECT_EQ(vok.size(), 21u + 5 + 6 + (2 + 5 + 6));  // one piece record
}

TEST_F(SplitFixture, ZeroSizesGiveOneBytePiecesAndPieceThousandHasFourDigits) {
  const Bytes data = test::RandomBytes(1002);
  const NativeString source = Source("z.dat", data);
  EXPECT_EQ(SplitFile(source, OutBase("p"), 0, 0, {true, false}).pieceCount, 1002);
  EXPECT_EQ(test::ReadFile(Out("p.999")), Slice(data, 999, 1));
  EXPECT_EQ(test::ReadFile(Out("p.1000")), Slice(data, 1000, 1));
  EXPECT_EQ(test::ReadFile(Out("p.1001")), Slice(data, 1001, 1));
  const Descriptor d = ReadDescriptor(Out("z.vok"));
  ASSERT_EQ(d.pieces.size(), 1002u);
  EXPECT_EQ(d.pieces[1000].name, test::U8("p.1000"));
  EXPECT_EQ(d.pieces[1000].crc, Crc(Slice(data, 1000, 1)));
}

TEST_F(SplitFixture, RandomSizesStayInRangeAndConcatenateToTheSource) {
  const Bytes data = test::RandomBytes(200'000, 4);
  for (auto [minimum, maximum] : {std::pair{3, 9}, std::pair{9, 3}, std::pair{1, 2}}) {
    test::TempDir out;
    const NativeString source = Source("r.bin", data);
    const NativeString base = out.Folder() + N("r");
    const SplitResult result = SplitFile(source, base, minimum, maximum, {true, false});
    const Descriptor d = ReadDescriptor(out / "r.vok");
    ASSERT_EQ(d.pieces.size(), static_cast<std::size_t>(result.pieceCount));
    std::vector<std::filesystem::path> paths;
    const int low = std::min(minimum, maximum) * 1024 + 1, high = std::max(minimum, maximum) * 1024 + 1;
    for (std::size_t i = 0; i < d.pieces.size(); ++i) {
      paths.push_back(out.Path() / d.pieces[i].name);
      if (i + 1 < d.pieces.size()) {
        EXPECT_GE(d.pieces[i].size, low);
        EXPECT_LE(d.pieces[i].size, high);
      }
    }
    EXPECT_EQ(test::Concatenate(paths), data) << minimum << ".." << maximum;
  }
}

TEST_F(SplitFixture, OptionsDecideWhichFilesAppear) {
  const NativeString source = Source("movie.avi", test::RandomBytes(5000));
  SplitFile(source, OutBase("mv"), 1, 1, {false, false});
  EXPECT_TRUE(std::filesystem::exists(Out("mv.004")));
  EXPECT_FALSE(std::filesystem::exists(Out("movie.vok")));
  EXPECT_FALSE(std::filesystem::exists(Out("movie.bat")));
  SplitFile(source, OutBase("mv"), 1, 1, {false, true, true});
  EXPECT_TRUE(std::filesystem::exists(Out("movie.bat")));
  EXPECT_FALSE(std::filesystem::exists(Out("movie.vok")));
}

TEST_F(SplitFixture, DescriptorAndBatchTakeTheSourceStem) {
  const NativeString source = Source("movie.part1.avi", test::RandomBytes(100));
  SplitFile(source, OutBase("mv"), 1, 1, {true, true});
  EXPECT_TRUE(std::filesystem::exists(Out("mv.000")));
  EXPECT_TRUE(std::filesystem::exists(Out("movie.part1.vok")));
  EXPECT_TRUE(std::filesystem::exists(Out("movie.part1.bat")));
  const NativeString noDot = Source("README", test::RandomBytes(100));
  SplitFile(noDot, OutBase("r"), 1, 1, {true, true});
  EXPECT_TRUE(std::filesystem::exists(Out("README.vok")));
}

// An earlier set under the same names is replaced only with consent; then
// pieces beyond the new count stay, and the descriptor lists only the new.
TEST_F(SplitFixture, ASecondSplitReplacesOnlyWithConsentAndTakesTheEarlierSetsOtherPiecesWithIt) {
  SplitFile(Source("s.bin", test::RandomBytes(5000)), OutBase("s"), 1, 1, {true, true});
  // Not listed by the earlier descriptor: never touched.
  test::WriteFile(Out("s.007"), "a stranger's file");
  const auto earlier = test::Listing(dir / "out");
  const Bytes earlierVok = test::ReadFile(Out("s.vok"));
  const NativeString source = Source("s.bin", test::RandomBytes(2000, 5));
  try {
    SplitFile(source, OutBase("s"), 1, 1, {true, true});
    ADD_FAILURE() << "replaced without consent";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::OutputExists);
    EXPECT_EQ(e.File(), Out("s.000"));
  }
  const SplitPlan plan = PlanSplit(source, {DeriveSplitNames(source, OutBase("s")), {1025, 975}}, {true, true});
  // Two pieces, batch and descriptor, and the earlier pieces s.002 to s.004.
  EXPECT_EQ(plan.ExistingCount(), 7u);
  EXPECT_EQ(test::Listing(dir / "out"), earlier);
  EXPECT_EQ(test::ReadFile(Out("s.vok")), earlierVok);

  // Without a batch file this time: the earlier one stays, as no descriptor lists it.
  SplitFile(source, OutBase("s"), 1, 1, {true, false, true});
  EXPECT_EQ(ReadDescriptor(Out("s.vok")).pieces.size(), 2u);
  EXPECT_EQ(test::Listing(dir / "out"),
            (std::vector<std::filesystem::path>{"s.000", "s.001", "s.007", "s.bat", "s.vok"}));
  EXPECT_EQ(test::ReadFile(Out("s.007")), test::AsBytes("a stranger's file"));
}

TEST_F(SplitFixture, JapaneseNamesAreCodePage932InBatchAndDescriptor) {
  const NativeString source = Source("日本語.txt", test::RandomBytes(1500));
  SplitFile(source, OutBase("表"), 1, 1, {true, true});
  const Bytes bat = test::ReadFile(Out("日本語.bat"));
  EXPECT_EQ(bat, test::AsBytes("COPY \x95\x5C.000 \x93\xFA\x96\x7B\x8C\xEA.txt\r\n"
                               "COPY /B \x93\xFA\x96\x7B\x8C\xEA.txt + \x95\x5C.001 \x93\xFA\x96\x7B\x8C\xEA.txt\r\n"));
  const Bytes vok = test::ReadFile(Out("日本語.vok"));
  EXPECT_EQ(vok[20], 10);
  EXPECT_EQ(Slice(vok, 21, 10), test::AsBytes("\x93\xFA\x96\x7B\x8C\xEA.txt"));
  EXPECT_EQ(ReadDescriptor(Out("日本語.vok")).pieces.at(1).name, test::U8("表.001"));
}

TEST_F(SplitFixture, BatchQuotesNamesTheInterpreterWouldSplit) {
  const NativeString source = Source("my film+1.avi", test::RandomBytes(1500));
  SplitFile(source, OutBase("100%"), 1, 1, {false, true});
  EXPECT_EQ(test::ReadFile(Out("my film+1.bat")),
            test::AsBytes("COPY 100%%.000 \"my film+1.avi\"\r\n"
                          "COPY /B \"my film+1.avi\" + 100%%.001 \"my film+1.avi\"\r\n"));
}

// 255 bytes is the longest name a descriptor can hold; the piece numbers
// count towards it.
TEST_F(SplitFixture, NamesOfExactly255BytesFitAndOneMoreDoesNot) {
  const std::string stem(251, 'n');
  const NativeString source = Source(stem + ".bin", test::RandomBytes(3000));
  EXPECT_EQ(SplitFile(source, OutBase(stem), 1, 1, {true, true}).pieceCount, 3);
  const Descriptor d = ReadDescriptor(Out(stem + ".vok"));
  EXPECT_EQ(test::ReadFile(Out(stem + ".vok"))[20], 255);
  EXPECT_EQ(d.pieces.at(2).name, test::U8(stem + ".002"));
  // A thousand pieces would need "<stem>.1000", 256 bytes.
  const NativeString many = Source(stem + ".bin", test::RandomBytes(1001));
  try {
    SplitFile(many, OutBase(stem), 0, 0, {true, false});
    ADD_FAILURE() << "a 256-byte piece name was accepted";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::NameNotEncodable);
  }
}

// Preconditions refuse before anything is written.
TEST_F(SplitFixture, RefusesWhatTheFormatCannotHold) {
  struct Case {
    const char* what;
    std::string sourceName;
    Bytes content;
    std::string base;
    int minimum, maximum;
    SplitOptions options;
    ErrorCode expected;
  };
  const Bytes some = test::RandomBytes(40'000);
  const std::vector<Case> cases = {
      {"empty source", "e.bin", {}, "e", 1, 1, {true, false}, ErrorCode::SourceEmpty},
      {"negative size", "n.bin", some, "n", -1, 1, {true, false}, ErrorCode::SizeOutOfRange},
      {"size too large", "l.bin", some, "l", 1, kMaxSizeKb + 1, {true, false}, ErrorCode::SizeOutOfRange},
      {"more than 32,765 pieces", "m.bin", some, "m", 0, 0, {true, false}, ErrorCode::TooManyPieces},
      {"forbidden character", "b.bin", some, "a:b", 1, 1, {true, false}, ErrorCode::BadBaseName},
      {"name outside code page 932", "é.bin", some, "x", 1, 1, {true, false}, ErrorCode::NameNotEncodable},
      {"base outside code page 932", "x.bin", some, "é", 1, 1, {false, true}, ErrorCode::NameNotEncodable},
      {"base name over 255 bytes", "y.bin", some, std::string(252, 'y'), 1, 1, {true, false}, ErrorCode::NameNotEncodable},
  };
  for (const Case& c : cases) {
    const NativeString source = Source(c.sourceName, c.content);
    try {
      SplitFile(source, OutBase(c.base), c.minimum, c.maximum, c.options);
      ADD_FAILURE() << c.what << ": split ran";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), c.expected) << c.what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out")) << c.what;
  }
  // Without the descriptor and the batch file, names need no code page 932 form.
  EXPECT_EQ(SplitFile(Source("é.bin", some), OutBase("é"), 40, 40, {false, false}).pieceCount, 1);
}

// However the source is reached, no file the split would create may be it:
// the split refuses before it writes anything.
TEST_F(SplitFixture, NeverWritesOverItsSourceThroughAnyName) {
  std::filesystem::create_directories(dir / "out");
  const Bytes data = test::RandomBytes(3000);  // three pieces at 1 KiB
  auto expectRefused = [&](const std::string& what, const std::filesystem::path& source, std::string_view base) {
    SCOPED_TRACE(what);
    const auto before = test::Listing(dir / "out");
    try {
      SplitFile(source.native(), OutBase(base), 1, 1, {true, true});
      ADD_FAILURE() << "split ran";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::OutputIsSource);
    }
    EXPECT_EQ(test::ReadFile(source), data);
    EXPECT_EQ(test::Listing(dir / "out"), before);
  };
  for (std::string name : {"mv.001", "movie.vok", "movie.bat"}) {
    test::WriteFile(Out(name), data);
    expectRefused("its own name: " + name, Out(name), "mv");
    std::filesystem::remove(Out(name));
  }

  const auto source = dir / "movie.bin";
  test::WriteFile(source, data);
  std::filesystem::create_hard_link(source, Out("mv.001"));
  expectRefused("a hard link among the pieces", source, "mv");
  std::filesystem::remove(Out("mv.001"));
  std::filesystem::create_hard_link(source, Out("movie.vok"));
  expectRefused("a hard link as the descriptor", source, "other");
  std::filesystem::remove(Out("movie.vok"));

  std::error_code noLinks;
  std::filesystem::create_symlink(source, Out("mv.002"), noLinks);
  if (!noLinks) {
    expectRefused("a symbolic link among the pieces", source, "mv");
    std::filesystem::remove(Out("mv.002"));
    test::WriteFile(Out("mv.000"), data);
    std::filesystem::create_symlink(Out("mv.000"), dir / "link.bin");
    expectRefused("the source named through a link to a piece", dir / "link.bin", "mv");
    std::filesystem::remove(Out("mv.000"));
  }
#ifdef _WIN32
  // Windows names compare without regard to case, and a long name has a short one.
  test::WriteFile(Out("MV.001"), data);
  expectRefused("a case-only alias", Out("MV.001"), "mv");
  std::filesystem::remove(Out("MV.001"));
  test::WriteFile(Out("averylongsourcename.001"), data);
  wchar_t shortName[MAX_PATH];
  const DWORD n = GetShortPathNameW(Out("averylongsourcename.001").c_str(), shortName, MAX_PATH);
  const std::filesystem::path shortPath(std::wstring(shortName, n));
  ASSERT_NE(n, 0u);
  if (shortPath.filename() != L"averylongsourcename.001") {
    expectRefused("a short name", Out("averylongsourcename.001"), Utf8Name(shortPath.stem().native()));
  }
#endif
  // A piece number the split could not reach, or a descriptor not written, is no conflict.
  test::WriteFile(Out("mv.004"), data);
  EXPECT_EQ(SplitFile(Out("mv.004").native(), OutBase("mv"), 1, 1, {false, false}).pieceCount, 3);
  test::WriteFile(Out("movie.vok"), data);
  EXPECT_EQ(SplitFile(Out("movie.vok").native(), OutBase("x"), 1, 1, {false, true}).pieceCount, 3);
}

// Before the first byte: pieces, descriptor and batch file must fit the
// volume (pieces of at most 2 GiB fit FAT); nothing is written otherwise.
TEST_F(SplitFixture, ASplitThatCannotFitIsRefusedBeforeItWrites) {
  const NativeString source = Source("room.bin", test::RandomBytes(3000));
  std::optional<VolumeSpace> space = VolumeSpace{3000, true};
  io::SetSpaceHook([&](const std::filesystem::path&) { return space; });
  try {
    SplitFile(source, OutBase("r"), 1, 1, {true, true});
    ADD_FAILURE() << "split without room for its descriptor and batch file";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::NoSpace);
    EXPECT_GT(e.BytesNeeded(), 3000u);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
  space = VolumeSpace{4000, true};
  EXPECT_EQ(SplitFile(source, OutBase("r"), 1, 1, {true, true}).pieceCount, 3);
  io::SetSpaceHook({});
}

// A name another run took after the plan found it free: the split stops at
// it, leaves that file alone and removes only its own.
TEST_F(SplitFixture, ANameTakenMeanwhileStopsTheSplitWhichRemovesOnlyItsOwn) {
  const NativeString source = Source("taken.bin", test::RandomBytes(3000));
  SplitPlan plan = PlanSplit(source, {DeriveSplitNames(source, OutBase("t")), {1025, 1025, 950}}, {true, true});
  ASSERT_EQ(plan.ExistingCount(), 0u);
  test::WriteFile(Out("t.002"), test::AsBytes("another run's"));
  try {
    SplitFile(plan, {true, true});
    ADD_FAILURE() << "split over a file it was not asked to replace";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::IoFailed);
    EXPECT_EQ(e.Cause(), Cause::OutputAppeared);
    EXPECT_EQ(e.File(), "t.002");
  }
  EXPECT_EQ(test::Listing(dir / "out"), std::vector<std::filesystem::path>{"t.002"});
  EXPECT_EQ(test::ReadFile(Out("t.002")), test::AsBytes("another run's"));
}

// What is cut is what the source is from the first byte to the last: on
// Windows no one may write or delete it meanwhile; a change that gets through
// anyway (POSIX) fails the split, which then leaves nothing.
TEST_F(SplitFixture, TheSourceCannotChangeUnderTheSplit) {
  const Bytes data = test::RandomBytes(3000);
  const NativeString source = Source("grow.bin", data);
  const std::vector<std::uint32_t> lengths{1025, 1025, 950};
  for (const bool grow : {true, false}) {
    SCOPED_TRACE(grow ? "appended to" : "written in place");
    test::WriteFile(dir / "grow.bin", data);
    SplitPlan plan = PlanSplit(source, {DeriveSplitNames(source, OutBase("g")), lengths}, {true, true});
    std::ofstream writer(dir / "grow.bin", std::ios::binary | (grow ? std::ios::app : std::ios::in));
#ifdef _WIN32
    EXPECT_FALSE(writer.is_open()) << "another program could write the source";
    EXPECT_FALSE(DeleteFileW(source.c_str())) << "another program could delete the source";
    EXPECT_EQ(SplitFile(plan, {true, true}).pieceCount, 3);
    for (const auto& output : test::Listing(dir / "out")) std::filesystem::remove(dir / "out" / output);
#else
    ASSERT_TRUE(writer.is_open());
    writer << "more";
    writer.close();
    if (!grow) std::filesystem::last_write_time(dir / "grow.bin", std::filesystem::file_time_type::clock::now() + std::chrono::seconds(5));
    try {
      SplitFile(plan, {true, true});
      ADD_FAILURE() << "split a changed source";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::SourceModified);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
#endif
  }
}

// The piece limit applies to the sizes really drawn, and the split cuts
// exactly the drawn plan: a minimum of 0 is an ordinary input.
TEST_F(SplitFixture, ThePieceLimitAppliesToTheSizesReallyDrawn) {
  const Bytes mib = test::RandomBytes(1 << 20);
  const SplitResult result = SplitFile(Source("m.bin", mib), OutBase("m"), 0, 1024, {true, false});
  EXPECT_EQ(test::Concatenate(Pieces("m", result.pieceCount)), mib);

  const Bytes small = test::RandomBytes(40'000, 3);
  const std::vector<float> values = {0.1f, 0.9f, 0.5f, 0.0f, 0.99f, 0.3f};
  test::Draws planned(values), cut(values);
  const auto lengths = DrawPieceLengths(small.size(), 0, 1, std::ref(planned));
  ASSERT_TRUE(lengths.has_value());
  const SplitResult tiny = SplitFile(Source("t.bin", small), OutBase("t"), 0, 1, {true, false}, {}, std::ref(cut));
  ASSERT_EQ(static_cast<std::size_t>(tiny.pieceCount), lengths->size());
  for (int i = 0; i < tiny.pieceCount; ++i) {
    EXPECT_EQ(std::filesystem::file_size(Pieces("t", tiny.pieceCount)[static_cast<std::size_t>(i)]), (*lengths)[static_cast<std::size_t>(i)]);
  }
  EXPECT_EQ(cut.Count(), planned.Count());  // one draw per piece, none more

  EXPECT_FALSE(DrawPieceLengths(kMaxPieces + 1, 0, 0, {}).has_value());
  EXPECT_EQ(DrawPieceLengths(kMaxPieces, 0, 0, {})->size(), static_cast<std::size_t>(kMaxPieces));
}

// A name code page 932 holds only one way would come back as another name
// (on Windows a "\" in place of "¥"): refused before anything is written.
TEST_F(SplitFixture, NamesMustReadBackFromCodePage932) {
  const Bytes data = test::RandomBytes(1500);
  for (const char* name : {"第1話〜第3話", "a¥b", "A—B", "x−y", "‾", "‖", "¢", "£", "¬"}) {
    SCOPED_TRACE(name);
    for (const bool asBase : {false, true}) {
      const NativeString source = Source(asBase ? std::string("plain.bin") : std::string(name) + ".bin", data);
      try {
        SplitFile(source, OutBase(asBase ? name : "p"), 1, 1, {!asBase, asBase});
        ADD_FAILURE() << "split ran";
      } catch (const VokError& e) {
        EXPECT_EQ(e.Code(), ErrorCode::NameNotEncodable);
      }
      EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
    }
  }
  for (const char* name : {"第1話～第3話", "表示ソフト", "ｶﾀｶﾅ"}) {
    SCOPED_TRACE(name);
    SplitFile(Source(std::string(name) + ".bin", data), OutBase(name), 1, 1, {true, true});
    const Descriptor d = ReadDescriptor(Out(std::string(name) + ".vok"));
    EXPECT_EQ(d.sourceName, test::U8(std::string(name) + ".bin"));
    EXPECT_EQ(d.pieces.at(1).name, test::U8(std::string(name) + ".001"));
  }
}

}  // namespace
}  // namespace vokram
