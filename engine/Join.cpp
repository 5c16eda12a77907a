#include "Join.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "Error.h"
#include "File.h"
#include "Check.h"
#include "GetCRC.h"
#include "Recover.h"
#include "recovery/Rebuild.h"
#include "ZoneMark.h"

namespace vokram {

namespace {

NativeString Normalised(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return (error ? path : absolute).lexically_normal().native();
}

// The same name once both are absolute and normal.
bool SameFullName(const std::filesystem::path& a, const std::filesystem::path& b) {
  return SameName(Normalised(a), Normalised(b));
}

// The output must be none of the join's inputs, whatever name leads to it.
void RefuseOutputThatIsAnInput(const std::filesystem::path& output, const std::filesystem::path& vokPath,
                               const NativeString& piecesFolder, const Descriptor& descriptor) {
  const auto outputIdentity = IdentityOf(output);
  auto isOutput = [&](const std::filesystem::path& input) {
    return SameFullName(input, output) || (outputIdentity && IdentityOf(input) == outputIdentity);
  };
  if (isOutput(vokPath)) throw VokError(ErrorCode::OutputIsInput, output.filename());
  for (const DescriptorPiece& piece : descriptor.pieces) {
    if (isOutput(std::filesystem::path(piecesFolder + piece.name.native()))) {
      throw VokError(ErrorCode::OutputIsInput, piece.name);
    }
  }
}

}  // namespace

JoinPlan PlanJoin(const std::filesystem::path& vokPath, NativeView outputFolder) {
  JoinPlan plan;
  plan.vokPath = vokPath;
  plan.piecesFolder = FolderPart(vokPath.native());
  plan.folder = WithTrailingSeparator(outputFolder);
  // A split that a crash interrupted may have left the pieces (and the
  // descriptor) half old and half new: that folder is settled before any of
  // it is read, the output folder before anything is looked up there.
  plan.settled = SettleInterruptedRun(plan.piecesFolder);
  if (const Settlement output = SettleInterruptedRun(plan.folder); output != Settlement::None) plan.settled = output;
  plan.descriptor = ReadDescriptor(vokPath);
  const NativeString name = plan.descriptor.sourceName.native();
  RefuseOutputThatIsAnInput(std::filesystem::path(plan.folder + name), vokPath, plan.piecesFolder, plan.descriptor);
  plan.output = PlanOutputs(plan.folder, {name}, {}, ErrorCode::OutputIsInput).front();
  // The pieces as they are on disk, whatever the descriptor says: a piece
  // longer than its record would otherwise fill the disk unforeseen.
  std::uint64_t bytes = 0;
  for (const DescriptorPiece& piece : plan.descriptor.pieces) {
    bytes += FileLength(std::filesystem::path(plan.piecesFolder + piece.name.native())).value_or(0);
  }
  RefuseWhatCannotFit(plan.folder, bytes, bytes);
  return plan;
}

namespace {

// Fills the output's place of every piece that is not sound from a recovery
// set beside the pieces, once all were copied (a lost piece's place holds
// zeros meanwhile). False when no set can: the join then ends as it would
// have without one.
bool Restore(const JoinPlan& plan, const std::vector<bool>& sound, File& out, const Progress& progress,
             bool trustTheCrc) {
  // The pieces whose CRC-16 matched are taken as they are, unless a rebuild
  // from them failed the set's MD5s: then every piece is verified.
  const std::optional<FoundRecovery> found =
      FindRecovery(plan.vokPath, plan.descriptor, {nullptr, progress.stop}, trustTheCrc ? sound : std::vector<bool>{});
  if (!found || !found->Covers(sound) || !found->verdict.solution) return false;
  const recovery::RecoverySet& set = found->Set();
  std::vector<std::uint64_t> offsets{0};  // of each piece in the output
  for (const DescriptorPiece& piece : plan.descriptor.pieces) {
    offsets.push_back(offsets.back() + static_cast<std::uint32_t>(piece.size));
  }
  std::vector<std::uint32_t> fileOf(set.inputSlices);  // the set's file of each slice
  for (std::uint32_t f = 0; f < set.files.size(); ++f) {
    for (std::size_t k = 0; k < set.files[f].slices.size(); ++k) fileOf[set.files[f].firstSlice + k] = f;
  }
  return recovery::RebuildSlices(
      set, found->verdict, found->verdict.solution->missing,
      [&](std::uint32_t slice, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
        const std::uint32_t f = fileOf[slice];
        const auto piece = found->match.nameOfFile[f];
        if (!piece || *piece >= plan.descriptor.pieces.size()) return;  // not a piece: the descriptor, a stranger
        out.Seek(offsets[*piece] + (slice - set.files[f].firstSlice) * set.sliceSize + offset);
        out.Write(data, n);
      },
      {nullptr, progress.stop});
}

// Pieces lost before the join began (no file of their name, or one of
// another length) are rebuilt beside the copy: the rebuild reads each other
// piece once the copy has read it, so from the page cache, on threads of its
// own, and holds what it rebuilt until the copy ends. Where the copy finds
// other pieces damaged, or the rebuild cannot be held in memory, the join
// restores after the copy instead.
class RebuildAlongside {
 public:
  RebuildAlongside(const JoinPlan& plan, std::vector<bool> guess) : plan_(plan), guess_(std::move(guess)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~RebuildAlongside() { Stop(); }
  RebuildAlongside(const RebuildAlongside&) = delete;
  RebuildAlongside& operator=(const RebuildAlongside&) = delete;

  // The pieces guessed lost; nothing when none is.
  static std::optional<std::vector<bool>> Guess(const JoinPlan& plan) {
    std::vector<bool> sound;
    for (const DescriptorPiece& piece : plan.descriptor.pieces) {
      const auto length = FileLength(std::filesystem::path(plan.piecesFolder + piece.name.native()));
      sound.push_back(length == static_cast<std::uint32_t>(piece.size));
    }
    if (std::find(sound.begin(), sound.end(), false) == sound.end()) return std::nullopt;
    return sound;
  }

  // The copy has read every piece before `piece`.
  void CopiedUpTo(std::size_t piece) {
    {
      const std::lock_guard lock(mutex_);
      copied_ = piece;
    }
    changed_.notify_all();
  }

  // After the copy, which found `sound`: writes the rebuilt pieces into
  // their places in `out` and says whether it could.
  bool Finish(const std::vector<bool>& sound, File& out, const std::vector<std::uint64_t>& offsets,
              const Progress& progress) {
    CopiedUpTo(plan_.descriptor.pieces.size());
    if (sound == guess_) {
      const Progress stopOnly{nullptr, progress.stop};
      for (;;) {
        stopOnly.Step(0, 0);
        std::unique_lock lock(mutex_);
        if (changed_.wait_for(lock, std::chrono::milliseconds(50), [this] { return finished_; })) break;
      }
      if (failure_) std::rethrow_exception(failure_);
      if (rebuilt_) {
        for (std::size_t piece = 0; piece < held_.size(); ++piece) {
          if (guess_[piece]) continue;
          out.Seek(offsets[piece]);
          out.Write(held_[piece].data(), held_[piece].size());
        }
        return true;
      }
    }
    // The restore after the copy runs alone, in the memory this one held.
    Stop();
    held_ = {};
    return false;
  }

 private:
  void Stop() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  // What the rebuild may hold of the lost pieces; its own memory is less by
  // as much, within the 64 MiB a join keeps to.
  static constexpr std::uint64_t kHeld = std::uint64_t{32} << 20;

  void Run() {
    try {
      rebuilt_ = Rebuild();
    } catch (const VokError& e) {
      if (e.Code() != ErrorCode::Cancelled) failure_ = std::current_exception();
    } catch (...) {
      failure_ = std::current_exception();
    }
    {
      const std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
  }

  bool Rebuild() {
    const std::optional<FoundRecovery> found = FindRecovery(plan_.vokPath, plan_.descriptor, {nullptr, &stop_}, guess_);
    if (!found || !found->Covers(guess_) || !found->verdict.solution) return false;
    const recovery::RecoverySet& set = found->Set();
    std::uint64_t held = 0;
    for (std::size_t i = 0; i < guess_.size(); ++i) {
      if (!guess_[i]) held += static_cast<std::uint32_t>(plan_.descriptor.pieces[i].size);
    }
    if (held > kHeld) return false;
    held_.resize(guess_.size());
    for (std::size_t i = 0; i < guess_.size(); ++i) {
      if (!guess_[i]) held_[i].resize(static_cast<std::uint32_t>(plan_.descriptor.pieces[i].size));
    }
    std::vector<std::uint32_t> fileOf(set.inputSlices);  // the set's file of each slice
    for (std::uint32_t f = 0; f < set.files.size(); ++f) {
      for (std::size_t k = 0; k < set.files[f].slices.size(); ++k) fileOf[set.files[f].firstSlice + k] = f;
    }
    recovery::RebuildFeed feed;
    for (std::uint32_t f = 0; f < set.files.size(); ++f) feed.order.push_back(f);
    const auto& pieceOf = found->match.nameOfFile;
    const auto rank = [&pieceOf](std::uint32_t f) { return pieceOf[f].value_or(SIZE_MAX); };
    std::stable_sort(feed.order.begin(), feed.order.end(),
                     [&rank](std::uint32_t a, std::uint32_t b) { return rank(a) < rank(b); });
    feed.await = [this, &pieceOf](std::uint32_t f) {
      if (!pieceOf[f]) return;
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || copied_ > *pieceOf[f]; });
      if (stop_) throw VokError(ErrorCode::Cancelled, {});
    };
    recovery::RebuildOptions options;
    options.memoryLimit -= static_cast<std::size_t>(held);
    return recovery::RebuildSlices(
        set, found->verdict, found->verdict.solution->missing,
        [&](std::uint32_t slice, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
          const std::uint32_t f = fileOf[slice];
          const auto piece = pieceOf[f];
          if (!piece || *piece >= held_.size()) return;  // not a piece: the descriptor, a stranger
          std::vector<std::uint8_t>& bytes = held_[*piece];
          const std::uint64_t from = std::uint64_t{slice - set.files[f].firstSlice} * set.sliceSize + offset;
          if (from + n <= bytes.size()) std::memcpy(bytes.data() + from, data, n);
        },
        {nullptr, &stop_}, options, &feed);
  }

