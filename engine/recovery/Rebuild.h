// Rebuilds lost slices of a recovery set from the slices still good on disk
// and the recovery slices a verification chose. Memory stays within a limit
// whatever the sizes: when the work does not fit at once, it runs in passes,
// each rebuilding one part of every slice (the same part of every slice read
// through File).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "File.h"
#include "Progress.h"
#include "recovery/Gf16.h"
#include "recovery/SetReader.h"
#include "recovery/Verify.h"

namespace vokram::recovery {

struct RebuildOptions {
  // With the solution's coefficients (up to 32 MiB), a rebuild stays within
  // 64 MiB.
  std::size_t memoryLimit = std::size_t{56} << 20;
  unsigned threads = 2;
  GfKernel kernel = ChosenGfKernel();
};

// Receives bytes [offset, offset + n) of input slice `slice` (numbered across
// the set's files), only the bytes that belong to its file (no padding).
// Each pass delivers its part of every wanted slice; offsets grow from pass
// to pass.
using RebuiltSink =
    std::function<void(std::uint32_t slice, std::uint64_t offset, const std::uint8_t* data, std::size_t n)>;

// A rebuild beside the writer that reads the same files: the set's files in
// the order they are read there, and a wait before each is first read
// (which throws to stop the rebuild).
struct RebuildFeed {
  std::vector<std::uint32_t> order;  // set.files indices; those not named are read last
  std::function<void(std::uint32_t file)> await;
};

// Rebuilds `wanted` (each among verdict.solution->missing). The good slices
// are read from the paths the verdict names, so they must not have changed
// since. Returns whether every rebuilt slice has the MD5 the set records
// (false: the files or the recovery data changed, or the set lies). Throws
// VokError(IoFailed) for a file that cannot be read, VokError(Cancelled) on
// a stop; progress counts the bytes read.
bool RebuildSlices(const RecoverySet& set, const SetVerdict& verdict, const std::vector<std::uint32_t>& wanted,
                   const RebuiltSink& sink, const Progress& progress = {}, const RebuildOptions& options = {},
                   const RebuildFeed* feed = nullptr);

// A file of the set to write whole, into a file the caller opened (empty).
struct FileOutput {
  std::uint32_t file = 0;  // in set.files
  File* out = nullptr;
};

// Writes each file whole: its good slices copied from disk, the others
// rebuilt, in one rebuild for all of them. The outputs stay the caller's to
// sync and close. Returns as RebuildSlices does.
bool WriteFiles(const RecoverySet& set, const SetVerdict& verdict, const std::vector<FileOutput>& outputs,
                const Progress& progress = {}, const RebuildOptions& options = {});

}  // namespace vokram::recovery
