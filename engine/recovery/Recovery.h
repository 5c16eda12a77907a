// Writes a recovery set beside a split's pieces: base.par2 (every packet but
// the recovery slices) and the volumes of the plan, each into a file the
// caller hands over (a temporary of its OutputSet, so the set appears all or
// nothing with the pieces). Readers such as par2 and MultiPar verify and
// repair the pieces with it; Vokram's own packet in every file carries the
// descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "File.h"
#include "Progress.h"
#include "recovery/RecoveryEncoder.h"
#include "recovery/RecoveryHash.h"
#include "recovery/RecoveryPlan.h"

namespace vokram::recovery {

struct RecoveryInput {
  std::string name;  // UTF-8, as in the plan's request
  std::filesystem::path path;
  // From a FileHasher with the plan's slice size, fed the piece's bytes; or,
  // where ChecksumsWhileEncoding, only the length and the MD5 of the first
  // 16 KiB (FirstBytesChecksums), which the File ID needs beforehand.
  FileChecksums sums;
};

// Whether WriteRecoverySet takes the pieces' checksums itself, as it reads
// them for the recovery slices in one pass; any the caller gives beyond the
// first 16 KiB's MD5 are then not used.
bool ChecksumsWhileEncoding(const RecoveryPlan& plan, const EncoderOptions& options = {});

// Writes plan.outputs[i] into open(i), called once for each output in order
// when its first byte is due; the file stays the caller's (open, until this
// returns, and the caller closes it). `descriptor` must be as long as the
// plan's request said. The pieces are read again through File (in passes
// when the recovery data is larger than the encoder's memory). Throws
// VokError(IoFailed) naming a piece or an output, VokError(Cancelled) on a
// stop; progress counts the pieces' bytes (padded to whole slices) read.
void WriteRecoverySet(const RecoveryPlan& plan, const std::vector<RecoveryInput>& inputs,
                      std::span<const std::uint8_t> descriptor, const std::function<File&(std::size_t output)>& open,
                      const Progress& progress = {}, const EncoderOptions& options = {});

// A recovery set computed beside the split that writes its pieces: each
// piece is read back as soon as it is written, on threads of their own,
// hashed in MD5 lanes beside others and multiplied into the recovery slices,
// and the files are written at the end. The set's order of files, which numbers the slices, comes from
// each piece's length and first 16 KiB, read from the source beforehand.
class RecoveryAlongside {
 public:
  // Whether a plan is computed so: in one pass within the encoder's memory,
  // over pieces small enough that those read side by side are still in the
  // page cache right after they were written.
  static bool Fits(const RecoveryPlan& plan, std::uint64_t largestPiece);
  // The pieces in the order they are written, each with its name and
  // FirstBytesChecksums (the path comes with Written).
  RecoveryAlongside(const RecoveryPlan& plan, std::vector<RecoveryInput> pieces);
  // Stops the threads (a split that failed or was stopped) and waits for them.
  ~RecoveryAlongside();
  RecoveryAlongside(const RecoveryAlongside&) = delete;
  RecoveryAlongside& operator=(const RecoveryAlongside&) = delete;

  // The next piece is written whole at `path` and no longer written to.
  void Written(const std::filesystem::path& path);
  // After the last piece: waits for the checksums and recovery slices and
  // writes the files as WriteRecoverySet does (progress counts the input
  // bytes multiplied in). False, writing nothing, where a piece read back
  // does not begin as it did beforehand: the source changed meanwhile.
  bool Finish(std::span<const std::uint8_t> descriptor, const std::function<File&(std::size_t output)>& open,
              const Progress& progress);

 private:
  bool Complete(std::span<const std::uint8_t> descriptor, const std::function<File&(std::size_t output)>& open,
                const Progress& progress);
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vokram::recovery
