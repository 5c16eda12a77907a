// The piece check: every piece a descriptor lists, looked for beside it, is
// missing, damaged (its CRC-16 differs from the record) or sound.
#pragma once

#include <filesystem>
#include <cstdint>
#include <functional>
#include <optional>

#include "Progress.h"
#include "Text.h"

namespace vokram {

enum class PieceStatus { Missing, Damaged, Sound };

struct PieceReport {
  PieceStatus status;
  std::filesystem::path name;  // as recorded, or the name it was found under
};

// A piece that is not there under its recorded name, found under one of the
// names browsers and mail programs give a file they save a second time or do
// not trust: " (1)" to " (9)" before its extension, or an added ".txt",
// ".download" or ".crdownload", in the same folder. Taken only when it is a
// plain file (no link) with the recorded length and CRC-16.
std::optional<std::filesystem::path> FindRenamedPiece(const NativeString& folder, const std::filesystem::path& name,
                                                      std::int32_t size, std::uint16_t crc);

// What recovery files beside the pieces can do for them.
struct RecoveryReport {
  bool repairable = false;
  // Recovery blocks still lacking; nothing where that cannot be told.
  std::optional<std::uint32_t> blocksNeeded;
};

struct CheckSummary {
  bool allSound = true;
  // Where a recovery set names the pieces and not all are sound.
  std::optional<RecoveryReport> recovery;
};

// Calls onPiece once per piece, in descriptor order, after that piece was
// checked (the window appends its line and paints there). A piece of length 0
// or one that cannot be read counts as damaged; so does one whose slices fail
// the MD5s of a recovery set beside it, whatever its CRC-16. Throws VokError
// for a descriptor that cannot be read or is not a sound descriptor, and
// Cancelled, between two pieces, when a stop was asked for. Progress counts
// the bytes read: the set's verification first, where there is a set.
CheckSummary CheckPieces(const std::filesystem::path& vokPath,
                         const std::function<void(const PieceReport&)>& onPiece, const Progress& progress = {});

}  // namespace vokram
