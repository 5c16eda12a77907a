// The edges of the format: sources beyond 32 bits and the 32,765-piece limit
// of the descriptor's counter. Gigabytes on disk: kept out of the sanitizer run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

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

// Bytes that differ from the holes around them, across an edge of 32 bits.
void PutBlock(std::FILE* file, std::uint64_t at, const test::Bytes& block) {
  ASSERT_EQ(fseeko(file, static_cast<off_t>(at), SEEK_SET), 0);
  ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), file), block.size());
}

bool SameContents(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::FILE* fa = std::fopen(a.c_str(), "rb");
  std::FILE* fb = std::fopen(b.c_str(), "rb");
  std::vector<char> ba(1 << 20), bb(1 << 20);
  bool same = fa && fb;
  while (same) {
    const std::size_t na = std::fread(ba.data(), 1, ba.size(), fa), nb = std::fread(bb.data(), 1, bb.size(), fb);
    same = na == nb && std::equal(ba.begin(), ba.begin() + static_cast<std::ptrdiff_t>(na), bb.begin());
    if (na == 0) break;
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return same;
}

// A source just over 4 GiB (sparse, with random blocks across the 2 GiB and
// 4 GiB edges and at its end) in pieces of the largest size: split, every
// piece sound, joined byte for byte, and the descriptor holds its exact size.
TEST(Limits, ASourceBeyondFourGibibytesSplitsChecksAndJoins) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "out");
  const NativeString base = WithTrailingSeparator((dir / "out").native()) + N("big");
  const std::uint64_t length = (std::uint64_t{1} << 32) + 70000;
  MakeSparse(dir / "big.bin", length);
  std::FILE* file = std::fopen((dir / "big.bin").c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  PutBlock(file, (std::uint64_t{1} << 31) - 30000, test::RandomBytes(60000, 1));
  PutBlock(file, (std::uint64_t{1} << 32) - 30000, test::RandomBytes(60000, 2));
  PutBlock(file, length - 10000, test::RandomBytes(10000, 3));
  std::fclose(file);

  const SplitResult result = SplitFile((dir / "big.bin").native(), base, kMaxSizeKb, kMaxSizeKb, {true, false});
  EXPECT_EQ(result.pieceCount, 3);
  const Descriptor d = ReadDescriptor(dir / "out/big.vok");
  EXPECT_EQ(d.sourceSize, length);
  EXPECT_EQ(d.pieces.at(0).size, kMaxSizeKb * 1024 + 1);
  int sound = 0;
  CheckPieces(dir / "out/big.vok", [&](const PieceReport& r) { sound += r.status == PieceStatus::Sound; });
  EXPECT_EQ(sound, 3);
  std::filesystem::create_directory(dir / "joined");
  const JoinResult joined = JoinFile(dir / "out/big.vok", (dir / "joined").native());
  EXPECT_TRUE(joined.matchesRecord);
  EXPECT_EQ(joined.size, length);
  EXPECT_TRUE(SameContents(dir / "big.bin", dir / "joined/big.bin"));
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
