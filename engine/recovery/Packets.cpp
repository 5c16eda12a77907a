#include "Packets.h"

#include <cstring>

#include "Version.h"

namespace vokram::recovery {

namespace {

#define VOKRAM_TEXT2(x) #x
#define VOKRAM_TEXT(x) VOKRAM_TEXT2(x)
// Not "QuickPar 0." nor "Created by phpar2": a reader takes those for
// writers of names in the ANSI code page.
constexpr std::string_view kCreator = "Created by Vokram " VOKRAM_TEXT(VOKRAM_VERSION_MAJOR) "." VOKRAM_TEXT(
    VOKRAM_VERSION_MINOR) "." VOKRAM_TEXT(VOKRAM_VERSION_REVISION);
#undef VOKRAM_TEXT
#undef VOKRAM_TEXT2

void Put64(ByteVector& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put32(ByteVector& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put(ByteVector& out, std::span<const std::uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }
void PutPadded(ByteVector& out, std::span<const std::uint8_t> bytes) {
  Put(out, bytes);
  out.resize(out.size() + static_cast<std::size_t>(Padded(bytes.size()) - bytes.size()), 0);
}
std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void AppendPacket(ByteVector& out, const Md5Digest& setId, const PacketType& type, const ByteVector& body) {
  Md5 hash = PacketHash(setId, type);
  hash.Update(body);
  const auto header = PacketHeader(setId, type, body.size(), hash.Digest());
  Put(out, header);
  Put(out, body);
}

}  // namespace

std::uint64_t CreatorPacketBytes() { return kHeaderBytes + Padded(kCreator.size()); }

std::optional<std::u16string> Utf16FromUtf8(std::string_view utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    const std::size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2
                                           : (lead & 0xF8) == 0xF0    ? 3 : 4;
    if (extra == 4 || i + extra >= utf8.size()) return std::nullopt;
    char32_t c = extra == 0 ? lead : lead & (0x3Fu >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<std::uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      c = (c << 6) | (next & 0x3Fu);
    }
    static constexpr char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return std::nullopt;
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += extra + 1;
  }
  return out;
}

Md5Digest FileId(const FileChecksums& sums, std::string_view name) {
  ByteVector input;
  Put(input, sums.md5First16k);
  Put64(input, sums.length);
  Put(input, BytesOf(name));
  return Md5Of(input);
}

bool IdBefore(const Md5Digest& a, const Md5Digest& b) noexcept {
  for (std::size_t i = 16; i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return false;
}

std::array<std::uint8_t, kHeaderBytes> PacketHeader(const Md5Digest& setId, const PacketType& type,
                                                    std::uint64_t bodyBytes, const Md5Digest& hash) {
  std::array<std::uint8_t, kHeaderBytes> header{'P', 'A', 'R', '2', 0, 'P', 'K', 'T'};
  const std::uint64_t length = kHeaderBytes + bodyBytes;
  for (std::size_t i = 0; i < 8; ++i) header[8 + i] = static_cast<std::uint8_t>(length >> (8 * i));
  std::memcpy(header.data() + 16, hash.data(), 16);
  std::memcpy(header.data() + 32, setId.data(), 16);
  std::memcpy(header.data() + 48, type.data(), 16);
  return header;
}

Md5 PacketHash(const Md5Digest& setId, const PacketType& type) {
  Md5 hash;
  hash.Update(setId);
  hash.Update(type);
  return hash;
}

SetPackets MakeSetPackets(std::uint64_t sliceSize, const std::vector<SetFile>& files, const std::vector<Md5Digest>& ids,
                          std::span<const std::uint8_t> descriptor) {
  SetPackets packets;
  ByteVector body;
  Put64(body, sliceSize);
  Put32(body, static_cast<std::uint32_t>(files.size()));
  for (const auto& id : ids) Put(body, id);
  packets.setId = Md5Of(body);
  const Md5Digest& setId = packets.setId;
  AppendPacket(packets.critical, setId, kMainType, body);

  for (std::size_t f = 0; f < files.size(); ++f) {
    const FileChecksums& sums = *files[f].sums;
    body.clear();
    Put(body, ids[f]);
    Put(body, sums.md5);
    Put(body, sums.md5First16k);
    Put64(body, sums.length);
    PutPadded(body, BytesOf(files[f].name));
    AppendPacket(packets.critical, setId, kFileDescType, body);

    if (const auto wide = Utf16FromUtf8(files[f].name)) {
      body.clear();
      Put(body, ids[f]);
      for (char16_t unit : *wide) {
        body.push_back(static_cast<std::uint8_t>(unit));
        body.push_back(static_cast<std::uint8_t>(unit >> 8));
      }
      body.resize(static_cast<std::size_t>(Padded(body.size())), 0);
      AppendPacket(packets.critical, setId, kUniFileNType, body);
    }

    body.clear();
    Put(body, ids[f]);
    for (const SliceChecksum& slice : sums.slices) {
      Put(body, slice.md5);
      Put32(body, slice.crc32);
    }
    AppendPacket(packets.critical, setId, kIfscType, body);
  }

  body.clear();
  PutPadded(body, BytesOf(kCreator));
  AppendPacket(packets.creator, setId, kCreatorType, body);

  body.clear();
  Put64(body, descriptor.size());
  PutPadded(body, descriptor);
  AppendPacket(packets.descriptor, setId, kDescriptorType, body);
  return packets;
}

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'P', 'A', 'R', '2', 0, 'P', 'K', 'T'};

std::uint64_t Get64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
Md5Digest Get16(const std::uint8_t* p) {
  Md5Digest d;
  std::memcpy(d.data(), p, d.size());
  return d;
}

// Strings are padded with NULs to whole words; a writer may pad more.
std::size_t Unpadded(std::span<const std::uint8_t> text) {
  std::size_t n = text.size();
  while (n > 0 && text[n - 1] == 0) --n;
  return n;
}

}  // namespace

std::optional<PacketHeaderFields> ParsePacketHeader(const std::uint8_t* bytes, std::uint64_t room) {
  if (room < kHeaderBytes || std::memcmp(bytes, kMagic.data(), kMagic.size()) != 0) return std::nullopt;
  PacketHeaderFields header;
  header.length = Get64(bytes + 8);
  if (header.length < kHeaderBytes || header.length % 4 != 0 || header.length > room) return std::nullopt;
  header.hash = Get16(bytes + 16);
  header.setId = Get16(bytes + 32);
  std::memcpy(header.type.data(), bytes + 48, header.type.size());
  return header;
}

std::optional<MainFields> ParseMain(std::span<const std::uint8_t> body) {
  if (body.size() < 12 || (body.size() - 12) % 16 != 0) return std::nullopt;
  MainFields main;
  main.sliceSize = Get64(body.data());
  const std::uint32_t count = Get32(body.data() + 8);
  // File IDs outside the recovery set may follow; the count cannot claim
  // more than the body holds.
  if (main.sliceSize == 0 || main.sliceSize % 4 != 0 || count > (body.size() - 12) / 16) return std::nullopt;
  main.files.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) main.files.push_back(Get16(body.data() + 12 + 16 * std::size_t{i}));
  return main;
}

