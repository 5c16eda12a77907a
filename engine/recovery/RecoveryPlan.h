// How large a recovery set's slices are, how many recovery slices it holds
// and how they are spread over files, decided from the pieces' lengths
// before anything is written (a split checks free space and asks before
// replacing files).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Text.h"

namespace vokram::recovery {

struct RecoveryRequest {
  std::vector<std::string> names;  // UTF-8, as the set records them (bare names)
  std::vector<std::uint64_t> lengths;
  // Any this many pieces may be lost or damaged and the source still comes back.
  std::uint32_t losses = 1;
  // No file of the set is larger (the split's maximum piece size).
  std::uint64_t largestFile = 0;
  std::uint64_t descriptorLength = 0;
};

struct RecoveryOutput {
  NativeString name;
  std::uint64_t size = 0;
  std::uint32_t firstExponent = 0;
  std::uint32_t count = 0;  // recovery slices; 0 for the index
};

struct RecoveryPlan {
  std::uint64_t sliceSize = 0;
  std::uint32_t inputSlices = 0;
  std::uint32_t recoverySlices = 0;
  // The index (base.par2), then the volumes (base.volFFF+CCC.par2) holding
  // exponents 0 .. recoverySlices - 1 in order.
  std::vector<RecoveryOutput> outputs;
  std::uint64_t TotalSize() const;
};

// Every piece's slices, with the last one short.
std::uint64_t SlicesOf(std::uint64_t length, std::uint64_t sliceSize);

// Chooses the slice size and count (see the source for why) and lays them
// out. Nothing when no layout keeps every volume within largestFile (pieces
// too small for the packets every volume repeats) or the pieces are too many
// to have a slice each.
std::optional<RecoveryPlan> PlanRecovery(const RecoveryRequest& request, NativeView baseName);
// Lays out a given slice size (a multiple of 4) and count of recovery slices;
// nothing when they do not fit as above.
std::optional<RecoveryPlan> LayOutRecovery(const RecoveryRequest& request, NativeView baseName,
                                           std::uint64_t sliceSize, std::uint32_t recoverySlices);

}  // namespace vokram::recovery
