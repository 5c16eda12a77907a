// The piece check: every piece a descriptor lists, looked for beside it, is
// missing, damaged (its CRC-16 differs from the record) or sound.
#pragma once

#include <filesystem>
#include <functional>

#include "Progress.h"

namespace vokram {

enum class PieceStatus { Missing, Damaged, Sound };

struct PieceReport {
  PieceStatus status;
  std::filesystem::path name;
};

// Calls onPiece once per piece, in descriptor order, after that piece was
// checked (the window appends its line and paints there). A piece of length 0
// or one that cannot be read counts as damaged. Throws VokError for a
// descriptor that cannot be read or is not a sound descriptor, and
// Cancelled, between two pieces, when a stop was asked for. Progress counts
// the recorded sizes of the pieces checked so far.
void CheckPieces(const std::filesystem::path& vokPath,
                 const std::function<void(const PieceReport&)>& onPiece, const Progress& progress = {});

}  // namespace vokram
