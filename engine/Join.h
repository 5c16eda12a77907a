// JoinFile writes the source again from the pieces a descriptor lists, read
// from the descriptor's folder, into a temporary file in the output folder
// that takes the recorded name only when every piece has been copied.
#pragma once

#include <cstdint>
#include <filesystem>

#include "Progress.h"
#include "Text.h"

namespace vokram {

struct JoinResult {
  std::filesystem::path outputPath;
  std::uint64_t size = 0;
  std::uint16_t crc = 0;
  int pieceCount = 0;
  // The joined bytes have the size and CRC-16 the descriptor records.
  bool matchesRecord = false;
  // The joined bytes failed their record and a file of the output's name was
  // already there: that file stays as it was and the joined bytes are gone.
  bool keptOlderFile = false;
};

// outputFolder may lack its trailing separator; empty means the current folder.
// Throws VokError (NotVok, BrokenVok, OutputIsInput when the output would be
// the descriptor or a piece, PieceUnreadable naming the piece, IoFailed,
// Cancelled); the final name is then untouched and no temporary file remains.
JoinResult JoinFile(const std::filesystem::path& vokPath, NativeView outputFolder, const Progress& progress = {});

}  // namespace vokram
