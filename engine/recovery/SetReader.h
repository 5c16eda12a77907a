// Reads recovery sets from the files a caller names (Vokram's own or another
// tool's): every packet's length is checked before it is used and its MD5
// before it is believed; unknown packets, broken ones and repeats are
// skipped, in any order, and a lost stretch of a file is passed over to the
// next packet. Recovery slices are not loaded, only found: each is recorded
// as a file and offset and read when a repair needs it.
//
// A name recorded in a set is never used as a path: it is only compared with
// names the caller already has (the descriptor's pieces).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Progress.h"
#include "recovery/Packets.h"
#include "recovery/RecoveryHash.h"

namespace vokram::recovery {

// One file of a recovery set, in slice order.
struct SetFileEntry {
  Md5Digest id{};
  Md5Digest md5{};
  std::uint64_t length = 0;
  std::string name;                        // the bytes recorded (UTF-8 by the format; older tools wrote code page 932)
  std::optional<std::u16string> wideName;  // from a UniFileN packet, where the set has one
  std::vector<SliceChecksum> slices;       // the last one zero-padded to full size
  std::uint32_t firstSlice = 0;            // its first slice's number in the set
};

// Where one recovery slice's data (sliceSize bytes) stands.
struct RecoverySliceAt {
  std::uint32_t exponent = 0;
  std::uint32_t volume = 0;  // in RecoverySet::volumes
  std::uint64_t offset = 0;
};

// A set whose critical packets were all found.
struct RecoverySet {
  Md5Digest id{};
  std::uint64_t sliceSize = 0;
  std::uint32_t inputSlices = 0;
  std::vector<SetFileEntry> files;
  std::vector<RecoverySliceAt> recovery;  // one per exponent, ascending
  std::vector<std::filesystem::path> volumes;
  std::optional<ByteVector> descriptor;  // Vokram's packet, where the set has one
};

struct SetReading {
  std::vector<RecoverySet> sets;
  // Files that could not be opened or read to their end (what was read of
  // them before the failure still counts).
  std::vector<std::filesystem::path> unreadable;
};

// Reads every file given, grouping packets by set ID whatever the files are
// called. Throws only VokError(Cancelled); progress counts the files' bytes.
SetReading ReadRecoverySets(const std::vector<std::filesystem::path>& paths, const Progress& progress = {});

// Which of a set's files each of `names` is.
struct SetMatch {
  std::size_t set = 0;  // in SetReading::sets
  std::vector<std::optional<std::uint32_t>> fileOfName;
  std::vector<std::optional<std::size_t>> nameOfFile;
  std::size_t matched = 0;
};

// Whether a name the set records for a file is `name`: the recorded bytes as
// UTF-8, as code page 932 where they are not UTF-8, or the UniFileN name.
bool NamesFile(const SetFileEntry& file, const std::filesystem::path& name);

// The set that names most of `names` (descriptor pieces, decoded); on a tie
// the one with more recovery slices. Nothing when no set names any.
std::optional<SetMatch> MatchSet(const SetReading& reading, const std::vector<std::filesystem::path>& names);

}  // namespace vokram::recovery
