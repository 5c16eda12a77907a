// SplitFile cuts a source into pieces of random sizes between a minimum and a
// maximum (in KiB), named base.000, base.001, ..., with an optional batch file
// that rebuilds the source by COPY and an optional descriptor. One pass over
// the source through one fixed buffer; CRCs are computed as the bytes pass.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Error.h"
#include "File.h"
#include "Outputs.h"
#include "Progress.h"
#include "Text.h"
#include "recovery/RecoveryPlan.h"

namespace vokram {

// The largest size in KiB for which every drawn piece length fits in int32.
inline constexpr std::int32_t kMaxSizeKb = 2097151;

struct SplitOptions {
  bool writeVok = true;  // chkVokFile
  bool writeBat = false; // chkBatFile
  // Files under the outputs' names are replaced (the user said yes); without
  // it a split that meets one refuses with VokError(OutputExists).
  bool replaceExisting = false;
  // Recovery files beside the pieces with which any this many pieces may be
  // lost or damaged and the source still comes back; 0: none.
  std::uint32_t recovery = 0;
};

// A value in [0, 1). The default is the process's own generator, never seeded:
// every run draws the same sequence.
using RandomSource = std::function<float()>;
float DefaultRandom();
// A 32-bit generator's draw (std::mt19937) as a value in [0, 1): its top 24
// bits, which a float holds exactly.
constexpr float UnitInterval(std::uint_fast32_t draw) noexcept {
  return static_cast<float>(draw >> 8) * (1.0f / 16777216.0f);
}


// The drawn size: round-half-even((r * (maximum - minimum) + minimum) * 1024).
// A piece holds this plus one byte, or what is left of the source.
std::int64_t DrawnPieceSize(float r, std::int32_t minimum, std::int32_t maximum);

// base + "." + the number with at least three digits.
NativeString PieceName(NativeView baseName, std::int32_t number);

struct SplitNames {
  NativeString folder;    // output folder, with its trailing separator (or empty)
  NativeString baseName;  // may be empty
  NativeString sourceName;
  NativeString stem;
};

// Draws the length of every piece of a source of `length` bytes, one draw per
// piece in cutting order: the sequence the split then uses. Nothing when the
// drawn pieces would be more than kMaxPieces (it draws no more than that).
std::optional<std::vector<std::uint32_t>> DrawPieceLengths(std::uint64_t length, std::int32_t minimum,
                                                           std::int32_t maximum, const RandomSource& random);

// A split's names and piece lengths, checked and drawn by DrawSplit.
struct SplitDraw {
  SplitNames names;
  std::vector<std::uint32_t> lengths;
  std::optional<recovery::RecoveryPlan> recovery = {};  // as options.recovery asks
};

// Every precondition of a split that needs no disk, in the order the front
// ends report them: sizes in range, source not empty, at most kMaxPieces
// pieces as really drawn (the only limit of a source's size), a valid base
// name (as typed: no separator either) and source name (also no name Windows
// takes for a device), names that fit the descriptor and batch file, and
// recovery files no larger than the largest piece (RecoveryTooLarge). The
// names, drawn piece lengths and recovery layout on success.
std::variant<VokError, SplitDraw> DrawSplit(NativeView sourcePath, std::uint64_t sourceLength, NativeView folder,
                                            NativeView baseName, std::int32_t minimum, std::int32_t maximum,
                                            const SplitOptions& options, const RandomSource& random = {});

struct SplitResult {
  int pieceCount = 0;
  std::uint16_t sourceCrc = 0;
  // Replaced files that could not be removed after the split (the next run
  // into the folder removes them).
  std::vector<std::filesystem::path> notRemoved;
};

// A split ready to run: the source open (on Windows no one may write it
// meanwhile), its length and time of change, the lengths to cut, and every
// output looked up. A front end asks before replacing ExistingCount() files.
struct SplitPlan {
  File source;
  FileStamp stamp;
  SplitNames names;
  std::vector<std::uint32_t> lengths;
  std::optional<recovery::RecoveryPlan> recovery;
  // The pieces, then the recovery files, the batch file and the descriptor as asked.
  std::vector<PlannedOutput> outputs;
  // Pieces of the earlier set that the descriptor being replaced lists and the
  // new set does not reuse: they go with it.
  std::vector<PlannedOutput> removed;
  std::optional<std::string> mark;     // the source's mark of the web, given to every piece
  // What was done first about a run into the folder that a crash interrupted.
  Settlement settled = Settlement::None;
  std::size_t ExistingCount() const { return CountExisting(outputs) + removed.size(); }
  std::filesystem::path FirstExisting() const {
    const auto first = vokram::FirstExisting(outputs);
    return first.empty() && !removed.empty() ? removed.front().path : first;
  }
};

// Settles an interrupted run in the output folder, opens the source and
// looks up every output, on what DrawSplit drew and checked; the lengths must
// add up to the source's length (or it changed since). Throws VokError:
// OutputIsSource when an output's name leads to the source, OutputIsFolder,
// NoSpace. Nothing is written.
SplitPlan PlanSplit(NativeView sourcePath, SplitDraw draw, const SplitOptions& options);

// Runs a plan. Throws VokError: OutputExists when files stand under outputs'
// names and options.replaceExisting is not set; SourceModified when the
// source changed meanwhile; IoFailed, Cancelled; FolderChanged when it cannot
// put the folder back. A split that does not finish removes every file it
// created and replaces none, also through a crash (the next run settles it);
// one that finishes has every output on stable storage. Progress is told at the start of every
// piece and after every buffer that leaves more of it to copy.
SplitResult SplitFile(SplitPlan& plan, const SplitOptions& options, const Progress& progress = {});

}  // namespace vokram