  const JoinPlan& plan_;
  const std::vector<bool> guess_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::atomic<bool> stop_{false};
  std::size_t copied_ = 0;
  bool finished_ = false;
  bool rebuilt_ = false;
  std::exception_ptr failure_;
  std::vector<std::vector<std::uint8_t>> held_;  // of each piece guessed lost
  std::thread thread_;
};

// The output's CRC-16 once the places of the pieces not sound were rebuilt:
// only those are read again, the rest keep the CRC-16 taken while copying.
std::uint16_t RestoredCrc(const std::filesystem::path& output, const Descriptor& descriptor,
                          const std::vector<bool>& sound, std::vector<std::uint16_t> pieceCrcs,
                          std::uint8_t* buffer) {
  File joined = File::OpenRead(output);
  std::uint16_t crc = kCrcInitial;
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < descriptor.pieces.size(); ++i) {
    const std::uint64_t length = static_cast<std::uint32_t>(descriptor.pieces[i].size);
    if (!sound[i]) {
      joined.Seek(at);
      std::uint16_t pieceCrc = kCrcInitial;
      for (std::uint64_t left = length; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyBufferSize));
        if (!joined.ReadExact(buffer, n)) throw VokError(ErrorCode::IoFailed, output, Cause::SourceEndedEarly);
        pieceCrc = UpdateCRC(pieceCrc, buffer, n);
        left -= n;
      }
      pieceCrcs[i] = pieceCrc;
    }
    crc = CombineCRC(crc, pieceCrcs[i], length);
    at += length;
  }
  return crc;
}

