// The recovery set beside a descriptor's pieces, if there is one: any PAR2
// files in the folder (Vokram's own or another tool's) whose set names the
// pieces, verified slice by slice against the pieces there. The check, the
// join and the repair use it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "Descriptor.h"
#include "Progress.h"
#include "Text.h"
#include "recovery/SetReader.h"
#include "recovery/Verify.h"

namespace vokram {

struct FoundRecovery {
  recovery::SetReading reading;
  recovery::SetMatch match;
  recovery::SetVerdict verdict;
  std::vector<std::optional<std::filesystem::path>> paths;  // of the set's files, as verified

  const recovery::RecoverySet& Set() const { return reading.sets[match.set]; }
  // What the set says of a descriptor piece; nothing when it does not name it.
  std::optional<recovery::FileCondition> ConditionOf(std::size_t piece) const;
  // Every piece the set does not find sound is one it names, and the slices
  // lost have a solution (or none are lost).
  bool Covers(const std::vector<bool>& pieceSound) const;
};

// Whether `folder` holds any PAR2 file (by its name).
bool HasRecoveryFiles(const NativeString& folder);

// The PAR2 files beside the descriptor, read as a stranger's; the set naming
// most of its pieces, verified (a set that also covers the descriptor itself
// finds it too). Nothing when no set names any piece. Throws
// VokError(Cancelled) on a stop; progress counts the bytes read.
std::optional<FoundRecovery> FindRecovery(const std::filesystem::path& vokPath, const Descriptor& descriptor,
                                          const Progress& progress = {});

}  // namespace vokram
