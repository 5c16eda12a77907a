#include "Check.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "Descriptor.h"
#include "Error.h"
#include "File.h"
#include "GetCRC.h"
#include "Recover.h"
#include "Text.h"

namespace vokram {

namespace {

// Reads the pieces in order on a thread of its own, a few buffers ahead of
// the CRC, so that reading and computing overlap instead of taking turns.
// Every piece ends in one event that says how its reading went.
class ReadAhead {
 public:
  enum class Event { Bytes, Read, Missing, Unreadable };
  struct Chunk {
    Event event = Event::Bytes;
    const std::uint8_t* data = nullptr;
    std::size_t n = 0;
  };

  explicit ReadAhead(std::vector<std::filesystem::path> paths)
      : paths_(std::move(paths)), thread_([this] { Run(); }) {}
  ~ReadAhead() {
    {
      const std::lock_guard lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next chunk; its bytes stay until Release.
  Chunk Next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return taken_ < made_ || failure_; });
    if (failure_ && taken_ == made_) std::rethrow_exception(failure_);
    return slots_[taken_++ % kSlots].chunk;
  }
  void Release() {
    {
      const std::lock_guard lock(mutex_);
      ++released_;
    }
    changed_.notify_all();
  }

 private:
  static constexpr std::size_t kSlots = 4;
  struct Slot {
    CopyBuffer buffer = MakeCopyBuffer();
    Chunk chunk;
  };

  // A free slot, or nothing when the check has ended.
  Slot* Free() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return made_ - released_ < kSlots || quit_; });
    return quit_ ? nullptr : &slots_[made_ % kSlots];
  }
  void Publish(Slot& slot, Chunk chunk) {
    {
      const std::lock_guard lock(mutex_);
      slot.chunk = chunk;
      ++made_;
    }
    changed_.notify_all();
  }
  // False when the check has ended.
  bool ReadPiece(const std::filesystem::path& path) {
    Slot* slot = Free();
    if (!slot) return false;
    if (!IsVisibleFile(path)) return Publish(*slot, {Event::Missing}), true;
    try {
      File file = File::OpenRead(path);
      for (;;) {
        const std::size_t got = file.Read(slot->buffer.get(), kCopyBufferSize);
        if (got == 0) break;
        Publish(*slot, {Event::Bytes, slot->buffer.get(), got});
        if (!(slot = Free())) return false;
      }
      file.Close();
    } catch (const VokError&) {
      return Publish(*slot, {Event::Unreadable}), true;  // listed but unreadable: not sound
    }
    return Publish(*slot, {Event::Read}), true;
  }
  void Run() {
    try {
      for (const auto& path : paths_) {
        if (!ReadPiece(path)) return;
      }
    } catch (...) {
      const std::lock_guard lock(mutex_);
      failure_ = std::current_exception();
      changed_.notify_all();
    }
  }

  std::vector<std::filesystem::path> paths_;
  std::array<Slot, kSlots> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t made_ = 0, taken_ = 0, released_ = 0;
  bool quit_ = false;
  std::exception_ptr failure_;
  std::thread thread_;  // last: it starts once everything above is ready
};

// Takes one piece's chunks from the reader.
PieceStatus Examine(ReadAhead& reader, std::uint16_t expected) {
  std::uint16_t crc = kCrcInitial;
  std::uint64_t length = 0;
  for (;;) {
    const ReadAhead::Chunk chunk = reader.Next();
    if (chunk.event == ReadAhead::Event::Bytes) crc = UpdateCRC(crc, chunk.data, chunk.n);
    length += chunk.n;
    reader.Release();
    switch (chunk.event) {
      case ReadAhead::Event::Bytes: continue;
      case ReadAhead::Event::Missing: return PieceStatus::Missing;
      case ReadAhead::Event::Unreadable: return PieceStatus::Damaged;
      case ReadAhead::Event::Read: break;
    }
    // An empty piece has no CRC.
    return length > 0 && crc == expected ? PieceStatus::Sound : PieceStatus::Damaged;
  }
}

}  // namespace

