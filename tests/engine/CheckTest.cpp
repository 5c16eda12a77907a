#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Check.h"
#include "Descriptor.h"
#include "Error.h"
#include "GetCRC.h"
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

// Browsers and mail programs save a piece as "表 (1).001" or "表.001.txt";
// such a file stands for the piece only when it is a plain file of the
// recorded length and CRC-16 in the same folder.
TEST_F(CheckFixture, APieceSavedUnderABrowsersNameIsFoundAndNoOtherIs) {
  const Bytes second = test::ReadFile(dir / "out/表.001");
  std::filesystem::remove(dir / "out/表.001");
  const Descriptor descriptor = ReadDescriptor(vok);
  const DescriptorPiece& piece = descriptor.pieces[1];
  auto find = [&] { return FindRenamedPiece(WithTrailingSeparator((dir / "out").native()), piece.name, piece.size, piece.crc); };
  for (const char* other : {"表 (10).001", "表(1).001", "表.001.txt.txt", "表.001 (1)", "x.001.txt"}) {
    test::WriteFile(dir / "out" / test::U8(other), second);
  }
  test::WriteFile(dir / "表.001.txt", second);  // another folder
  Bytes wrong = second;
  wrong[7] ^= 1;
  test::WriteFile(dir / "out/表 (2).001", wrong);  // the right length, another CRC
  EXPECT_FALSE(find().has_value());
#ifndef _WIN32
  std::filesystem::create_symlink(dir / "表.001.txt", dir / "out/表.001.download");
  EXPECT_FALSE(find().has_value());  // a link, even to the right bytes
#endif
  test::WriteFile(dir / "out/表 (9).001", second);
  EXPECT_EQ(find(), dir / "out" / test::U8("表 (9).001"));
  test::WriteFile(dir / "out/表.001.crdownload", second);
  EXPECT_EQ(Check(vok), (Report{{PieceStatus::Sound, "表.000"},
                                {PieceStatus::Sound, "表 (9).001"},
                                {PieceStatus::Sound, "表.002"}}));
}

// Where a recovery set has the piece, its MD5 must agree as well: a file of
// the right length and CRC-16 but other bytes is not taken.
TEST_F(CheckFixture, ARenamedPieceMustMatchTheRecoverySetToo) {
  test::WriteFile(dir / "src.bin", test::RandomBytes(200000));
  SplitFile((dir / "src.bin").native(), WithTrailingSeparator((dir / "out").native()) + N("表"), 64, 64,
            {true, false, true, 1});
  const Bytes second = test::ReadFile(dir / "out/表.001");
  std::filesystem::remove(dir / "out/表.001");
  // Another first byte, and the last two bytes chosen so that the CRC-16 is the same.
  Bytes forged = second;
  forged[0] ^= 0x5A;
  const std::uint16_t wanted = UpdateCRC(kCrcInitial, second);
  const std::uint16_t head = UpdateCRC(kCrcInitial, forged.data(), forged.size() - 2);
  for (std::uint32_t tail = 0; tail <= 0xFFFF && UpdateCRC(head, forged.data() + forged.size() - 2, 2) != wanted; ++tail) {
    forged[forged.size() - 2] = static_cast<std::uint8_t>(tail);
    forged[forged.size() - 1] = static_cast<std::uint8_t>(tail >> 8);
  }
  ASSERT_EQ(UpdateCRC(kCrcInitial, forged), wanted);
  test::WriteFile(dir / "out/表 (1).001", forged);
  EXPECT_EQ(Check(vok)[1], (std::pair<PieceStatus, std::string>{PieceStatus::Missing, "表.001"}));
  test::WriteFile(dir / "out/表 (1).001", second);
  EXPECT_EQ(Check(vok)[1], (std::pair<PieceStatus, std::string>{PieceStatus::Sound, "表 (1).001"}));
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
