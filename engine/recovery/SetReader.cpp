#include "SetReader.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "CodePage932.h"
#include "Error.h"
#include "File.h"
#include "Text.h"
#include "recovery/Gf16.h"

namespace vokram::recovery {

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'P', 'A', 'R', '2', 0, 'P', 'K', 'T'};
// A packet other than a recovery slice is kept in memory only up to this size:
// the largest a set of the most slices and pieces needs (a descriptor of
// 32,765 records) fits well within it.
constexpr std::uint64_t kLargestKeptPacket = std::uint64_t{16} << 20;
// The fuzz build believes every packet's MD5 (and set ID), so the fuzzer
// reaches the parsers and everything after them with bodies of its own.
#ifdef VOKRAM_FUZZ_BELIEVE_HASHES
constexpr bool kBelieveHashes = true;
#else
constexpr bool kBelieveHashes = false;
#endif
// Exponents repeat modulo the field's order; beyond it a slice adds nothing.
constexpr std::uint32_t kExponents = 65535;

// A window over one file, read through File in copy-buffer sized steps.
class Window {
 public:
  explicit Window(File file) : file_(std::move(file)), size_(file_.Size()), buffer_(MakeCopyBuffer()) {}

  std::uint64_t Size() const noexcept { return size_; }

  // Bytes [at, at + n) with n <= kCopyBufferSize and at + n <= Size().
  const std::uint8_t* Bytes(std::uint64_t at, std::size_t n) {
    if (at < start_ || at + n > start_ + held_) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBufferSize, size_ - at));
      if (position_ != at) file_.Seek(at);
      held_ = 0;
      start_ = at;
      if (!file_.ReadExact(buffer_.get(), want))
        throw VokError(ErrorCode::IoFailed, file_.Path(), Cause::SourceEndedEarly);
      held_ = want;
      position_ = at + want;
    }
    return buffer_.get() + (at - start_);
  }

  // The first place at or after `from` where the magic stands, if any.
  std::optional<std::uint64_t> FindMagic(std::uint64_t from) {
    while (from + kHeaderBytes <= size_) {
      // What the window already holds is searched first: a volume of many
      // small packets is then read once, not once per packet.
      std::size_t n = from >= start_ && from < start_ + held_ ? static_cast<std::size_t>(start_ + held_ - from) : 0;
      if (n < kMagic.size()) n = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBufferSize, size_ - from));
      const std::uint8_t* bytes = Bytes(from, n);
      const std::uint8_t* end = bytes + n;
      const std::uint8_t* hit = std::search(bytes, end, kMagic.begin(), kMagic.end());
      if (hit != end) return from + static_cast<std::uint64_t>(hit - bytes);
      // A magic cut by the window's end is found by the next look.
      if (from + n == size_) return std::nullopt;
      from += n - (kMagic.size() - 1);
    }
    return std::nullopt;
  }

  const std::filesystem::path& Path() const noexcept { return file_.Path(); }

 private:
  File file_;
  std::uint64_t size_;
  CopyBuffer buffer_;
  std::uint64_t start_ = 0;
  std::size_t held_ = 0;
  std::uint64_t position_ = 0;
};

// What one set ID collected so far; the first sound copy of each packet wins.
struct Collected {
  std::optional<MainFields> main;
  std::map<Md5Digest, FileDescFields> descs;
  std::map<Md5Digest, std::vector<SliceChecksum>> ifsc;
  std::map<Md5Digest, std::u16string> wide;
  std::optional<ByteVector> descriptor;
  std::map<std::uint32_t, RecoverySliceAt> recovery;
  std::map<std::uint32_t, std::uint64_t> recoveryBytes;
  std::vector<std::filesystem::path> volumes;
};

bool KeptType(const PacketType& type) {
  return type == kMainType || type == kFileDescType || type == kIfscType || type == kUniFileNType ||
         type == kDescriptorType;
}

class Reader {
 public:
  Reader(const Progress& progress, std::uint64_t total) : progress_(progress), total_(total) {}

  void Read(const std::filesystem::path& path) {
    Window window(File::OpenRead(path));
    for (std::uint64_t at = 0; const auto found = window.FindMagic(at);) {
      at = *found;
      if (at + kHeaderBytes > window.Size()) break;
      progress_.Step(done_ + at, total_);
      const auto header = ParsePacketHeader(window.Bytes(at, kHeaderBytes), window.Size() - at);
      // A packet that is not what it says may hide the start of the next:
      // look again from the next byte.
      if (!header || !Take(window, at, *header)) {
        ++at;
      } else {
        at += header->length;
      }
    }
    done_ += window.Size();
  }

