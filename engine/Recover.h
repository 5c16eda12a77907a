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
#include "Outputs.h"
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

// Whether a name is a PAR2 file's (it ends in ".par2", in any case).
bool IsRecoveryFileName(const NativeString& name);
// Whether `folder` holds any PAR2 file (by its name).
bool HasRecoveryFiles(const NativeString& folder);

// A descriptor that a recovery set carries, for a .vok that was lost.
struct CarriedDescriptor {
  std::filesystem::path vokPath;  // where it belongs: its source's stem + ".vok", beside the set
  std::vector<std::uint8_t> bytes;
  PlannedOutput output;
};
// From `given`, a PAR2 file, or from the PAR2 files beside `given`, a .vok
// that is not there (then only a descriptor of that name). Its bytes must
// make a sound descriptor. Nothing when no set carries one.
std::optional<CarriedDescriptor> FindCarriedDescriptor(const std::filesystem::path& given);
// Writes it under its name, all or nothing; a different file there is
// replaced only with replaceExisting (else VokError(OutputExists)).
void WriteCarriedDescriptor(const CarriedDescriptor& carried, bool replaceExisting);

// The PAR2 files beside the descriptor, read as a stranger's; the set naming
// most of its pieces, verified (a set that also covers the descriptor itself
// finds it too). Nothing when no set names any piece. Throws
// VokError(Cancelled) on a stop; progress counts the bytes read.
// `soundPieces` (where given) marks pieces the caller found sound, which are
// not read again.
std::optional<FoundRecovery> FindRecovery(const std::filesystem::path& vokPath, const Descriptor& descriptor,
                                          const Progress& progress = {}, const std::vector<bool>& soundPieces = {});

// A repair ready to run: the pieces that are lost or damaged, to be written
// anew from the recovery set. A front end asks before replacing
// ExistingCount() damaged pieces.
struct RepairPlan {
  std::filesystem::path vokPath;
  NativeString folder;
  std::optional<FoundRecovery> found;
  std::vector<std::uint32_t> files;     // the set's files to write
  std::vector<PlannedOutput> outputs;   // their names, in the same order
  Settlement settled = Settlement::None;
  std::size_t ExistingCount() const { return CountExisting(outputs); }
};

// Settles the folder, reads the descriptor and finds its recovery set.
// Throws VokError: NotVok, BrokenVok, NoRecoveryFiles when no set names the
// pieces, NotRepairable (BytesNeeded(): the blocks lacking, 0 when unknown)
// when the set cannot restore them. No outputs when every piece is sound.
RepairPlan PlanRepair(const std::filesystem::path& vokPath, const Progress& progress = {});

struct RepairResult {
  int restored = 0;
  std::vector<std::filesystem::path> notRemoved;
};

// Writes every lost or damaged piece anew, all or nothing: the damaged ones
// are replaced only with replaceExisting (else VokError(OutputExists)) and
// kept until every piece is in place. Throws VokError: IoFailed, Cancelled,
// NotRepairable when a rebuilt slice fails the set's MD5 (the pieces changed
// since the plan).
RepairResult RepairPieces(const RepairPlan& plan, bool replaceExisting, const Progress& progress = {});

}  // namespace vokram
