// The piece check: every piece a descriptor lists, looked for beside it, is
// missing, damaged (its CRC-16 differs from the record) or sound.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace vokram {

enum class PieceStatus { Missing, Damaged, Sound };

struct PieceReport {
  PieceStatus status;
  std::filesystem::path name;
};

// Calls onPiece once per piece, in descriptor order, after that piece was
// checked (the window appends its line and paints there). A piece of length 0
// or one that cannot be read counts as damaged. Throws VokError for a
// descriptor that cannot be read or is not a sound descriptor.
void CheckPieces(const std::filesystem::path& vokPath,
                 const std::function<void(const PieceReport&)>& onPiece);

// The report line: " ×  ", " △  " or " ○  ", the name, CR LF (UTF-8).
std::string ReportLine(const PieceReport& report);

}  // namespace vokram
