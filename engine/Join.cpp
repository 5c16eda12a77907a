#include "Join.h"

#include "Error.h"
#include "File.h"
#include "GetCRC.h"
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

// Writes the joined bytes to the set's temporary and commits it; the files
// are closed when it returns or throws.
JoinResult WriteJoined(const JoinPlan& plan, const Progress& progress, OutputSet& outputs) {
  const Descriptor& descriptor = plan.descriptor;
  JoinResult result;
  result.outputPath = plan.output.path;
  result.pieceCount = static_cast<int>(descriptor.pieces.size());

  // The joined bytes go to a temporary file that takes the output's name only
  // when every piece has been copied.
  File out = outputs.Create(0);
  const FileIdentity temporaryIdentity = out.Identity();
  const std::uint64_t total = descriptor.sourceSize;
  progress.Step(0, total);
  // Pieces end anywhere; the buffer is filled across their ends, so every
  // write of the joined file but the last is whole and page-aligned.
  const CopyBuffer buffer = MakeCopyBuffer();
  std::size_t filled = 0;
  std::uint16_t crc = kCrcInitial;
  // The joined file is trusted no more than the least trusted of its inputs.
  std::vector<std::optional<std::string>> marks{ReadZoneMark(plan.vokPath)};
  for (const DescriptorPiece& piece : descriptor.pieces) {
    const std::filesystem::path piecePath(plan.piecesFolder + piece.name.native());
    // A descriptor may name the temporary file itself: reading it would never
    // end (Windows would not even open it while it is written).
    if (SameFullName(piecePath, out.Path())) throw VokError(ErrorCode::OutputIsInput, piece.name);
    // Every listed piece is read by its name, hidden or not; a folder is none.
    if (!FileLength(piecePath)) throw VokError(ErrorCode::PieceUnreadable, piece.name);
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
        out.Write(buffer.get(), filled);
        filled = 0;
      }
      progress.Step(result.size + pieceBytes, total);
    }
    in->Close();
    // An empty piece is a piece lost on its way, not a piece of nothing.
    if (pieceBytes == 0) throw VokError(ErrorCode::PieceUnreadable, piece.name);
    result.size += pieceBytes;
  }
  if (filled > 0) out.Write(buffer.get(), filled);
  out.Close();
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
