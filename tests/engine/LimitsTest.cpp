// The edges the format sets: sources just below 2 GiB and the 32,765-piece
// limit of the descriptor's counter.
#include <gtest/gtest.h>

#include "Check.h"
#include "Descriptor.h"
#include "Error.h"
#include "Join.h"
#include "Split.h"
#include "TestSupport.h"

namespace vokram {
namespace {

using test::N;

// A file of the given length that takes no disk space where the file system
// allows holes.
void MakeSparse(const std::filesystem::path& path, std::uint64_t length) {
  test::WriteFile(path, test::Bytes{0x42});
  std::filesystem::resize_file(path, length);
}

TEST(Limits, TwoGibibytesAreRefusedAndOneByteLessSplitsChecksAndJoins) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "out");
  const NativeString base = WithTrailingSeparator((dir / "out").native()) + N("big");

  MakeSparse(dir / "too.bin", std::uint64_t{1} << 31);
  try {
    SplitFile((dir / "too.bin").native(), base, kMaxSizeKb, kMaxSizeKb, {true, false});
    ADD_FAILURE() << "a 2 GiB source was split";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::SourceTooLarge);
  }
  std::filesystem::remove(dir / "too.bin");

  const std::uint64_t largest = (std::uint64_t{1} << 31) - 1;
  MakeSparse(dir / "big.bin", largest);
  const SplitResult result = SplitFile((dir / "big.bin").native(), base, kMaxSizeKb, kMaxSizeKb, {true, false});
  EXPECT_EQ(result.pieceCount, 2);
  const Descriptor d = ReadDescriptor(dir / "out/big.vok");
  EXPECT_EQ(d.sourceSize, 0x7FFFFFFF);
  EXPECT_EQ(d.pieces.at(0).size, kMaxSizeKb * 1024 + 1);
  EXPECT_EQ(static_cast<std::uint64_t>(d.pieces.at(0).size) + static_cast<std::uint64_t>(d.pieces.at(1).size), largest);
  int sound = 0;
  CheckPieces(dir / "out/big.vok", [&](const PieceReport& r) { sound += r.status == PieceStatus::Sound; });
  EXPECT_EQ(sound, 2);
  std::filesystem::remove(dir / "big.bin");
  const JoinResult joined = JoinFile(dir / "out/big.vok", dir.Path().native());
  EXPECT_TRUE(joined.matchesRecord);
  EXPECT_EQ(std::filesystem::file_size(dir / "big.bin"), largest);
}

TEST(Limits, ExactlyTheLargestPieceCountWorksAndOneMoreIsRefused) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "out");
  const NativeString base = WithTrailingSeparator((dir / "out").native()) + N("p");
  test::WriteFile(dir / "over.bin", test::RandomBytes(kMaxPieces + 1));
  EXPECT_THROW(SplitFile((dir / "over.bin").native(), base, 0, 0, {true, false}), VokError);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));

  const test::Bytes data = test::RandomBytes(kMaxPieces);
  test::WriteFile(dir / "max.bin", data);
  EXPECT_EQ(SplitFile((dir / "max.bin").native(), base, 0, 0, {true, false}).pieceCount, kMaxPieces);
  const Descriptor d = ReadDescriptor(dir / "out/max.vok");
  ASSERT_EQ(d.pieces.size(), static_cast<std::size_t>(kMaxPieces));
  EXPECT_EQ(d.pieces.back().name, test::U8("p.32764"));
  std::filesystem::remove(dir / "max.bin");
  EXPECT_TRUE(JoinFile(dir / "out/max.vok", dir.Path().native()).matchesRecord);
  EXPECT_EQ(test::ReadFile(dir / "max.bin"), data);
}

}  // namespace
}  // namespace vokram
