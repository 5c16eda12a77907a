#include "Check.h"

#include "Descriptor.h"
#include "Error.h"
#include "File.h"
#include "GetCRC.h"
#include "Text.h"

namespace vokram {

namespace {

PieceStatus Examine(const std::filesystem::path& path, std::uint16_t expected, std::span<std::uint8_t> buffer) {
  if (!IsVisibleFile(path)) return PieceStatus::Missing;
  std::optional<std::uint16_t> crc;
  try {
    crc = GetFileCRC(path, buffer);
  } catch (const VokError&) {
    return PieceStatus::Damaged;  // listed but unreadable: not sound
  }
  return crc == expected ? PieceStatus::Sound : PieceStatus::Damaged;  // an empty piece has none
}

}  // namespace

void CheckPieces(const std::filesystem::path& vokPath,
                 const std::function<void(const PieceReport&)>& onPiece, const Progress& progress) {
  const Descriptor descriptor = ReadDescriptor(vokPath);
  const NativeString folder = FolderPart(vokPath.native());
  const CopyBuffer buffer = MakeCopyBuffer();
  std::uint64_t total = 0, done = 0;
  for (const DescriptorPiece& piece : descriptor.pieces) total += static_cast<std::uint32_t>(piece.size);
  for (const DescriptorPiece& piece : descriptor.pieces) {
    progress.Step(done, total);
    const std::filesystem::path path(folder + piece.name.native());
    onPiece({Examine(path, piece.crc, std::span(buffer.get(), kCopyBufferSize)), piece.name});
    done += static_cast<std::uint32_t>(piece.size);
  }
}

}  // namespace vokram
