#include <gtest/gtest.h>

#include <cwctype>

#ifdef _WIN32
#include <windows.h>
#endif

#include "CodePage932.h"
#include "Descriptor.h"
#include "Error.h"
#include "GetCRC.h"
#include "Join.h"
#include "Split.h"
#include "TestSupport.h"

namespace vokram {
namespace {

using test::Bytes;
using test::N;

struct JoinFixture : ::testing::Test {
  test::TempDir parts;
  test::TempDir restore;

  // A descriptor listing the given pieces (written beside it) in that order.
  std::filesystem::path Describe(std::string_view source, const std::vector<std::pair<std::string, Bytes>>& pieces,
                                 std::int32_t sourceSize = -1, std::uint16_t sourceCrc = 0) {
    Bytes all;
    for (const auto& [name, bytes] : pieces) all.insert(all.end(), bytes.begin(), bytes.end());
    const auto vok = parts / "set.vok";
    std::filesystem::remove(vok);
    DescriptorWriter writer(*File::CreateNew(vok), *EncodeCp932(test::U8(source)),
                            sourceSize >= 0 ? static_cast<std::uint64_t>(sourceSize) : all.size());
    for (const auto& [name, bytes] : pieces) {
      test::WriteFile(parts / name, bytes);
      writer.AddPiece({*EncodeCp932(test::U8(name)), static_cast<std::int32_t>(bytes.size()),
                       UpdateCRC(kCrcInitial, bytes)});
    }
    writer.Finish(sourceSize >= 0 ? sourceCrc : UpdateCRC(kCrcInitial, all));
    return vok;
  }

  std::vector<std::filesystem::path> RestoreFolder() const {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(restore.Path())) names.push_back(entry.path().filename());
    return names;
  }
};

ErrorCode JoinFails(const std::filesystem::path& vok, NativeView folder, std::filesystem::path* file = nullptr,
                    bool replace = false) {
  try {
    JoinFile(vok, folder, {}, replace);
  } catch (const VokError& e) {
    if (file) *file = e.File();
    return e.Code();
  }
  ADD_FAILURE() << "join succeeded";
  return ErrorCode::IoFailed;
}

TEST_F(JoinFixture, JoinsInDescriptorOrderNotNameOrder) {
  const Bytes a = test::RandomBytes(100, 1), b = test::RandomBytes(2000, 2), c = test::RandomBytes(3, 3);
  const auto vok = Describe("whole.bin", {{"b", b}, {"a", a}, {"c", c}});
  const JoinResult result = JoinFile(vok, restore.Path().native());  // no trailing separator
  Bytes expected = b;
  expected.insert(expected.end(), a.begin(), a.end());
  expected.insert(expected.end(), c.begin(), c.end());
  EXPECT_EQ(result.outputPath, restore.Path() / "whole.bin");
  EXPECT_EQ(test::ReadFile(restore / "whole.bin"), expected);
  EXPECT_TRUE(result.matchesRecord);
  EXPECT_EQ(result.size, expected.size());
  EXPECT_EQ(RestoreFolder(), std::vector<std::filesystem::path>{"whole.bin"});  // no temporary left
}

// The copy buffer is filled across piece ends: pieces that end exactly at its
// end, one byte before and after it, span it twice, and are a single byte.
TEST_F(JoinFixture, PiecesMeetingTheCopyBufferEdgeJoinByteForByte) {
  const std::size_t full = kCopyBufferSize;
  const std::vector<std::size_t> sizes = {full / 2, full / 2, 1, full - 2, 2, 2 * full + 1, 1, full - 1, 3};
  std::vector<std::pair<std::string, Bytes>> pieces;
  Bytes expected;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    pieces.emplace_back("p." + std::to_string(i), test::RandomBytes(sizes[i], static_cast<unsigned>(i) + 10));
    expected.insert(expected.end(), pieces.back().second.begin(), pieces.back().second.end());
  }
  const JoinResult result = JoinFile(Describe("edges.bin", pieces), restore.Path().native());
  EXPECT_EQ(test::ReadFile(restore / "edges.bin"), expected);
  EXPECT_EQ(result.size, expected.size());
  EXPECT_EQ(result.crc, UpdateCRC(kCrcInitial, expected));
  EXPECT_TRUE(result.matchesRecord);
}

