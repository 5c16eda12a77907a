#include <gtest/gtest.h>

#include "CodePage932.h"
#include "Descriptor.h"
#include "Error.h"
#include "TestSupport.h"

namespace vokram {
namespace {

using test::Bytes;

// The 64-byte example: movie.avi of 1,500,000 bytes (CRC A1B2) in two pieces.
const Bytes kExample = {
    0x56, 0x4F, 0x4B, 0x00, 0x30, 0x31, 0x30, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x6D, 0x6F, 0x76, 0x69, 0x65, 0x2E, 0x61, 0x76, 0x69,
    0x60, 0xE3, 0x16, 0x00, 0xB2, 0xA1, 0x06, 0x00, 0x6D, 0x76, 0x2E, 0x30, 0x30, 0x30, 0x01,
    0x00, 0x10, 0x00, 0x34, 0x12, 0x06, 0x00, 0x6D, 0x76, 0x2E, 0x30, 0x30, 0x31, 0x5F, 0xE3,
    0x06, 0x00, 0xEF, 0xBE};

ErrorCode ReadFails(const std::filesystem::path& path) {
  try {
    ReadDescriptor(path);
  } catch (const VokError& e) {
    return e.Code();
  }
  ADD_FAILURE() << "read succeeded";
  return ErrorCode::IoFailed;
}

TEST(DescriptorWriter, WritesTheWorkedExampleByteForByte) {
  test::TempDir dir;
  DescriptorWriter writer(*File::CreateNew(dir / "movie.vok"), "movie.avi", 1'500'000);
  writer.AddPiece({"mv.000", 1'048'577, 0x1234});
  writer.AddPiece({"mv.001", 451'423, 0xBEEF});
  writer.Finish(0xA1B2);
  EXPECT_EQ(test::ReadFile(dir / "movie.vok"), kExample);
}

// A source of 2 GiB or more: the low 32 bits in the size field, the high ones
// in header bytes 9-12, where no reader of the original format looks; the
// other reserved bytes stay 0, and below 4 GiB all of them do.
TEST(DescriptorWriter, SourceSizesBeyond31BitsRoundTrip) {
  test::TempDir dir;
  const std::uint64_t sizes[] = {0x7FFFFFFFull, 0x80000000ull, 0xFFFFFFFFull, 0x100000000ull, 0x100000001ull,
                                 0x3FFE7E008BFDull};  // 32,765 pieces of the largest size: about 64 TiB
  for (const std::uint64_t size : sizes) {
    SCOPED_TRACE(size);
    std::filesystem::remove(dir / "big.vok");
    DescriptorWriter writer(*File::CreateNew(dir / "big.vok"), "big.bin", size);
    writer.AddPiece({"big.000", 1, 0});
    writer.Finish(0x1234);
    const Bytes bytes = test::ReadFile(dir / "big.vok");
    auto le32 = [&](std::size_t at) {
      return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
             std::uint32_t{bytes[at + 3]} << 24;
    };
    EXPECT_EQ(le32(kHeaderSize + 7), static_cast<std::uint32_t>(size));  // after "big.bin"
    EXPECT_EQ(le32(9), static_cast<std::uint32_t>(size >> 32));
    for (std::size_t i = 13; i < 20; ++i) EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(ReadDescriptor(dir / "big.vok").sourceSize, size);
  }
}

TEST(DescriptorWriter, HasNoMagicUntilFinished) {
  test::TempDir dir;
  {
    DescriptorWriter writer(*File::CreateNew(dir / "cut.vok"), "cut.bin", 10);
    writer.AddPiece({"cut.000", 10, 0x0102});
  }  // abandoned, as by a failing split
  // Whatever reached the disk, it does not start with the magic.
  const Bytes bytes = test::ReadFile(dir / "cut.vok");
  for (std::size_t i = 0; i < std::min<std::size_t>(bytes.size(), kHeaderSize); ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(ReadFails(dir / "cut.vok"), ErrorCode::NotVok);
}

TEST(EncodePieceRecord, StoresCrcLowByteFirstAndCountsNameBytes) {
  EXPECT_EQ(EncodePieceRecord({"a", 1, 0x00FF}), (Bytes{1, 0, 'a', 1, 0, 0, 0, 0xFF, 0x00}));
  EXPECT_EQ(EncodePieceRecord({"a", 1, 0xFF00}), (Bytes{1, 0, 'a', 1, 0, 0, 0, 0x00, 0xFF}));
  const std::string name(255, 'x');
  const Bytes record = EncodePieceRecord({name, 0x7FFFFFFF, 0xFFFF});
  EXPECT_EQ(record.size(), 255u + 8);
  EXPECT_EQ(record[0], 255);
  EXPECT_EQ(Bytes(record.end() - 6, record.end()), (Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF}));
}

TEST(ReadDescriptor, ReadsTheWorkedExample) {
  test::TempDir dir;
  test::WriteFile(dir / "movie.vok", kExample);
  const Descriptor d = ReadDescriptor(dir / "movie.vok");
  EXPECT_EQ(d.sourceName, test::U8("movie.avi"));
  EXPECT_EQ(d.sourceSize, 1'500'000);
  EXPECT_EQ(d.sourceCrc, 0xA1B2);
  ASSERT_EQ(d.pieces.size(), 2u);
  EXPECT_EQ(d.pieces[0].name, test::U8("mv.000"));
  EXPECT_EQ(d.pieces[0].size, 1'048'577);
  EXPECT_EQ(d.pieces[0].crc, 0x1234);
  EXPECT_EQ(d.pieces[1].name, test::U8("mv.001"));
  EXPECT_EQ(d.pieces[1].crc, 0xBEEF);
}

TEST(ReadDescriptor, RoundTripsJapaneseNamesAsCodePage932Bytes) {
  test::TempDir dir;
  const std::string source = *EncodeCp932(test::U8("表ソ能.txt"));  // trail bytes 0x5C
  EXPECT_EQ(source.size(), 10u);
  {
    DescriptorWriter writer(*File::CreateNew(dir / "j.vok"), source, 3);
    writer.AddPiece({*EncodeCp932(test::U8("表ソ能.000")), 3, 0x8000});
    writer.Finish(0x1234);
  }
  const Bytes bytes = test::ReadFile(dir / "j.vok");
  EXPECT_EQ(bytes[20], 10);
  const Descriptor d = ReadDescriptor(dir / "j.vok");
  EXPECT_EQ(d.sourceName, test::U8("表ソ能.txt"));
  EXPECT_EQ(d.pieces.at(0).name, test::U8("表ソ能.000"));
  EXPECT_EQ(d.pieces.at(0).crc, 0x8000);
}

// Every damaged form fails cleanly; none is read past its end.
TEST(ReadDescriptor, RefusesForeignTruncatedAndUnsafeFiles) {
  test::TempDir dir;
  struct Case {
    const char* what;
    Bytes bytes;
    ErrorCode expected;
  };
  auto with = [](std::size_t at, std::uint8_t value) {
    Bytes b = kExample;
    b[at] = value;
    return b;
  };
  auto cut = [](std::size_t n) { return Bytes(kExample.begin(), kExample.begin() + static_cast<std::ptrdiff_t>(n)); };
  auto pieceName = [&](std::string name) {  // the first piece renamed, lengths kept consistent
    Bytes b(kExample.begin(), kExample.begin() + 36);
    b[7] = 1;
    b.push_back(static_cast<std::uint8_t>(name.size()));
    b.push_back(0);
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), {1, 0, 0, 0, 0, 0});
    return b;
  };
  const std::vector<Case> cases = {
      {"empty file", {}, ErrorCode::NotVok},
      {"two bytes", cut(2), ErrorCode::NotVok},
      {"lower-case magic", with(0, 'v'), ErrorCode::NotVok},
      {"zero magic", with(1, 0), ErrorCode::NotVok},
      {"magic only", cut(3), ErrorCode::BrokenVok},
      {"header only", cut(21), ErrorCode::BrokenVok},
      {"inside the source name", cut(25), ErrorCode::BrokenVok},
      {"inside a piece record", cut(60), ErrorCode::BrokenVok},
      {"one byte short", cut(63), ErrorCode::BrokenVok},
      {"more pieces than records", with(7, 3), ErrorCode::BrokenVok},
      {"empty source name", with(20, 0), ErrorCode::BrokenVok},
      {"name length past the end", with(36, 200), ErrorCode::BrokenVok},
      {"piece name with a folder", pieceName("..\\x.000"), ErrorCode::BrokenVok},
      {"piece name with a slash", pieceName("../x.000"), ErrorCode::BrokenVok},
      {"piece name ..", pieceName(".."), ErrorCode::BrokenVok},
      {"empty piece name", pieceName(""), ErrorCode::BrokenVok},
      {"drive in piece name", pieceName("C:x"), ErrorCode::BrokenVok},
      {"control character", pieceName("a\x01"), ErrorCode::BrokenVok},
      {"cut-off lead byte", pieceName("a\x93"), ErrorCode::BrokenVok},
      {"the journal's name", pieceName("~VOK.Journal"), ErrorCode::BrokenVok},
      {"the journal draft's name", pieceName("~vok.journal.new"), ErrorCode::BrokenVok},
  };
  for (const Case& c : cases) {
    test::WriteFile(dir / "case.vok", c.bytes);
    EXPECT_EQ(ReadFails(dir / "case.vok"), c.expected) << c.what;
  }
}

TEST(ReadDescriptor, TakesANegativeOrZeroCountAsBroken) {
  // No split writes such a file; joined, it would make an empty file of the
  // recorded name.
  test::TempDir dir;
  Bytes bytes(kExample.begin(), kExample.begin() + 36);
  for (const unsigned count : {0xFFFFu, 0x8000u, 0x0000u}) {
    bytes[7] = static_cast<std::uint8_t>(count);
    bytes[8] = static_cast<std::uint8_t>(count >> 8);
    test::WriteFile(dir / "count.vok", bytes);
    EXPECT_EQ(ReadFails(dir / "count.vok"), ErrorCode::BrokenVok) << count;
  }
}

}  // namespace
}  // namespace vokram