std::optional<FileDescFields> ParseFileDesc(std::span<const std::uint8_t> body) {
  if (body.size() < 56) return std::nullopt;
  FileDescFields desc;
  desc.id = Get16(body.data());
  desc.md5 = Get16(body.data() + 16);
  desc.md5First16k = Get16(body.data() + 32);
  desc.length = Get64(body.data() + 48);
  const auto name = body.subspan(56);
  desc.name.assign(reinterpret_cast<const char*>(name.data()), Unpadded(name));
  if (desc.name.empty()) return std::nullopt;
  return desc;
}

std::optional<IfscFields> ParseIfsc(std::span<const std::uint8_t> body) {
  if (body.size() < 16 || (body.size() - 16) % 20 != 0) return std::nullopt;
  IfscFields ifsc;
  ifsc.id = Get16(body.data());
  ifsc.slices.resize((body.size() - 16) / 20);
  for (std::size_t i = 0; i < ifsc.slices.size(); ++i) {
    ifsc.slices[i].md5 = Get16(body.data() + 16 + 20 * i);
    ifsc.slices[i].crc32 = Get32(body.data() + 32 + 20 * i);
  }
  return ifsc;
}

std::optional<UniFileNFields> ParseUniFileN(std::span<const std::uint8_t> body) {
  if (body.size() < 16) return std::nullopt;
  UniFileNFields uni;
  uni.id = Get16(body.data());
  for (std::size_t i = 16; i + 1 < body.size(); i += 2) {
    uni.name.push_back(static_cast<char16_t>(body[i] | body[i + 1] << 8));
  }
  while (!uni.name.empty() && uni.name.back() == 0) uni.name.pop_back();
  if (uni.name.empty()) return std::nullopt;
  return uni;
}

std::optional<ByteVector> ParseDescriptorPacket(std::span<const std::uint8_t> body) {
  if (body.size() < 8) return std::nullopt;
  const std::uint64_t length = Get64(body.data());
  if (length > body.size() - 8 || Padded(length) != body.size() - 8) return std::nullopt;
  return ByteVector(body.begin() + 8, body.begin() + 8 + static_cast<std::ptrdiff_t>(length));
}

}  // namespace vokram::recovery
