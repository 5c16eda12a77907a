#include "Join.h"

#include "Descriptor.h"
#include "Error.h"
#include "File.h"
#include "GetCRC.h"

namespace vokram {

namespace {

// The joined bytes go to a file of their own beside the output; it is removed
// on every path that does not rename it to the final name.
class TemporaryFile {
 public:
  explicit TemporaryFile(const NativeString& finalPath) {
    for (int attempt = 0;; ++attempt) {
      std::filesystem::path candidate(finalPath + VOKRAM_NATIVE(".vokpart") + Suffix(attempt));
      if (auto created = File::CreateNew(candidate)) {
        file_ = std::move(*created);
        path_ = std::move(candidate);
        return;
      }
      if (attempt > 1000) throw VokError(ErrorCode::IoFailed, candidate, "no free temporary name");
    }
  }
  ~TemporaryFile() {
    if (!committed_) {
      file_ = File();
      RemoveQuietly(path_);
    }
  }
  File& Out() { return file_; }
  void CommitAs(const std::filesystem::path& finalPath) {
    file_.Close();
    RenameReplacing(path_, finalPath);
    committed_ = true;
  }

 private:
  static NativeString Suffix(int attempt) {
    if (attempt == 0) return {};
    const std::string digits = std::to_string(attempt);
    return NativeString(digits.begin(), digits.end());
  }
  File file_;
  std::filesystem::path path_;
  bool committed_ = false;
};

}  // namespace

JoinResult JoinFile(const std::filesystem::path& vokPath, NativeView outputFolder) {
  const Descriptor descriptor = ReadDescriptor(vokPath);
  const NativeString piecesFolder = FolderPart(vokPath.native());
  NativeString folder = WithTrailingSeparator(outputFolder);

  JoinResult result;
  result.outputPath = std::filesystem::path(folder + descriptor.sourceName.native());
  result.pieceCount = static_cast<int>(descriptor.pieces.size());

  TemporaryFile temporary(result.outputPath.native());
  // Pieces end anywhere; the buffer is filled across their ends, so every
  // write of the joined file but the last is whole and page-aligned.
  const CopyBuffer buffer = MakeCopyBuffer();
  std::size_t filled = 0;
  std::uint16_t crc = kCrcInitial;
  for (const DescriptorPiece& piece : descriptor.pieces) {
    const std::filesystem::path piecePath(piecesFolder + piece.name.native());
    if (!IsVisibleFile(piecePath)) throw VokError(ErrorCode::PieceUnreadable, piece.name);
    std::optional<File> in;
    try {
      in.emplace(File::OpenRead(piecePath));
    } catch (const VokError& e) {
      throw VokError(ErrorCode::PieceUnreadable, piece.name, e.Reason());
    }
    std::uint64_t pieceBytes = 0;
    for (;;) {
      std::size_t got;
      try {
        got = in->Read(buffer.get() + filled, kCopyBufferSize - filled);
      } catch (const VokError& e) {
        throw VokError(ErrorCode::PieceUnreadable, piece.name, e.Reason());
      }
      if (got == 0) break;
      crc = UpdateCRC(crc, buffer.get() + filled, got);
      filled += got;
      pieceBytes += got;
      if (filled == kCopyBufferSize) {
        temporary.Out().Write(buffer.get(), filled);
        filled = 0;
      }
    }
    in->Close();
    // An empty piece is a piece lost on its way, not a piece of nothing.
    if (pieceBytes == 0) throw VokError(ErrorCode::PieceUnreadable, piece.name);
    result.size += pieceBytes;
  }
  if (filled > 0) temporary.Out().Write(buffer.get(), filled);
  temporary.CommitAs(result.outputPath);

  result.crc = crc;
  result.matchesRecord = result.size == static_cast<std::uint64_t>(descriptor.sourceSize) &&
                         (result.size == 0 || crc == descriptor.sourceCrc);
  return result;
}

}  // namespace vokram
