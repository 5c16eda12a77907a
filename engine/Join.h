// JoinFile writes the source again from the pieces a descriptor lists, read
// from the descriptor's folder, into a temporary file in the output folder
// that takes the recorded name only when every piece has been copied.
#pragma once

#include <cstdint>
#include <filesystem>

#include "Descriptor.h"
#include "Outputs.h"
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
  // Pieces lost or damaged on the way whose bytes recovery files rebuilt.
  int restored = 0;
  // Pieces found under another name: that name, then the recorded one.
  std::vector<std::pair<std::filesystem::path, std::filesystem::path>> renamed;
  // The replaced file, when it could not be removed after the join (the next
  // run into the folder removes it).
  std::vector<std::filesystem::path> notRemoved;
};

struct JoinOptions {
  // A file under the output's name is replaced (the user said yes); without
  // it a join that meets one refuses with VokError(OutputExists).
  bool replaceExisting = false;
};

// A join ready to run: the descriptor read and its output looked up. A front
// end asks before replacing output when output.exists.
struct JoinPlan {
  std::filesystem::path vokPath;
  Descriptor descriptor;
  NativeString piecesFolder;
  NativeString folder;  // the output folder, with its trailing separator (or empty)
  PlannedOutput output;
  // What was done first about a run into the output folder that a crash
  // interrupted.
  Settlement settled = Settlement::None;
};

// outputFolder may lack its trailing separator; empty means the current
// folder. An interrupted run in the pieces' folder or the output folder is
// settled first. Throws VokError: NotVok, BrokenVok, OutputIsInput when the output
// would be the descriptor or a piece, OutputIsFolder. Nothing is written.
JoinPlan PlanJoin(const std::filesystem::path& vokPath, NativeView outputFolder);

// Runs a plan. Throws VokError: OutputExists when a file stands under the
// output's name and options.replaceExisting is not set; PieceUnreadable naming the
// piece, IoFailed, Cancelled. The final name is then untouched and no
// temporary file remains. A joined file is on stable storage before this
// returns.
JoinResult JoinFile(const JoinPlan& plan, const JoinOptions& options, const Progress& progress = {});

}  // namespace vokram
