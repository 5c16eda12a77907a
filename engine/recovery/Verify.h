// Verification of the files of a recovery set on disk: each is read once and
// every slice's MD5 compared with the set's, so a repair knows which slices
// it can take as they are and which it must rebuild, and whether the
// recovery slices at hand can rebuild them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "Progress.h"
#include "recovery/SetReader.h"
#include "recovery/Solver.h"

namespace vokram::recovery {

enum class FileCondition { Sound, Damaged, Missing };

struct FileVerdict {
  FileCondition condition = FileCondition::Missing;
  std::filesystem::path path;  // where it was read; empty when missing
  std::uint64_t lengthOnDisk = 0;
  // Per slice: its bytes stand on disk where the set records them. A file
  // longer or shorter than recorded is damaged, its slices judged the same.
  std::vector<bool> good;
};

struct SetVerdict {
  std::vector<FileVerdict> files;    // in the set's order
  std::uint32_t missingSlices = 0;   // slices of the set not good
  std::uint32_t recoverySlices = 0;  // at hand
  // Every file sound or all its slices there (only its length wrong), or
  // the missing slices have a solution.
  bool repairable = false;
  // Recovery slices a repair still lacks (0 when repairable).
  std::uint32_t blocksNeeded = 0;
  // More missing slices than are solved (kMaxSolvedSlices): not repairable,
  // and blocksNeeded is not known.
  bool tooManyToSolve = false;
  std::optional<Solution> solution;  // when slices are missing and repairable
  bool AllSound() const;
};

// Each set file's path from a match with the names the caller looked for.
std::vector<std::optional<std::filesystem::path>> PathsOfFiles(const RecoverySet& set, const SetMatch& match,
                                                               const std::vector<std::filesystem::path>& paths);

// paths: where each of the set's files stands (nothing: not there; a file
// that cannot be opened is missing, one that fails while read is damaged
// from there on). Throws VokError(Cancelled) on a stop; progress counts the
// bytes read.
// `trusted` (where given) marks files taken as sound without reading them,
// which a caller knows from a check of its own; a rebuild that then fails
// its MD5s tells it to verify them after all.
SetVerdict VerifySet(const RecoverySet& set, const std::vector<std::optional<std::filesystem::path>>& paths,
                     const Progress& progress = {}, const std::vector<bool>& trusted = {});

}  // namespace vokram::recovery
