#include <gtest/gtest.h>

#include <random>

#include "CrcFold.h"
#include "GetCRC.h"
#include "TestSupport.h"

namespace vokram {
namespace {

using test::AsBytes;
using test::Bytes;

// The plain bit-at-a-time definition, independent of any table.
std::uint16_t BitwiseCrc(const Bytes& bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  return crc;
}

TEST(CrcTable, HasTheReflectedCcittEntries) {
  const auto& table = CRCTable();
  EXPECT_EQ(table[0], 0x0000);
  EXPECT_EQ(table[1], 0x1189);
  EXPECT_EQ(table[2], 0x2312);
  EXPECT_EQ(table[3], 0x329B);
  EXPECT_EQ(table[128], 0x8408);
  EXPECT_EQ(table[255], 0x0F78);
}

TEST(GetBytesCRC, KnownValues) {
  EXPECT_EQ(GetBytesCRC(AsBytes("123456789")), 0x6F91);
  EXPECT_EQ(GetBytesCRC(Bytes{0x00}), 0x0F87);
  EXPECT_EQ(GetBytesCRC(Bytes{}), 0xFFFF);
}

TEST(CRCText, KeepsLeadingZerosAndUpperCase) {
  EXPECT_EQ(CRCText(0x00A5), "00A5");
  EXPECT_EQ(CRCText(0x0A05), "0A05");
  EXPECT_EQ(CRCText(0xBEEF), "BEEF");
  EXPECT_EQ(CRCText(0), "0000");
}

// The sliced fast path must agree with the definition at every length (so
// every tail length and block count is covered) and however the bytes are fed.
TEST(UpdateCRC, AgreesWithTheBitwiseDefinitionAtEveryLengthAndChunking) {
  const Bytes data = test::RandomBytes(3000, 7);
  for (std::size_t length = 0; length <= 600; ++length) {
    const Bytes part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
    ASSERT_EQ(UpdateCRC(kCrcInitial, part), BitwiseCrc(part)) << "length " << length;
  }
  for (std::size_t offset = 1; offset < 17; ++offset) {
    const Bytes part(data.begin() + static_cast<std::ptrdiff_t>(offset), data.end());
    ASSERT_EQ(UpdateCRC(kCrcInitial, part.data(), part.size()), BitwiseCrc(part)) << "offset " << offset;
  }
  std::mt19937 generator(3);
  for (int round = 0; round < 50; ++round) {
    std::uint16_t crc = kCrcInitial;
    std::size_t at = 0;
    while (at < data.size()) {
      const std::size_t n = std::min<std::size_t>(generator() % 70, data.size() - at);
      crc = UpdateCRC(crc, data.data() + at, n);
      at += n;
    }
    ASSERT_EQ(crc, BitwiseCrc(data));
  }
}

// Every carry-less path this processor runs against the table, at every
// length to a few thousand bytes, every alignment and the starting registers
// it is likely to meet.
TEST(UpdateCRCFolded, EveryWidthAgreesWithTheTableEverywhere) {
  const Bytes data = test::RandomBytes(4200, 13);
  using detail::FoldWidth;
  for (FoldWidth width : {FoldWidth::Bits128, FoldWidth::Bits256, FoldWidth::Bits512}) {
    if (static_cast<int>(width) > static_cast<int>(detail::SupportedFold())) continue;
    SCOPED_TRACE(static_cast<int>(width));
    for (std::size_t offset = 0; offset < 64; offset += (width == FoldWidth::Bits128 ? 1 : 7)) {
      for (std::size_t length = detail::FoldMinimum(width); length + offset <= data.size();
           length += (offset ? 61 : 1)) {
        const std::uint8_t* p = data.data() + offset;
        std::size_t done = 0;
        const std::uint16_t folded = detail::UpdateCRCFolded(width, 0x1D0F, p, length, &done);
        ASSERT_EQ(done, length / 16 * 16);
        ASSERT_EQ(folded, UpdateCRCSliced(0x1D0F, p, done)) << "length " << length << " offset " << offset;
      }
    }
    for (std::uint16_t start : {std::uint16_t{0x0000}, std::uint16_t{0xFFFF}, std::uint16_t{0x8000}, std::uint16_t{0x0001}}) {
      std::size_t done = 0;
      EXPECT_EQ(detail::UpdateCRCFolded(width, start, data.data(), 1024, &done), UpdateCRCSliced(start, data.data(), 1024));
    }
  }
}

// A benchmark may narrow the fold, never widen it past the processor.
TEST(UpdateCRCFolded, TheEnvironmentOnlyNarrowsTheChoice) {
  using detail::CappedFold;
  using detail::FoldWidth;
  EXPECT_EQ(CappedFold(FoldWidth::Bits512, nullptr), FoldWidth::Bits512);
  EXPECT_EQ(CappedFold(FoldWidth::Bits512, "256"), FoldWidth::Bits256);
  EXPECT_EQ(CappedFold(FoldWidth::Bits512, "128"), FoldWidth::Bits128);
  EXPECT_EQ(CappedFold(FoldWidth::Bits512, "0"), FoldWidth::None);
  EXPECT_EQ(CappedFold(FoldWidth::Bits128, "256"), FoldWidth::Bits128);
  EXPECT_EQ(CappedFold(FoldWidth::None, "512"), FoldWidth::None);
  EXPECT_EQ(CappedFold(FoldWidth::Bits256, "wide"), FoldWidth::Bits256);
}

TEST(CombineCRC, EqualsTheCrcOfTheConcatenation) {
  const Bytes data = test::RandomBytes(5000, 11);
  for (std::size_t cut : {0u, 1u, 2u, 15u, 16u, 17u, 1000u, 4999u, 5000u}) {
    const Bytes a(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut));
    const Bytes b(data.begin() + static_cast<std::ptrdiff_t>(cut), data.end());
    EXPECT_EQ(CombineCRC(UpdateCRC(kCrcInitial, a), UpdateCRC(kCrcInitial, b), b.size()), BitwiseCrc(data))
        << "cut at " << cut;
  }
  // Many pieces folded one after another, as a split does.
  std::uint16_t combined = kCrcInitial;
  for (std::size_t at = 0; at < data.size(); at += 333) {
    const Bytes piece(data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(std::min(at + 333, data.size())));
    combined = CombineCRC(combined, UpdateCRC(kCrcInitial, piece), piece.size());
  }
  EXPECT_EQ(combined, BitwiseCrc(data));
}

TEST(GetFileCRC, MatchesTheBufferAndIsNothingForNoFile) {
  test::TempDir dir;
  const Bytes data = test::RandomBytes(2'500'000, 9);  // spans several read blocks
  test::WriteFile(dir / "data.bin", data);
  test::WriteFile(dir / "one.bin", Bytes{0x41});
  test::WriteFile(dir / "empty.bin", Bytes{});
  std::filesystem::create_directory(dir / "folder");

  EXPECT_EQ(GetFileCRC(dir / "data.bin"), BitwiseCrc(data));
  EXPECT_EQ(GetFileCRC(dir / "one.bin"), GetBytesCRC(Bytes{0x41}));
  EXPECT_EQ(GetFileCRC(dir / "empty.bin"), std::nullopt);
  EXPECT_EQ(GetFileCRC(dir / "missing.bin"), std::nullopt);
  EXPECT_EQ(GetFileCRC(dir / "folder"), std::nullopt);

  // Through a caller's buffer of any size, reused from file to file.
  std::vector<std::uint8_t> small(4093);
  EXPECT_EQ(GetFileCRC(dir / "data.bin", small), BitwiseCrc(data));
  EXPECT_EQ(GetFileCRC(dir / "one.bin", small), GetBytesCRC(Bytes{0x41}));
  EXPECT_EQ(GetFileCRC(dir / "empty.bin", small), std::nullopt);
}

#ifdef _WIN32
TEST(GetFileCRC, IgnoresHiddenFiles) {
  test::TempDir dir;
  test::WriteFile(dir / "hidden.bin", AsBytes("abc"));
  ASSERT_TRUE(test::MakeHidden(dir / "hidden.bin"));
  EXPECT_EQ(GetFileCRC(dir / "hidden.bin"), std::nullopt);
}
#endif

}  // namespace
}  // namespace vokram