// Writes the joined bytes to the set's temporary and commits it; the files
// are closed when it returns or throws.
JoinResult WriteJoined(const JoinPlan& plan, const Progress& progress, OutputSet& outputs) {
  const Descriptor& descriptor = plan.descriptor;
  JoinResult result;
  result.outputPath = plan.output.path;
  result.pieceCount = static_cast<int>(descriptor.pieces.size());
  // With recovery files beside them, a piece lost or damaged on the way need
  // not end the join: each piece fills exactly its recorded place, and what
  // is not sound is rebuilt once every piece was read.
  const bool recoveryAtHand = HasRecoveryFiles(plan.piecesFolder);
  std::vector<bool> sound;
  std::vector<std::uint16_t> pieceCrcs;  // of each piece's place in the output
  std::optional<VokError> firstLost;

  // The joined bytes go to a temporary file that takes the output's name only
  // when every piece has been copied.
  File out = outputs.Create(0);
  std::optional<RebuildAlongside> alongside;  // stopped before the output is abandoned
  if (recoveryAtHand) {
    if (auto guess = RebuildAlongside::Guess(plan)) alongside.emplace(plan, std::move(*guess));
  }
  const FileIdentity temporaryIdentity = out.Identity();
  const std::uint64_t total = descriptor.sourceSize;
  progress.Step(0, total);
  // Pieces end anywhere; the buffer is filled across their ends, so every
  // write of the joined file but the last is whole and page-aligned.
  const CopyBuffer buffer = MakeCopyBuffer();
  std::size_t filled = 0;
  std::uint16_t crc = kCrcInitial;
  auto append = [&](std::size_t n) {
    filled += n;
    if (filled == kCopyBufferSize) {
      out.Write(buffer.get(), filled);
      filled = 0;
    }
  };
  // The joined file is trusted no more than the least trusted of its inputs.
  std::vector<std::optional<std::string>> marks{ReadZoneMark(plan.vokPath)};
  for (const DescriptorPiece& piece : descriptor.pieces) {
    std::filesystem::path piecePath(plan.piecesFolder + piece.name.native());
    // A piece a browser saved under another name is taken for it.
    if (!NameExists(piecePath)) {
      if (auto renamed = FindRenamedPiece(plan.piecesFolder, piece.name, piece.size, piece.crc)) {
        result.renamed.emplace_back(renamed->filename(), piece.name);
        piecePath = std::move(*renamed);
      }
    }
    // A descriptor may name the temporary file itself: reading it would never
    // end (Windows would not even open it while it is written).
    if (SameFullName(piecePath, out.Path())) throw VokError(ErrorCode::OutputIsInput, piece.name);
    const std::uint64_t recorded = static_cast<std::uint32_t>(piece.size);
    std::uint64_t pieceBytes = 0;
    std::uint16_t pieceCrc = kCrcInitial;
    bool lost = false;
    try {
      // Every listed piece is read by its name, hidden or not; a folder is none.
      if (!FileLength(piecePath)) throw VokError(ErrorCode::PieceUnreadable, piece.name, Cause::PieceMissing);
      std::optional<File> in;
      try {
        in.emplace(File::OpenRead(piecePath));
      } catch (const VokError& e) {
        throw VokError(ErrorCode::PieceUnreadable, piece.name, e.Reason());
      }
      // Or lead to it through a link.
      if (in->Identity() == temporaryIdentity) throw VokError(ErrorCode::OutputIsInput, piece.name);
      try {
        marks.push_back(ReadZoneMark(piecePath));
      } catch (const VokError& e) {
        throw VokError(ErrorCode::PieceUnreadable, piece.name, e.Reason());
      }
      for (;;) {
        std::size_t want = kCopyBufferSize - filled;
        if (recoveryAtHand) want = static_cast<std::size_t>(std::min<std::uint64_t>(want, recorded - pieceBytes));
        if (want == 0) break;
        std::size_t got;
        try {
          got = in->Read(buffer.get() + filled, want);
        } catch (const VokError& e) {
          throw VokError(ErrorCode::PieceUnreadable, piece.name, e.Reason());
        }
        if (got == 0) break;
        pieceCrc = UpdateCRC(pieceCrc, buffer.get() + filled, got);
        append(got);
        pieceBytes += got;
        progress.Step(result.size + pieceBytes, total);
      }
      if (recoveryAtHand && pieceBytes == recorded && in->Size() != recorded) pieceCrc = ~piece.crc;  // too long
      in->Close();
      // An empty piece is a piece lost on its way, not a piece of nothing.
      if (pieceBytes == 0) throw VokError(ErrorCode::PieceUnreadable, piece.name, Cause::PieceEmpty);
    } catch (const VokError& error) {
      if (!recoveryAtHand || error.Code() != ErrorCode::PieceUnreadable) throw;
      lost = true;
      if (!firstLost) firstLost = error;
    }
    if (recoveryAtHand) {
      // The piece's place, whole: what it lacks stays zero until rebuilt.
      for (std::uint64_t gap = recorded - pieceBytes; gap > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(gap, kCopyBufferSize - filled));
        std::fill_n(buffer.get() + filled, n, std::uint8_t{0});
        pieceCrc = UpdateCRC(pieceCrc, buffer.get() + filled, n);
        append(n);
        gap -= n;
      }
      pieceBytes = recorded;
      sound.push_back(!lost && pieceCrc == piece.crc);
      if (alongside) alongside->CopiedUpTo(sound.size());
    }
    crc = CombineCRC(crc, pieceCrc, pieceBytes);
    pieceCrcs.push_back(pieceCrc);
    result.size += pieceBytes;
  }
  if (filled > 0) out.Write(buffer.get(), filled);
  if (recoveryAtHand && std::count(sound.begin(), sound.end(), false) > 0) {
    std::vector<std::uint64_t> offsets{0};  // of each piece in the output
    for (const DescriptorPiece& piece : descriptor.pieces) {
      offsets.push_back(offsets.back() + static_cast<std::uint32_t>(piece.size));
    }
    if ((alongside && alongside->Finish(sound, out, offsets, progress)) || Restore(plan, sound, out, progress, true) ||
        Restore(plan, sound, out, progress, false)) {
      result.restored = static_cast<int>(std::count(sound.begin(), sound.end(), false));
      out.Close();
      crc = RestoredCrc(out.Path(), descriptor, sound, pieceCrcs, buffer.get());
    } else if (firstLost) {
      throw *firstLost;  // as without recovery files: the piece is named
    }
  }
  if (out.IsOpen()) out.Close();
  if (const auto mark = MostRestrictiveMark(marks)) WriteZoneMark(out.Path(), *mark);

  result.crc = crc;
  result.matchesRecord = result.size == descriptor.sourceSize && crc == descriptor.sourceCrc;
  progress.Step(result.size, total);
  if (result.matchesRecord) {
    outputs.Commit();
  } else {
    // A result that fails its record never takes the place of a file.
    result.keptOlderFile = !outputs.CommitWithoutReplacing();
  }
  result.notRemoved = outputs.NotRemoved();
  return result;
}

}  // namespace

JoinResult JoinFile(const JoinPlan& plan, const JoinOptions& options, const Progress& progress) {
  if (plan.output.exists && !options.replaceExisting) throw VokError(ErrorCode::OutputExists, plan.output.path);
  OutputSet outputs(plan.folder, {plan.output});
  try {
    return WriteJoined(plan, progress, outputs);
  } catch (...) {
    outputs.Abandon();
    throw;
  }
}

}  // namespace vokram