  std::map<Md5Digest, Collected>& Sets() { return sets_; }

 private:
  // Whether the packet at `at` is sound; a sound one is taken in.
  bool Take(Window& window, std::uint64_t at, const PacketHeaderFields& header) {
    const std::uint64_t bodyBytes = header.length - kHeaderBytes;
    const bool kept = KeptType(header.type) && bodyBytes <= kLargestKeptPacket;
    ByteVector body;
    Md5 hash = PacketHash(header.setId, header.type);
    std::uint32_t exponent = 0;
    if (header.type == kRecvSlicType && bodyBytes >= 4) {
      const std::uint8_t* number = window.Bytes(at + kHeaderBytes, 4);
      exponent = std::uint32_t{number[0]} | std::uint32_t{number[1]} << 8 | std::uint32_t{number[2]} << 16 |
                 std::uint32_t{number[3]} << 24;
    }
    if (kept) body.reserve(static_cast<std::size_t>(bodyBytes));
    for (std::uint64_t done = 0; done < bodyBytes;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBufferSize, bodyBytes - done));
      const std::uint8_t* bytes = window.Bytes(at + kHeaderBytes + done, n);
      hash.Update(bytes, n);
      if (kept) body.insert(body.end(), bytes, bytes + n);
      done += n;
      progress_.Step(done_ + at + done, total_);
    }
    if (!kBelieveHashes && hash.Digest() != header.hash) return false;
    // A set is made only for packets it keeps, so a file of tiny unknown
    // packets under many set IDs costs no memory.
    if (!kept && header.type != kRecvSlicType) return true;

    Collected& set = sets_[header.setId];
    const std::span<const std::uint8_t> view(body);
    if (header.type == kRecvSlicType) {
      if (bodyBytes > 4 && exponent < kExponents && !set.recovery.count(exponent) && set.recovery.size() < kMaxSlices) {
        if (set.volumes.empty() || set.volumes.back() != window.Path()) set.volumes.push_back(window.Path());
        set.recovery[exponent] = {exponent, static_cast<std::uint32_t>(set.volumes.size() - 1), at + kHeaderBytes + 4};
        set.recoveryBytes[exponent] = bodyBytes - 4;
      }
      return true;
    }
    if (header.type == kMainType) {
      // The set ID is the MD5 of Main's body: a Main of another body is no
      // Main of this set.
      if (!set.main && (kBelieveHashes || Md5Of(view) == header.setId)) set.main = ParseMain(view);
    } else if (header.type == kFileDescType) {
      if (auto desc = ParseFileDesc(view)) set.descs.try_emplace(desc->id, std::move(*desc));
    } else if (header.type == kIfscType) {
      if (auto ifsc = ParseIfsc(view)) set.ifsc.try_emplace(ifsc->id, std::move(ifsc->slices));
    } else if (header.type == kUniFileNType) {
      if (auto uni = ParseUniFileN(view)) set.wide.try_emplace(uni->id, std::move(uni->name));
    } else if (header.type == kDescriptorType && !set.descriptor) {
      set.descriptor = ParseDescriptorPacket(view);
    }
    return true;
  }

  const Progress& progress_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::map<Md5Digest, Collected> sets_;
};

std::uint64_t SliceCount(std::uint64_t length, std::uint64_t sliceSize) {
  return length / sliceSize + (length % sliceSize != 0 ? 1 : 0);
}