TEST_F(JoinFixture, FolderWithOrWithoutSeparatorGivesTheSamePath) {
  const auto vok = Describe("x.bin", {{"x.000", Bytes{1, 2, 3}}});
  EXPECT_EQ(PlanJoin(vok, restore.Path().native()).output.path, PlanJoin(vok, restore.Folder()).output.path);
  EXPECT_EQ(JoinFile(vok, restore.Path().native()).outputPath, restore / "x.bin");
}

TEST_F(JoinFixture, RoundTripsASplitWithJapaneseNamesIntoItsOwnFolder) {
  const Bytes data = test::RandomBytes(70'000, 8);
  test::WriteFile(parts / "表ソ日本語.dat", data);
  std::filesystem::create_directory(parts / "out");
  SplitFile((parts / "表ソ日本語.dat").native(), WithTrailingSeparator((parts / "out").native()) + N("能"), 3, 9,
            {true, false});
  std::filesystem::rename(parts / "表ソ日本語.dat", parts / "original.dat");
  const JoinResult result = JoinFile(parts / "out/表ソ日本語.vok", FolderPart((parts / "out/表ソ日本語.vok").native()));
  EXPECT_TRUE(result.matchesRecord);
  EXPECT_EQ(test::ReadFile(parts / "out/表ソ日本語.dat"), data);
}

// With recovery files beside the pieces: a piece missing before the join is
// rebuilt beside the copy; with another one damaged, both are rebuilt after
// it; a piece found under a browser's name needs no rebuild at all.
TEST_F(JoinFixture, PiecesLostOnTheWayAreRebuiltFromRecoveryFiles) {
  const Bytes data = test::RandomBytes(300'000, 11);
  test::WriteFile(parts / "src.bin", data);
  SplitFile((parts / "src.bin").native(), (parts / "p").native(), 10, 30, {true, false, false, 2});
  std::filesystem::remove(parts / "src.bin");
  const Bytes third = test::ReadFile(parts / "p.003"), fifth = test::ReadFile(parts / "p.005");
  const auto join = [&](int restored) {
    std::filesystem::remove(restore / "src.bin");
    const JoinResult result = JoinFile(parts / "src.vok", restore.Path().native());
    EXPECT_TRUE(result.matchesRecord);
    EXPECT_EQ(result.restored, restored);
    EXPECT_EQ(test::ReadFile(restore / "src.bin"), data);
    return result;
  };
  std::filesystem::remove(parts / "p.003");
  join(1);
  Bytes damaged = fifth;
  damaged[7] ^= 0x20;
  test::WriteFile(parts / "p.005", damaged);
  join(2);
  test::WriteFile(parts / "p (1).003", third);
  test::WriteFile(parts / "p.005", fifth);
  EXPECT_EQ(join(0).renamed.size(), 1u);
}

TEST_F(JoinFixture, ZeroPiecesAreABrokenDescriptorThatEmptiesNoFile) {
  const auto vok = Describe("notes.txt", {}, 10, 0x1234);
  test::WriteFile(restore / "notes.txt", test::AsBytes("notes"));
  EXPECT_EQ(JoinFails(vok, restore.Folder(), nullptr, true), ErrorCode::BrokenVok);
  EXPECT_EQ(test::ReadFile(restore / "notes.txt"), test::AsBytes("notes"));
}

TEST_F(JoinFixture, DamagedOrResizedPiecesAreJoinedAsTheyAreAndReportedAsMismatch) {
  const Bytes a = test::RandomBytes(500, 1), b = test::RandomBytes(500, 2);
  const auto vok = Describe("w.bin", {{"w.000", a}, {"w.001", b}});
  Bytes changed = b;
  changed[10] ^= 0x40;
  test::WriteFile(parts / "w.001", changed);
  JoinResult result = JoinFile(vok, restore.Folder());
  EXPECT_FALSE(result.matchesRecord);
  Bytes expected = a;
  expected.insert(expected.end(), changed.begin(), changed.end());
  EXPECT_EQ(test::ReadFile(restore / "w.bin"), expected);

  changed.resize(900, 7);  // longer on disk than recorded: copied whole
  test::WriteFile(parts / "w.001", changed);
  std::filesystem::remove(restore / "w.bin");
  result = JoinFile(vok, restore.Folder());
  EXPECT_EQ(result.size, 1400u);
  EXPECT_EQ(std::filesystem::file_size(restore / "w.bin"), 1400u);
}

TEST_F(JoinFixture, ReadsPiecesBesideTheDescriptorAndWritesOnlyTheResultElsewhere) {
  const auto vok = Describe("r.bin", {{"r.000", Bytes{9, 8, 7}}});
  test::WriteFile(restore / "r.000", Bytes{1});  // a decoy in the output folder
  JoinFile(vok, restore.Folder());
  EXPECT_EQ(test::ReadFile(restore / "r.bin"), (Bytes{9, 8, 7}));
}

// An existing file of the output's name is replaced only with consent, by a
// new file in its place: never written into, never through a link.
TEST_F(JoinFixture, ReplacesAnExistingOutputOnlyWithConsentAndAsAWholeNewFile) {
  const auto vok = Describe("o.bin", {{"o.000", Bytes{1, 2}}});
  const Bytes older = test::RandomBytes(5000);
  test::WriteFile(restore / "o.bin", older);
  std::filesystem::path named;
  EXPECT_EQ(JoinFails(vok, restore.Folder(), &named), ErrorCode::OutputExists);
  EXPECT_EQ(named.filename(), "o.bin");
  EXPECT_EQ(test::ReadFile(restore / "o.bin"), older);
  EXPECT_EQ(PlanJoin(vok, restore.Folder()).output.exists, true);

  std::filesystem::create_hard_link(restore / "o.bin", restore / "other-name");
#ifdef _WIN32
  // The new file looks like the old one, read-only included.
  constexpr DWORD kLook = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
  ASSERT_TRUE(SetFileAttributesW((restore / "o.bin").c_str(), kLook));
#else
  // A setuid or setgid bit belonged to the old content.
  std::filesystem::permissions(restore / "o.bin", std::filesystem::perms(06640));
#endif
  EXPECT_TRUE(JoinFile(vok, restore.Folder(), {}, true).matchesRecord);
  EXPECT_EQ(test::ReadFile(restore / "o.bin"), (Bytes{1, 2}));
  EXPECT_EQ(test::ReadFile(restore / "other-name"), older);  // a new file took the name
#ifdef _WIN32
  EXPECT_EQ(GetFileAttributesW((restore / "o.bin").c_str()) & kLook, kLook);
  SetFileAttributesW((restore / "o.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesW((restore / "other-name").c_str(), FILE_ATTRIBUTE_NORMAL);
#else
  EXPECT_EQ(std::filesystem::status(restore / "o.bin").permissions(), std::filesystem::perms(0640));
  // A link under the output's name is replaced; what it leads to stays.
  test::WriteFile(parts / "victim", older);
  std::filesystem::remove(restore / "o.bin");
  std::filesystem::create_symlink(parts / "victim", restore / "o.bin");
  EXPECT_TRUE(PlanJoin(vok, restore.Folder()).output.exists);
  EXPECT_TRUE(JoinFile(vok, restore.Folder(), {}, true).matchesRecord);
  EXPECT_FALSE(std::filesystem::is_symlink(restore / "o.bin"));
  EXPECT_EQ(test::ReadFile(parts / "victim"), older);
#endif
}

TEST_F(JoinFixture, AMissingEmptyOrFolderPieceStopsWithoutTouchingTheOutput) {
  const Bytes old = test::RandomBytes(77);
  struct Case {
    const char* what;
    std::function<void()> spoil;
  };
  const std::vector<Case> cases = {
      {"missing", [&] { std::filesystem::remove(parts / "p.001"); }},
      {"empty", [&] { test::WriteFile(parts / "p.001", Bytes{}); }},
      {"folder", [&] { std::filesystem::remove(parts / "p.001"); std::filesystem::create_directory(parts / "p.001"); }},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(parts / "p.001");
    const auto vok = Describe("p.bin", {{"p.000", Bytes{1}}, {"p.001", Bytes{2}}, {"p.002", Bytes{3}}});
    c.spoil();
    test::WriteFile(restore / "p.bin", old);
    std::filesystem::path named;
    EXPECT_EQ(JoinFails(vok, restore.Folder(), &named, true), ErrorCode::PieceUnreadable) << c.what;
    EXPECT_EQ(named, test::U8("p.001")) << c.what;
    EXPECT_EQ(test::ReadFile(restore / "p.bin"), old) << c.what;
    EXPECT_EQ(RestoreFolder(), std::vector<std::filesystem::path>{"p.bin"}) << c.what;
  }
}

TEST_F(JoinFixture, RefusesForeignAndBrokenDescriptorsWithoutCreatingAnything) {
  test::WriteFile(parts / "text.vok", test::AsBytes("vok, but lower case"));
  EXPECT_EQ(JoinFails(parts / "text.vok", restore.Folder()), ErrorCode::NotVok);
  test::WriteFile(parts / "short.vok", test::AsBytes("VOK\0\x30"));
  EXPECT_EQ(JoinFails(parts / "short.vok", restore.Folder()), ErrorCode::BrokenVok);
  EXPECT_TRUE(RestoreFolder().empty());
}

TEST_F(JoinFixture, AFolderNamedLikeTheOutputIsRefusedNeverReplaced) {
  const auto vok = Describe("d.bin", {{"d.000", Bytes{1}}});
  std::filesystem::create_directory(restore / "d.bin");
  std::filesystem::path named;
  EXPECT_EQ(JoinFails(vok, restore.Folder(), &named, true), ErrorCode::OutputIsFolder);
  EXPECT_EQ(named, "d.bin");
  EXPECT_EQ(RestoreFolder(), std::vector<std::filesystem::path>{"d.bin"});
  EXPECT_TRUE(std::filesystem::is_directory(restore / "d.bin"));
}

// A join whose result fails its record keeps a file of the output's name as
// it was; with no such file it writes the result and says so.
TEST_F(JoinFixture, AResultThatFailsItsRecordNeverReplacesAFile) {
  const Bytes a = test::RandomBytes(1500, 1), b = test::RandomBytes(700, 2);
  const auto vok = Describe("g.bin", {{"g.000", a}, {"g.001", b}});
  Bytes good = a;
  good.insert(good.end(), b.begin(), b.end());
  test::WriteFile(restore / "g.bin", good);
  Bytes damaged = b;
  damaged[3] ^= 1;
  test::WriteFile(parts / "g.001", damaged);

  const JoinResult kept = JoinFile(vok, restore.Folder(), {}, true);
  EXPECT_FALSE(kept.matchesRecord);
  EXPECT_TRUE(kept.keptOlderFile);
  EXPECT_EQ(test::ReadFile(restore / "g.bin"), good);
  EXPECT_EQ(RestoreFolder(), std::vector<std::filesystem::path>{"g.bin"});

  std::filesystem::remove(restore / "g.bin");
  const JoinResult written = JoinFile(vok, restore.Folder());
  EXPECT_FALSE(written.matchesRecord);
  EXPECT_FALSE(written.keptOlderFile);
  EXPECT_EQ(std::filesystem::file_size(restore / "g.bin"), good.size());
}

// The output may be none of the join's inputs, by name or by identity, and a
// piece may not be the join's own temporary file.
TEST_F(JoinFixture, NeverWritesOverOrReadsItsOwnInputs) {
  auto expectRefused = [&](const std::string& what, const std::filesystem::path& vok, const NativeString& folder,
                           const std::vector<std::filesystem::path>& unchanged) {
    SCOPED_TRACE(what);
    std::vector<Bytes> before;
    for (const auto& f : unchanged) before.push_back(test::ReadFile(f));
    const auto listing = std::distance(std::filesystem::directory_iterator(parts.Path()), {});
    EXPECT_EQ(JoinFails(vok, folder), ErrorCode::OutputIsInput);
    for (std::size_t i = 0; i < unchanged.size(); ++i) EXPECT_EQ(test::ReadFile(unchanged[i]), before[i]);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(parts.Path()), {}), listing);  // no temporary
  };
  // A source named like its first piece, joined beside its pieces.
  const Bytes data = test::RandomBytes(3000);
  test::WriteFile(restore / "mv.000", data);
  SplitFile((restore / "mv.000").native(), WithTrailingSeparator(parts.Path().native()) + N("mv"), 1, 1, {true, false});
  expectRefused("the output is the first piece", parts / "mv.vok", parts.Folder(), {parts / "mv.000"});

  // A descriptor that lists a piece under the output's name, with an older file of that name.
  const auto listed = Describe("old.bin", {{"x.000", Bytes{1, 2}}, {"old.bin", Bytes{3}}});
  expectRefused("a piece is the output", listed, parts.Folder(), {parts / "old.bin"});
  // The descriptor itself named as the source.
  const auto self = Describe("set.vok", {{"s.000", Bytes{4}}});
  expectRefused("the output is the descriptor", self, parts.Folder(), {self});

  std::error_code noLinks;
  std::filesystem::create_directory_symlink(parts.Path(), restore / "alias", noLinks);
  if (!noLinks) {
    expectRefused("the pieces' folder through a link", listed, (restore / "alias").native(), {parts / "old.bin"});
  }
#ifdef _WIN32
  NativeString upper = parts.Folder();
  for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  expectRefused("the pieces' folder in capitals", listed, upper, {parts / "old.bin"});
#endif
  // The temporary's name listed after a piece longer than the copy buffer:
  // reading it would never end.
  const auto loop = Describe("loop.bin", {{"l.000", test::RandomBytes(kCopyBufferSize + 10)}, {"~vok0000.tmp", Bytes{5}}});
  std::filesystem::remove(parts / "~vok0000.tmp");
  expectRefused("a piece is the temporary", loop, parts.Folder(), {});
  EXPECT_FALSE(std::filesystem::exists(parts / "loop.bin"));
}

// Before the first byte: the pieces as they are on disk, whatever their
// records say, must fit the output's volume, and a FAT volume takes no file
// of 4 GiB or more.
TEST_F(JoinFixture, AJoinThatCannotFitIsRefusedBeforeItWrites) {
  const auto vok = Describe("f.bin", {{"f.000", test::RandomBytes(1000)}, {"f.001", test::RandomBytes(500)}});
  test::WriteFile(parts / "f.001", test::RandomBytes(5000));  // longer on disk than its record
  std::optional<VolumeSpace> space;
  io::SetSpaceHook([&](const std::filesystem::path&) { return space; });
  auto refusal = [&]() -> std::optional<VokError> {
    try {
      PlanJoin(vok, restore.Folder());
    } catch (const VokError& e) {
      return e;
    }
    return std::nullopt;
  };
  space = VolumeSpace{5999, false};
  ASSERT_TRUE(refusal());
  EXPECT_EQ(refusal()->Code(), ErrorCode::NoSpace);
  EXPECT_EQ(refusal()->BytesNeeded(), 6000u);
  EXPECT_EQ(JoinFails(vok, restore.Folder()), ErrorCode::NoSpace);
  EXPECT_TRUE(RestoreFolder().empty());
  space = VolumeSpace{6000, true};
  EXPECT_FALSE(refusal());

  constexpr std::uint64_t k2GiB = std::uint64_t{1} << 31;
  std::filesystem::resize_file(parts / "f.000", k2GiB);  // sparse: no disk taken
  std::filesystem::resize_file(parts / "f.001", k2GiB - 1);
  space = VolumeSpace{~std::uint64_t{0}, true};
  EXPECT_FALSE(refusal());  // 4 GiB - 1 byte fits FAT
  std::filesystem::resize_file(parts / "f.001", k2GiB);
  ASSERT_TRUE(refusal());
  EXPECT_EQ(refusal()->Code(), ErrorCode::TooLargeForVolume);
  space = VolumeSpace{~std::uint64_t{0}, false};
  EXPECT_FALSE(refusal());
  io::SetSpaceHook({});
}

// The temporary file's name is short, so a source name of 255 bytes joins.
TEST_F(JoinFixture, ASourceNameOf255BytesJoins) {
  const std::string name = std::string(251, 'n') + ".bin";
  const auto vok = Describe(name, {{"n.000", test::RandomBytes(2000)}});
  const JoinResult result = JoinFile(vok, restore.Folder());
  EXPECT_TRUE(result.matchesRecord);
  EXPECT_EQ(RestoreFolder(), std::vector<std::filesystem::path>{test::U8(name)});
}

// Every listed piece is read by its name; hidden or not makes no difference.
TEST_F(JoinFixture, AHiddenPieceIsJoined) {
  const Bytes a = test::RandomBytes(100, 1), b = test::RandomBytes(200, 2);
  const auto vok = Describe("h.bin", {{"h.000", a}, {"h.001", b}});
  if (!test::MakeHidden(parts / "h.001")) GTEST_SKIP() << "no hidden attribute on this system";
  EXPECT_TRUE(JoinFile(vok, restore.Folder()).matchesRecord);
  Bytes expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(test::ReadFile(restore / "h.bin"), expected);
}

}  // namespace
}  // namespace vokram
