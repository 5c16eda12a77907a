#include "RecoveryEncoder.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

#include "File.h"
#include "recovery/BatchSums.h"

namespace vokram::recovery {

namespace {

// Reads the same part of consecutive input slices, opening each file in turn.
class SliceReader {
 public:
  SliceReader(const std::vector<EncoderInput>& inputs, std::uint64_t sliceSize)
      : inputs_(inputs), sliceSize_(sliceSize) {}

  // Bytes [offset, offset + n) of the next slice, zero past its file's end,
  // into buffer (n bytes).
  void ReadNext(std::uint64_t offset, std::uint8_t* buffer, std::size_t n) {
    while (!file_ || sliceStart_ >= inputs_[index_].length) {
      if (file_) ++index_;
      file_ = File::OpenRead(inputs_[index_].path);
      sliceStart_ = 0;
      position_ = 0;
    }
    const std::uint64_t length = inputs_[index_].length;
    const std::uint64_t at = sliceStart_ + offset;
    std::size_t got = 0;
    if (at < length) {
      got = static_cast<std::size_t>(std::min<std::uint64_t>(n, length - at));
      if (position_ != at) file_->Seek(at);
      if (!file_->ReadExact(buffer, got)) throw VokError(ErrorCode::IoFailed, file_->Path(), Cause::SourceEndedEarly);
      position_ = at + got;
    }
    std::memset(buffer + got, 0, n - got);
    sliceStart_ += sliceSize_;
  }

 private:
  const std::vector<EncoderInput>& inputs_;
  std::uint64_t sliceSize_;
  std::size_t index_ = 0;
  std::optional<File> file_;
  std::uint64_t sliceStart_ = 0;
  std::uint64_t position_ = 0;
};

}  // namespace

EncoderShape ShapeEncoder(std::uint64_t sliceSize, std::uint32_t recoverySlices, std::uint32_t inputSlices,
                          const EncoderOptions& options) {
  EncoderShape shape;
  if (recoverySlices == 0 || inputSlices == 0) return shape;
  const std::size_t stride = GfPreparedBytes(options.kernel);
  const std::size_t r = recoverySlices;
  std::size_t batch = std::clamp<std::size_t>(kPreparedBudget / (r * stride), 1, std::min<std::size_t>(kMaxBatch, inputSlices));
  std::size_t width = 0;
  for (;;) {
    // The recovery slices' parts, the batch's inputs, one raw buffer and the
    // prepared factors.
    const std::size_t prepared = batch * r * stride;
    const std::size_t left = options.memoryLimit > prepared ? options.memoryLimit - prepared : 0;
    width = left / (r + batch + 1) / kGfBlock * kGfBlock;
    if (width >= kGfBlock || batch == 1) break;
    batch = std::max<std::size_t>(1, batch / 2);
  }
  shape.width = std::clamp(width, kGfBlock, RoundUpToBlock(sliceSize));
  shape.batch = batch;
  shape.passes = (sliceSize + shape.width - 1) / shape.width;
  return shape;
}

void EncodeRecovery(const std::vector<EncoderInput>& inputs, std::uint64_t sliceSize, std::uint32_t recoverySlices,
                    const RecoverySink& sink, const Progress& progress, const EncoderOptions& options) {
  std::uint64_t total = 0;
  for (const auto& input : inputs) total += (input.length + sliceSize - 1) / sliceSize;
  const auto inputSlices = static_cast<std::uint32_t>(total);
  total *= sliceSize;
  const EncoderShape shape = ShapeEncoder(sliceSize, recoverySlices, inputSlices, options);
  if (shape.passes == 0) return;

  const std::size_t width = shape.width, r = recoverySlices;
  const Buffer recovery = Allocate(r * width), batchInputs = Allocate(shape.batch * width), raw = Allocate(width);
  const Buffer prepared = Allocate(shape.batch * r * GfPreparedBytes(options.kernel));
  std::vector<std::uint32_t> slices(shape.batch);
  const unsigned threads = std::clamp<unsigned>(options.threads, 1, recoverySlices);
  std::uint64_t done = 0;

  for (std::uint64_t pass = 0; pass < shape.passes; ++pass) {
    const std::uint64_t offset = pass * width;
    const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(width, sliceSize - offset));
    const std::size_t span = RoundUpToBlock(part);
    std::memset(recovery.get(), 0, r * width);
    SliceReader reader(inputs, sliceSize);
    for (std::uint32_t next = 0; next < inputSlices;) {
      progress.Step(done, total);
      BatchSums batch{options.kernel, width, span, shape.batch, 0, slices.data(), nullptr, batchInputs.get(),
                      prepared.get(), recovery.get()};
      for (; batch.count < shape.batch && next < inputSlices; ++batch.count, ++next) {
        reader.ReadNext(offset, raw.get(), part);
        std::memset(raw.get() + part, 0, span - part);
        ToWorkingLayout(batchInputs.get() + batch.count * width, raw.get(), span);
        slices[batch.count] = next;
      }
      batch.RunAll(recoverySlices, threads);
      done += std::uint64_t{batch.count} * part;
    }
    for (std::uint32_t e = 0; e < recoverySlices; ++e) {
      FromWorkingLayout(raw.get(), recovery.get() + e * width, span);
      sink(e, offset, raw.get(), part);
    }
  }
  progress.Step(total, total);
}

}  // namespace vokram::recovery
