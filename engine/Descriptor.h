// The ".vok" descriptor: a 21-byte header ("VOK", 0, three version
// characters, int16 piece count, 11 reserved bytes, source name length), the
// source record (name, int32 size, CRC low byte first) and one piece record
// per piece (name length, 0, name, int32 size, CRC). Little-endian; names are
// code page 932 bytes without terminator. This file is the format's only
// definition: Split writes it, Join and the piece check read it.
//
// A source of 2 GiB or more: the size field holds the low 32 bits of its
// size, and header bytes 9-12 (reserved, read by no reader of the original
// format) the high 32 bits; the other reserved bytes stay 0. A source below
// 2 GiB gives the same bytes as ever, and a reader that ignores the reserved
// bytes still joins and checks a larger one, which it reads only to move past
// the size.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "File.h"

namespace vokram {

inline constexpr std::size_t kHeaderSize = 21;
inline constexpr std::size_t kMaxNameBytes = 255;
// The split's 16-bit piece counter starts at 2, so 32,765 pieces is its limit.
inline constexpr int kMaxPieces = 32765;

struct PieceRecord {
  std::string nameBytes;  // code page 932
  std::int32_t size = 0;
  std::uint16_t crc = 0;
};

std::array<std::uint8_t, kHeaderSize> EncodeHeader(int pieceCount, std::size_t sourceNameBytes,
                                                   std::uint64_t sourceSize);
std::vector<std::uint8_t> EncodeSourceRecord(const std::string& nameBytes, std::uint64_t size, std::uint16_t crc);
std::vector<std::uint8_t> EncodePieceRecord(const PieceRecord& piece);

// Writes in the order that keeps an interrupted split recognisable: a zero
// header first, the real header (and the source CRC) only in Finish().
class DescriptorWriter {
 public:
  DescriptorWriter(File file, std::string sourceNameBytes, std::uint64_t sourceSize);
  void AddPiece(const PieceRecord& piece);
  void Finish(std::uint16_t sourceCrc);

 private:
  BufferedWriter out_;
  std::string sourceNameBytes_;
  std::uint64_t sourceSize_;
  int pieceCount_ = 0;
};

struct DescriptorPiece {
  std::filesystem::path name;  // decoded, checked to be a plain file name
  std::int32_t size = 0;
  std::uint16_t crc = 0;
};

struct Descriptor {
  std::array<char, 3> version{};
  std::filesystem::path sourceName;
  std::uint64_t sourceSize = 0;  // the size field and, above 4 GiB, header bytes 9-12
  std::uint16_t sourceCrc = 0;
  std::vector<DescriptorPiece> pieces;
};

// Reads and checks a whole descriptor, never past its end. Throws
// VokError(NotVok) for a wrong magic (also a file too short for it) and
// VokError(BrokenVok) for a truncated or inconsistent file, a piece count of
// 0 or below (no split writes one: it would join to an empty file), an empty
// source name, or a name that is not a plain file name.
Descriptor ReadDescriptor(const std::filesystem::path& path);
// The same over bytes in memory (a descriptor a recovery set carries), which
// must end with the last record; `name` is the file errors name.
Descriptor ParseDescriptor(std::span<const std::uint8_t> bytes, const std::filesystem::path& name);

}  // namespace vokram
