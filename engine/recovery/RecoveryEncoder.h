// Computes recovery slices from the pieces on disk. Memory stays within a
// limit whatever the sizes: when the recovery slices do not fit at once, the
// encoder makes passes over the pieces, each computing one part of every
// recovery slice (the same part of every input slice, read through File).
// When they fit, one pass reads every slice whole, several pieces side by
// side, and takes the pieces' checksums on the way in MD5 lanes, while the
// last batch read is multiplied in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "Progress.h"
#include "recovery/Gf16.h"
#include "recovery/Md5Lanes.h"
#include "recovery/RecoveryHash.h"

namespace vokram::recovery {

struct EncoderInput {
  std::filesystem::path path;
  std::uint64_t length = 0;
};

struct EncoderOptions {
  // With the packets and per-slice hashes beside it, a set is written in
  // at most 64 MiB.
  std::size_t memoryLimit = std::size_t{56} << 20;
  unsigned threads = 2;
  GfKernel kernel = ChosenGfKernel();
  Md5Kernel md5 = ChosenMd5Kernel();
};

// How the encoder divides its work for a slice size and recovery count.
struct EncoderShape {
  std::size_t width = 0;   // bytes of each slice per pass (a multiple of kGfBlock)
  std::size_t batch = 0;   // input slices read before they are applied
  std::uint64_t passes = 0;
  // Pieces read side by side, one per MD5 lane, when one pass reads every
  // slice whole: a batch is then a round of the lanes, and two of them fit
  // beside the sums; 0: slices are read one after another in passes and no
  // checksums are taken.
  std::size_t lanes = 0;
};
EncoderShape ShapeEncoder(std::uint64_t sliceSize, std::uint32_t recoverySlices, std::uint32_t inputSlices,
                          const EncoderOptions& options);

// Receives bytes [offset, offset + n) of recovery slice `exponent`. Each pass
// delivers its part of every slice, exponents in order; offsets grow from
// pass to pass.
using RecoverySink =
    std::function<void(std::uint32_t exponent, std::uint64_t offset, const std::uint8_t* data, std::size_t n)>;

// An encoder that runs beside the writer of its inputs reads them as they
// are written (only in one pass).
struct EncoderFeed {
  std::vector<std::size_t> order;  // the inputs in the order they are written
  // Where input i is once written whole; nothing while it is not, unless
  // `wait`, which blocks until it is. Throws to stop the encoder.
  std::function<std::optional<std::filesystem::path>(std::size_t input, bool wait)> take;
};

// Recovery slices 0 .. recoverySlices - 1 over the inputs' slices, numbered
// in the order given (Main's) and read in that order or the feed's. Throws VokError(IoFailed) for a piece that cannot
// be read or is shorter than its length, VokError(Cancelled) on a stop.
// Progress counts input bytes (padded slices) over all passes.
// `checksums`, where given, receives each input's checksums before the first
// call of the sink; only a shape with lanes takes them or a feed
// (std::logic_error otherwise).
void EncodeRecovery(const std::vector<EncoderInput>& inputs, std::uint64_t sliceSize, std::uint32_t recoverySlices,
                    const RecoverySink& sink, const Progress& progress = {}, const EncoderOptions& options = {},
                    std::vector<FileChecksums>* checksums = nullptr, const EncoderFeed* feed = nullptr);

}  // namespace vokram::recovery
