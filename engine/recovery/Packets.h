// The packets of a recovery set (Parity Volume Set 2.0): a 64-byte header
// (magic, length, MD5 of the rest from the set ID on, set ID, type), then a
// body of whole 32-bit words, little-endian throughout. Sizes are given as
// functions so that a plan can count every byte before anything is hashed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recovery/Md5.h"
#include "recovery/RecoveryHash.h"

namespace vokram::recovery {

using PacketType = std::array<std::uint8_t, 16>;
using ByteVector = std::vector<std::uint8_t>;

constexpr PacketType MakeType(const char (&text)[17]) {
  PacketType type{};
  for (std::size_t i = 0; i < 16; ++i) type[i] = static_cast<std::uint8_t>(text[i]);
  return type;
}

inline constexpr PacketType kMainType = MakeType("PAR 2.0\0Main\0\0\0\0");
inline constexpr PacketType kFileDescType = MakeType("PAR 2.0\0FileDesc");
inline constexpr PacketType kIfscType = MakeType("PAR 2.0\0IFSC\0\0\0\0");
inline constexpr PacketType kRecvSlicType = MakeType("PAR 2.0\0RecvSlic");
inline constexpr PacketType kCreatorType = MakeType("PAR 2.0\0Creator\0");
inline constexpr PacketType kUniFileNType = MakeType("PAR 2.0\0UniFileN");
// Vokram's own: the descriptor's bytes, so a lost descriptor can be restored
// from any file of the set. Other readers skip a type they do not know.
inline constexpr PacketType kDescriptorType = MakeType("VOKRAM\0\0Descript");

inline constexpr std::uint64_t kHeaderBytes = 64;

constexpr std::uint64_t Padded(std::uint64_t n) { return (n + 3) / 4 * 4; }
constexpr std::uint64_t MainPacketBytes(std::uint64_t files) { return kHeaderBytes + 12 + 16 * files; }
constexpr std::uint64_t FileDescPacketBytes(std::uint64_t nameBytes) { return kHeaderBytes + 56 + Padded(nameBytes); }
constexpr std::uint64_t UniFileNPacketBytes(std::uint64_t utf16Units) { return kHeaderBytes + 16 + Padded(2 * utf16Units); }
constexpr std::uint64_t IfscPacketBytes(std::uint64_t slices) { return kHeaderBytes + 16 + 20 * slices; }
constexpr std::uint64_t RecvSlicPacketBytes(std::uint64_t sliceSize) { return kHeaderBytes + 4 + sliceSize; }
constexpr std::uint64_t DescriptorPacketBytes(std::uint64_t length) { return kHeaderBytes + 8 + Padded(length); }
std::uint64_t CreatorPacketBytes();

// UTF-16 of a UTF-8 name; nothing for bytes that are not UTF-8 (such a name
// gets no UniFileN packet).
std::optional<std::u16string> Utf16FromUtf8(std::string_view utf8);

// The File ID: MD5 of the first 16 KiB's MD5, the length and the name.
Md5Digest FileId(const FileChecksums& sums, std::string_view name);
// Main's order: File IDs as 128-bit little-endian numbers.
bool IdBefore(const Md5Digest& a, const Md5Digest& b) noexcept;

// A packet's header, given the MD5 of its set ID, type and body.
std::array<std::uint8_t, kHeaderBytes> PacketHeader(const Md5Digest& setId, const PacketType& type,
                                                    std::uint64_t bodyBytes, const Md5Digest& hash);
// The MD5 a packet's header holds, fed with the set ID and type; the caller
// feeds the body (a recovery slice can be fed as it is computed).
Md5 PacketHash(const Md5Digest& setId, const PacketType& type);

struct SetFile {
  std::string name;  // UTF-8
  const FileChecksums* sums;
};

// Every packet but the recovery slices, for files in Main's order.
struct SetPackets {
  Md5Digest setId;
  // Main, then per file FileDesc, UniFileN, IFSC: what each file of the set
  // repeats.
  ByteVector critical;
  ByteVector creator;
  ByteVector descriptor;
};
SetPackets MakeSetPackets(std::uint64_t sliceSize, const std::vector<SetFile>& files, const std::vector<Md5Digest>& ids,
                          std::span<const std::uint8_t> descriptor);

// Reading. Each parser takes a packet's body (what follows the header, whose
// MD5 the caller has checked) and gives nothing for a body that cannot be
// that packet; nothing is allocated beyond what the body holds.

struct PacketHeaderFields {
  std::uint64_t length = 0;  // the whole packet's
  Md5Digest hash{};          // of bytes 32 .. length
  Md5Digest setId{};
  PacketType type{};
};
// The header in the kHeaderBytes at `bytes`: nothing without the magic or
// with a length below the header, not a multiple of 4, or beyond `room` (the
// bytes from the header's start to the end of its file).
std::optional<PacketHeaderFields> ParsePacketHeader(const std::uint8_t* bytes, std::uint64_t room);

struct MainFields {
  std::uint64_t sliceSize = 0;
  std::vector<Md5Digest> files;  // the recovery set's, in slice order
};
std::optional<MainFields> ParseMain(std::span<const std::uint8_t> body);

struct FileDescFields {
  Md5Digest id{};
  Md5Digest md5{};
  Md5Digest md5First16k{};
  std::uint64_t length = 0;
  std::string name;  // as recorded, without its padding
};
std::optional<FileDescFields> ParseFileDesc(std::span<const std::uint8_t> body);

struct IfscFields {
  Md5Digest id{};
  std::vector<SliceChecksum> slices;
};
std::optional<IfscFields> ParseIfsc(std::span<const std::uint8_t> body);

struct UniFileNFields {
  Md5Digest id{};
  std::u16string name;
};
std::optional<UniFileNFields> ParseUniFileN(std::span<const std::uint8_t> body);

// Vokram's descriptor packet: the descriptor's bytes.
std::optional<ByteVector> ParseDescriptorPacket(std::span<const std::uint8_t> body);

}  // namespace vokram::recovery
