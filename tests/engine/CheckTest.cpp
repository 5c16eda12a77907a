#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Check.h"
#include "Error.h"
#include "Split.h"
#include "TestSupport.h"

namespace vokram {
namespace {

using test::Bytes;
using test::N;

struct CheckFixture : ::testing::Test {
  test::TempDir dir;
  std::filesystem::path vok;
  void SetUp() override {
    test::WriteFile(dir / "src.bin", test::RandomBytes(3000));
    std::filesystem::create_directory(dir / "out");
    SplitFile((dir / "src.bin").native(), WithTrailingSeparator((dir / "out").native()) + N("表"), 1, 1,
              {true, false});
    vok = dir / "out/src.vok";
  }
  using Report = std::vector<std::pair<PieceStatus, std::string>>;
  Report Check(const std::filesystem::path& path) {
    Report report;
    CheckPieces(path, [&](const PieceReport& r) { report.emplace_back(r.status, ToUtf8(r.name)); });
    return report;
  }
};

TEST_F(CheckFixture, SoundPiecesGiveOneCircleLineEach) {
  EXPECT_EQ(Check(vok),
            (Report{{PieceStatus::Sound, "表.000"}, {PieceStatus::Sound, "表.001"}, {PieceStatus::Sound, "表.002"}}));
}

TEST_F(CheckFixture, MarksMissingAndDamagedPiecesAndGoesOn) {
  std::filesystem::remove(dir / "out/表.001");
  Bytes third = test::ReadFile(dir / "out/表.002");
  third[0] ^= 1;
  test::WriteFile(dir / "out/表.002", third);
  EXPECT_EQ(Check(vok), (Report{{PieceStatus::Sound, "表.000"},
                                {PieceStatus::Missing, "表.001"},
                                {PieceStatus::Damaged, "表.002"}}));
}

TEST_F(CheckFixture, EmptyPieceIsDamagedAndFolderIsMissing) {
  test::WriteFile(dir / "out/表.000", Bytes{});
  std::filesystem::remove(dir / "out/表.001");
  std::filesystem::create_directory(dir / "out/表.001");
  EXPECT_EQ(Check(vok), (Report{{PieceStatus::Damaged, "表.000"},
                                {PieceStatus::Missing, "表.001"},
                                {PieceStatus::Sound, "表.002"}}));
}

#ifdef _WIN32
TEST_F(CheckFixture, HiddenPieceIsMissing) {
  ASSERT_TRUE(test::MakeHidden(dir / "out/表.001"));
  EXPECT_EQ(Check(vok), (Report{{PieceStatus::Sound, "表.000"},
                                {PieceStatus::Missing, "表.001"},
                                {PieceStatus::Sound, "表.002"}}));
}
#endif

TEST_F(CheckFixture, CallsBackOncePerPieceInOrder) {
  std::vector<std::filesystem::path> seen;
  CheckPieces(vok, [&](const PieceReport& r) { seen.push_back(r.name); });
  EXPECT_EQ(seen, (std::vector<std::filesystem::path>{test::U8("表.000"), test::U8("表.001"), test::U8("表.002")}));
}

TEST_F(CheckFixture, RefusesForeignAndTruncatedDescriptors) {
  const Bytes whole = test::ReadFile(vok);
  test::WriteFile(dir / "out/cut.vok", Bytes(whole.begin(), whole.end() - 1));
  int lines = 0;
  try {
    CheckPieces(dir / "out/cut.vok", [&](const PieceReport&) { ++lines; });
    ADD_FAILURE() << "a truncated descriptor was checked";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::BrokenVok);
  }
  EXPECT_EQ(lines, 0);  // refused before any line
  test::WriteFile(dir / "out/other.vok", test::AsBytes("plain text, no descriptor"));
  EXPECT_THROW(CheckPieces(dir / "out/other.vok", [](const PieceReport&) {}), VokError);
}

}  // namespace
}  // namespace vokram
