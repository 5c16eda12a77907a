#include "Descriptor.h"

#include <algorithm>
#include <cstring>

#include "CodePage932.h"
#include "Error.h"
#include "Journal.h"
#include "Text.h"
#include "Version.h"

namespace vokram {

namespace {

constexpr char kMagic[3] = {'V', 'O', 'K'};
// The high 32 bits of a source size of 4 GiB or more, in reserved bytes.
constexpr std::size_t kSizeHighOffset = 9;

void PutLe16(std::uint8_t* out, std::uint16_t v) {
  out[0] = static_cast<std::uint8_t>(v & 0xFF);
  out[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLe32(std::uint8_t* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The first character of the decimal text of each version number.
char FirstDigit(int number) { return std::to_string(number)[0]; }

// Reads a descriptor front to back through a small buffer; every shortfall is
// a broken descriptor, so nothing is ever read past its end.
class Reader {
 public:
  explicit Reader(const std::filesystem::path& path) : file_(File::OpenRead(path)), path_(path) {}
  // A descriptor's bytes already in memory; `name` stands for it in errors.
  Reader(std::span<const std::uint8_t> bytes, std::filesystem::path name) : path_(std::move(name)), data_(bytes) {}

  // As many of n bytes as the file still holds.
  std::size_t Some(void* out, std::size_t n) {
    auto* dst = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < n) {
      if (pos_ == data_.size()) {
        if (!file_) break;
        data_ = std::span<const std::uint8_t>(buffer_, file_->Read(buffer_, sizeof buffer_));
        pos_ = 0;
        if (data_.empty()) break;
      }
      const std::size_t take = std::min(n - done, data_.size() - pos_);
      std::memcpy(dst + done, data_.data() + pos_, take);
      pos_ += take;
      done += take;
    }
    return done;
  }
  void Bytes(void* out, std::size_t n) {
    if (Some(out, n) != n) throw VokError(ErrorCode::BrokenVok, path_);
  }
  std::uint8_t U8() {
    std::uint8_t v;
    Bytes(&v, 1);
    return v;
  }
  std::uint16_t Le16() {
    std::uint8_t b[2];
    Bytes(b, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
  }
  std::int32_t Le32() {
    std::uint8_t b[4];
    Bytes(b, 4);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                                     (static_cast<std::uint32_t>(b[2]) << 16) |
                                     (static_cast<std::uint32_t>(b[3]) << 24));
  }
  std::filesystem::path Name(std::size_t length) {
    std::string bytes(length, '\0');
    Bytes(bytes.data(), length);
    auto name = DecodeCp932(bytes);
    // A name that is not a plain file name could lead a join out of its
    // folders; one of the journal's names would stand where a run keeps it.
    if (!name || !IsPlainFileName(name->native()) || IsJournalName(name->native())) {
      throw VokError(ErrorCode::BrokenVok, path_);
    }
    return *name;
  }
  void Close() {
    if (file_) file_->Close();
  }

 private:
  std::optional<File> file_;
  std::filesystem::path path_;
  std::uint8_t buffer_[16 * 1024];
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

}  // namespace

std::array<std::uint8_t, kHeaderSize> EncodeHeader(int pieceCount, std::size_t sourceNameBytes,
                                                   std::uint64_t sourceSize) {
  std::array<std::uint8_t, kHeaderSize> header{};
  std::memcpy(header.data(), kMagic, 3);
  header[4] = static_cast<std::uint8_t>(FirstDigit(VOKRAM_VERSION_MAJOR));
  header[5] = static_cast<std::uint8_t>(FirstDigit(VOKRAM_VERSION_MINOR));
  header[6] = static_cast<std::uint8_t>(FirstDigit(VOKRAM_VERSION_REVISION));
  PutLe16(&header[7], static_cast<std::uint16_t>(pieceCount));
  PutLe32(&header[kSizeHighOffset], static_cast<std::uint32_t>(sourceSize >> 32));
  header[20] = static_cast<std::uint8_t>(sourceNameBytes);
  return header;
}

std::vector<std::uint8_t> EncodeSourceRecord(const std::string& nameBytes, std::uint64_t size, std::uint16_t crc) {
  std::vector<std::uint8_t> record(nameBytes.begin(), nameBytes.end());
  record.resize(nameBytes.size() + 6);
  PutLe32(&record[nameBytes.size()], static_cast<std::uint32_t>(size & 0xFFFFFFFFu));
  PutLe16(&record[nameBytes.size() + 4], crc);
  return record;
}

std::vector<std::uint8_t> EncodePieceRecord(const PieceRecord& piece) {
  const std::size_t m = piece.nameBytes.size();
  std::vector<std::uint8_t> record(m + 8);
  record[0] = static_cast<std::uint8_t>(m);
  record[1] = 0;
  std::memcpy(&record[2], piece.nameBytes.data(), m);
  PutLe32(&record[m + 2], static_cast<std::uint32_t>(piece.size));
  PutLe16(&record[m + 6], piece.crc);
  return record;
}

DescriptorWriter::DescriptorWriter(File file, std::string sourceNameBytes, std::uint64_t sourceSize)
    : out_(std::move(file)), sourceNameBytes_(std::move(sourceNameBytes)), sourceSize_(sourceSize) {
  // Zero header and a zero source CRC until Finish(): an interrupted split
  // leaves a file that no reader takes for a finished one.
  const std::array<std::uint8_t, kHeaderSize> placeholder{};
  out_.Write(placeholder.data(), placeholder.size());
  const auto source = EncodeSourceRecord(sourceNameBytes_, sourceSize_, 0);
  out_.Write(source.data(), source.size());
}

void DescriptorWriter::AddPiece(const PieceRecord& piece) {
  const auto record = EncodePieceRecord(piece);
  out_.Write(record.data(), record.size());
  ++pieceCount_;
}

void DescriptorWriter::Finish(std::uint16_t sourceCrc) {
  out_.Flush();
  const auto header = EncodeHeader(pieceCount_, sourceNameBytes_.size(), sourceSize_);
  const auto source = EncodeSourceRecord(sourceNameBytes_, sourceSize_, sourceCrc);
  std::vector<std::uint8_t> front(header.begin(), header.end());
  front.insert(front.end(), source.begin(), source.end());
  File& file = out_.Raw();
  file.Seek(0);
  file.Write(front.data(), front.size());
  file.Close();
}

namespace {

Descriptor Read(Reader& in, const std::filesystem::path& path) {
  std::array<std::uint8_t, kHeaderSize> header{};
  const std::size_t got = in.Some(header.data(), kHeaderSize);
  // A file too short to hold the magic is no descriptor at all; one that
  // holds the magic but not the whole header is a broken one.
  if (got < 3 || std::memcmp(header.data(), kMagic, 3) != 0) throw VokError(ErrorCode::NotVok, path);
  if (got < kHeaderSize) throw VokError(ErrorCode::BrokenVok, path);

  Descriptor d;
  std::memcpy(d.version.data(), &header[4], 3);
  const auto count = static_cast<std::int16_t>(header[7] | (header[8] << 8));
  const std::size_t sourceNameLength = header[20];
  if (sourceNameLength == 0 || count <= 0) throw VokError(ErrorCode::BrokenVok, path);
  d.sourceName = in.Name(sourceNameLength);
  const std::uint64_t high = static_cast<std::uint64_t>(header[kSizeHighOffset]) |
                             (static_cast<std::uint64_t>(header[kSizeHighOffset + 1]) << 8) |
                             (static_cast<std::uint64_t>(header[kSizeHighOffset + 2]) << 16) |
                             (static_cast<std::uint64_t>(header[kSizeHighOffset + 3]) << 24);
  d.sourceSize = (high << 32) | static_cast<std::uint32_t>(in.Le32());
  d.sourceCrc = in.Le16();
  const int pieces = count;
  d.pieces.reserve(static_cast<std::size_t>(pieces));
  for (int i = 0; i < pieces; ++i) {
    DescriptorPiece piece;
    const std::size_t length = in.U8();
    in.U8();  // the second byte of the length field is not used
    piece.name = in.Name(length);
    piece.size = in.Le32();
    piece.crc = in.Le16();
    d.pieces.push_back(std::move(piece));
  }
  in.Close();
  return d;
}

}  // namespace

Descriptor ReadDescriptor(const std::filesystem::path& path) {
  Reader in(path);
  return Read(in, path);
}

Descriptor ParseDescriptor(std::span<const std::uint8_t> bytes, const std::filesystem::path& name) {
  Reader in(bytes, name);
  Descriptor d = Read(in, name);
  // Bytes past the last record make no descriptor this program wrote.
  std::uint8_t extra = 0;
  if (in.Some(&extra, 1) != 0) throw VokError(ErrorCode::BrokenVok, name);
  return d;
}

}  // namespace vokram