std::optional<std::filesystem::path> FindRenamedPiece(const NativeString& folder, const std::filesystem::path& name,
                                                      std::int32_t size, std::uint16_t crc) {
  const NativeString& recorded = name.native();
  const std::size_t dot = recorded.rfind(VOKRAM_NATIVE('.'));
  const NativeString stem = recorded.substr(0, dot), extension = dot == NativeString::npos ? NativeString() : recorded.substr(dot);
  std::vector<NativeString> names;
  for (int copy = 1; copy <= 9; ++copy) {
    NativeString copied = stem;
    copied += VOKRAM_NATIVE(" (");
    copied += static_cast<NativeChar>('0' + copy);
    copied += VOKRAM_NATIVE(")");
    copied += extension;
    names.push_back(std::move(copied));
  }
  for (const NativeView added : {NativeView(VOKRAM_NATIVE(".txt")), NativeView(VOKRAM_NATIVE(".download")),
                                 NativeView(VOKRAM_NATIVE(".crdownload"))}) {
    names.push_back(recorded + NativeString(added));
  }
  for (const NativeString& candidate : names) {
    const std::filesystem::path path(folder + candidate);
    // A plain file: a link's own identity is not that of what it leads to.
    if (!IsVisibleFile(path) || NameIdentity(path) != IdentityOf(path)) continue;
    if (FileLength(path) != static_cast<std::uint64_t>(static_cast<std::uint32_t>(size))) continue;
    try {
      if (GetFileCRC(path) == crc) return path;
    } catch (const VokError&) {
      // unreadable: not the piece
    }
  }
  return std::nullopt;
}

CheckSummary CheckPieces(const std::filesystem::path& vokPath,
                         const std::function<void(const PieceReport&)>& onPiece, const Progress& progress) {
  const Descriptor descriptor = ReadDescriptor(vokPath);
  const NativeString folder = FolderPart(vokPath.native());
  std::vector<std::filesystem::path> paths;
  std::uint64_t total = 0, done = 0;
  for (const DescriptorPiece& piece : descriptor.pieces) {
    total += static_cast<std::uint32_t>(piece.size);
    paths.emplace_back(folder + piece.name.native());
  }
  // A recovery set judges every slice by its MD5, which a CRC-16 cannot, and
  // knows whether what is lost can come back. Its reading is the first half.
  const std::optional<FoundRecovery> found = FindRecovery(vokPath, descriptor, Progress{
      [&](std::uint64_t part, std::uint64_t whole) {
        if (progress.onProgress) progress.onProgress(part, 2 * whole);
      },
      progress.stop});
  const std::uint64_t before = found ? total : 0;
  CheckSummary summary;
  std::vector<bool> sound;
  ReadAhead reader(std::move(paths));
  for (std::size_t i = 0; i < descriptor.pieces.size(); ++i) {
    const DescriptorPiece& piece = descriptor.pieces[i];
    progress.Step(before + done, before + total);
    PieceStatus status = Examine(reader, piece.crc);
    std::filesystem::path name = piece.name;
    if (status == PieceStatus::Missing) {
      // Where the set knows the piece, a file under another name must agree
      // with its MD5s too (the set read the same file).
      const auto renamed = FindRenamedPiece(folder, piece.name, piece.size, piece.crc);
      if (renamed && (!found || found->ConditionOf(i).value_or(recovery::FileCondition::Sound) ==
                                    recovery::FileCondition::Sound)) {
        status = PieceStatus::Sound;
        name = renamed->filename();
      }
    } else if (status == PieceStatus::Sound && found && found->ConditionOf(i).value_or(recovery::FileCondition::Sound) !=
                                                     recovery::FileCondition::Sound) {
      status = PieceStatus::Damaged;
    }
    sound.push_back(status == PieceStatus::Sound);
    summary.allSound = summary.allSound && sound.back();
    onPiece({status, name});
    done += static_cast<std::uint32_t>(piece.size);
  }
  if (found && !summary.allSound) {
    RecoveryReport report;
    report.repairable = found->Covers(sound);
    // The set counts the blocks lacking where it names every piece not sound.
    bool named = true;
    for (std::size_t i = 0; i < sound.size(); ++i) named = named && (sound[i] || found->ConditionOf(i));
    if (!report.repairable && named && !found->verdict.tooManyToSolve) report.blocksNeeded = found->verdict.blocksNeeded;
    summary.recovery = report;
  }
  return summary;
}

}  // namespace vokram
