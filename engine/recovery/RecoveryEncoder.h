// Computes recovery slices from the pieces on disk. Memory stays within a
// limit whatever the sizes: when the recovery slices do not fit at once, the
// encoder makes passes over the pieces, each computing one part of every
// recovery slice (the same part of every input slice, read through File).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "Progress.h"
#include "recovery/Gf16.h"

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
};

// How the encoder divides its work for a slice size and recovery count.
struct EncoderShape {
  std::size_t width = 0;   // bytes of each slice per pass (a multiple of kGfBlock)
  std::size_t batch = 0;   // input slices read before they are applied
  std::uint64_t passes = 0;
};
EncoderShape ShapeEncoder(std::uint64_t sliceSize, std::uint32_t recoverySlices, std::uint32_t inputSlices,
                          const EncoderOptions& options);

// Receives bytes [offset, offset + n) of recovery slice `exponent`. Each pass
// delivers its part of every slice, exponents in order; offsets grow from
// pass to pass.
using RecoverySink =
    std::function<void(std::uint32_t exponent, std::uint64_t offset, const std::uint8_t* data, std::size_t n)>;

// Recovery slices 0 .. recoverySlices - 1 over the inputs' slices, taken in
// the order given (Main's). Throws VokError(IoFailed) for a piece that cannot
// be read or is shorter than its length, VokError(Cancelled) on a stop.
// Progress counts input bytes (padded slices) over all passes.
void EncodeRecovery(const std::vector<EncoderInput>& inputs, std::uint64_t sliceSize, std::uint32_t recoverySlices,
                    const RecoverySink& sink, const Progress& progress = {}, const EncoderOptions& options = {});

}  // namespace vokram::recovery
