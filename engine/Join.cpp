#include "Join.h"

#include <cwctype>

#include "Descriptor.h"
#include "Error.h"
#include "File.h"
#include "GetCRC.h"

namespace vokram {

namespace {

// The joined bytes go to a file of their own in the output folder; it is
// removed on every path that does not rename it to the final name. Its name
// is short and fixed in length, so it fits beside any name of 255 bytes.
class TemporaryFile {
 public:
  explicit TemporaryFile(const NativeString& folder) {
    // The first free name counting from 0000: created exclusively, so two
    // joins into one folder each get their own.
    constexpr unsigned kNames = 10000;
    for (unsigned number = 0; number < kNames; ++number) {
      std::filesystem::path candidate(folder + Name(number));
      if (auto created = File::CreateNew(candidate)) {
        file_ = std::move(*created);
        path_ = std::move(candidate);
        return;
      }
    }
    throw VokError(ErrorCode::IoFailed, std::filesystem::path(folder), Cause::NoTemporaryName);
  }
  ~TemporaryFile() {
    if (!committed_) {
      file_ = File();
      RemoveQuietly(path_);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  File& Out() { return file_; }
  void CommitAs(const std::filesystem::path& finalPath) {
    file_.Close();
    RenameReplacing(path_, finalPath);
    committed_ = true;
  }
  // False when something already stands under the final name.
  bool CommitIfAbsent(const std::filesystem::path& finalPath) {
    file_.Close();
    committed_ = RenameIfAbsent(path_, finalPath);
    return committed_;
  }

 private:
  static NativeString Name(unsigned number) {
    std::string digits = std::to_string(number);
    digits.insert(0, 4 - digits.size(), '0');
    const std::string name = "~vok" + digits + ".tmp";
    return NativeString(name.begin(), name.end());
  }
  File file_;
  std::filesystem::path path_;
  bool committed_ = false;
};

NativeString Normalised(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return (error ? path : absolute).lexically_normal().native();
}

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
  const NativeString na = Normalised(a), nb = Normalised(b);
#ifdef _WIN32
  // Windows file names compare without regard to case.
  if (na.size() != nb.size()) return false;
  for (std::size_t i = 0; i < na.size(); ++i) {
    if (std::towupper(na[i]) != std::towupper(nb[i])) return false;
  }
  return true;
#else
  return na == nb;
#endif
}

// The output must be none of the join's inputs, whatever name leads to it.
void RefuseOutputThatIsAnInput(const std::filesystem::path& output, const std::filesystem::path& vokPath,
                               const NativeString& piecesFolder, const Descriptor& descriptor) {
  const auto outputIdentity = IdentityOf(output);
  auto isOutput = [&](const std::filesystem::path& input) {
    return SameName(input, output) || (outputIdentity && IdentityOf(input) == outputIdentity);
  };
  if (isOutput(vokPath)) throw VokError(ErrorCode::OutputIsInput, output.filename());
  for (const DescriptorPiece& piece : descriptor.pieces) {
    if (isOutput(std::filesystem::path(piecesFolder + piece.name.native()))) {
      throw VokError(ErrorCode::OutputIsInput, piece.name);
    }
  }
}

}  // namespace

JoinResult JoinFile(const std::filesystem::path& vokPath, NativeView outputFolder, const Progress& progress) {
  const Descriptor descriptor = ReadDescriptor(vokPath);
  const NativeString piecesFolder = FolderPart(vokPath.native());
  const NativeString folder = WithTrailingSeparator(outputFolder);

  JoinResult result;
  result.outputPath = std::filesystem::path(folder + descriptor.sourceName.native());
  result.pieceCount = static_cast<int>(descriptor.pieces.size());
  RefuseOutputThatIsAnInput(result.outputPath, vokPath, piecesFolder, descriptor);

  TemporaryFile temporary(folder);
  const FileIdentity temporaryIdentity = temporary.Out().Identity();
  const auto total = static_cast<std::uint64_t>(descriptor.sourceSize);
  progress.Step(0, total);
  // Pieces end anywhere; the buffer is filled across their ends, so every
  // write of the joined file but the last is whole and page-aligned.
  const CopyBuffer buffer = MakeCopyBuffer();
  std::size_t filled = 0;
  std::uint16_t crc = kCrcInitial;
  for (const DescriptorPiece& piece : descriptor.pieces) {
    const std::filesystem::path piecePath(piecesFolder + piece.name.native());
    // Every listed piece is read by its name, hidden or not; a folder is none.
    if (!FileLength(piecePath)) throw VokError(ErrorCode::PieceUnreadable, piece.name);
    std::optional<File> in;
    try {
      in.emplace(File::OpenRead(piecePath));
    } catch (const VokError& e) {
      throw VokError(ErrorCode::PieceUnreadable, piece.name, e.Reason());
    }
    // A descriptor may name the temporary file itself: reading it would never end.
    if (in->Identity() == temporaryIdentity) throw VokError(ErrorCode::OutputIsInput, piece.name);
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
      progress.Step(result.size + pieceBytes, total);
    }
    in->Close();
    // An empty piece is a piece lost on its way, not a piece of nothing.
    if (pieceBytes == 0) throw VokError(ErrorCode::PieceUnreadable, piece.name);
    result.size += pieceBytes;
  }
  if (filled > 0) temporary.Out().Write(buffer.get(), filled);

  result.crc = crc;
  result.matchesRecord = result.size == static_cast<std::uint64_t>(descriptor.sourceSize) &&
                         (result.size == 0 || crc == descriptor.sourceCrc);
  progress.Step(result.size, total);
  if (result.matchesRecord) {
    temporary.CommitAs(result.outputPath);
  } else {
    // A result that fails its record never takes the place of a file.
    result.keptOlderFile = !temporary.CommitIfAbsent(result.outputPath);
  }
  return result;
}

}  // namespace vokram