// A set from what its ID collected, when every critical packet is there and
// they agree with one another.
std::optional<RecoverySet> Assemble(const Md5Digest& id, Collected& got) {
  if (!got.main) return std::nullopt;
  RecoverySet set;
  set.id = id;
  set.sliceSize = got.main->sliceSize;
  std::uint64_t slices = 0;
  for (const Md5Digest& fileId : got.main->files) {
    const auto desc = got.descs.find(fileId);
    const auto ifsc = got.ifsc.find(fileId);
    if (desc == got.descs.end() || ifsc == got.ifsc.end()) return std::nullopt;
    const std::uint64_t count = SliceCount(desc->second.length, set.sliceSize);
    if (ifsc->second.size() != count || slices + count > kMaxSlices) return std::nullopt;
    SetFileEntry file;
    file.id = fileId;
    file.md5 = desc->second.md5;
    file.length = desc->second.length;
    file.name = desc->second.name;
    if (const auto wide = got.wide.find(fileId); wide != got.wide.end()) file.wideName = wide->second;
    file.slices = ifsc->second;
    file.firstSlice = static_cast<std::uint32_t>(slices);
    slices += count;
    set.files.push_back(std::move(file));
  }
  // A slice larger than every file only pads them (a verification would
  // hash the padding): no writer makes one, and a forged Main is refused.
  std::uint64_t largest = 0;
  for (const auto& file : set.files) largest = std::max(largest, file.length);
  if (set.sliceSize > Padded(largest)) return std::nullopt;
  set.inputSlices = static_cast<std::uint32_t>(slices);
  for (const auto& [exponent, at] : got.recovery) {
    if (got.recoveryBytes[exponent] == set.sliceSize) set.recovery.push_back(at);
  }
  set.volumes = std::move(got.volumes);
  set.descriptor = std::move(got.descriptor);
  return set;
}

// UTF-8 of UTF-16 text; nothing for a lone surrogate.
std::optional<std::string> Utf8FromUtf16(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      return std::nullopt;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

SetReading ReadRecoverySets(const std::vector<std::filesystem::path>& paths, const Progress& progress) {
  std::uint64_t total = 0;
  for (const auto& path : paths) total += FileLength(path).value_or(0);
  Reader reader(progress, total);
  SetReading reading;
  for (const auto& path : paths) {
    try {
      reader.Read(path);
    } catch (const VokError& e) {
      if (e.Code() != ErrorCode::IoFailed) throw;
      reading.unreadable.push_back(path);
    }
  }
  for (auto& [id, got] : reader.Sets()) {
    if (auto set = Assemble(id, got)) reading.sets.push_back(std::move(*set));
  }
  return reading;
}

namespace {

// The forms a recorded name is compared in, as UTF-8.
std::vector<std::string> RecordedNames(const SetFileEntry& file) {
  std::vector<std::string> names;
  if (Utf16FromUtf8(file.name)) {
    names.push_back(file.name);
  } else if (const auto decoded = DecodeCp932(file.name)) {
    names.push_back(ToUtf8(*decoded));
  }
  if (file.wideName) {
    if (auto wide = Utf8FromUtf16(*file.wideName); wide && (names.empty() || *wide != names.front())) {
      names.push_back(std::move(*wide));
    }
  }
  return names;
}

}  // namespace

bool NamesFile(const SetFileEntry& file, const std::filesystem::path& name) {
  const auto names = RecordedNames(file);
  return std::find(names.begin(), names.end(), ToUtf8(name)) != names.end();
}

std::optional<SetMatch> MatchSet(const SetReading& reading, const std::vector<std::filesystem::path>& names) {
  std::vector<std::string> wanted;
  wanted.reserve(names.size());
  for (const auto& name : names) wanted.push_back(ToUtf8(name));
  std::optional<SetMatch> best;
  for (std::size_t s = 0; s < reading.sets.size(); ++s) {
    const RecoverySet& set = reading.sets[s];
    std::multimap<std::string, std::uint32_t> byName;
    for (std::uint32_t f = 0; f < set.files.size(); ++f) {
      for (auto& name : RecordedNames(set.files[f])) byName.emplace(std::move(name), f);
    }
    SetMatch match;
    match.set = s;
    match.fileOfName.resize(names.size());
    match.nameOfFile.resize(set.files.size());
    for (std::size_t n = 0; n < names.size(); ++n) {
      const auto [first, last] = byName.equal_range(wanted[n]);
      for (auto it = first; it != last; ++it) {
        if (match.nameOfFile[it->second]) continue;
        match.fileOfName[n] = it->second;
        match.nameOfFile[it->second] = n;
        ++match.matched;
        break;
      }
    }
    if (match.matched == 0) continue;
    if (!best || match.matched > best->matched ||
        (match.matched == best->matched && set.recovery.size() > reading.sets[best->set].recovery.size())) {
      best = std::move(match);
    }
  }
  return best;
}

}  // namespace vokram::recovery
