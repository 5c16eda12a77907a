#include "RecoveryEncoder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <thread>

#include "File.h"
#include "recovery/BatchSums.h"
#include "recovery/Crc32.h"

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

// A round reads this much of each lane's slice before hashing it: sixteen
// lanes' worth stays within a second-level cache.
constexpr std::size_t kReadPart = std::size_t{32} << 10;
static_assert(kReadPart % kGfBlock == 0, "parts go into the working layout whole");

// Reads whole slices of several pieces side by side, one piece per MD5 lane,
// longest first so that the lanes run dry together, or where a feed gives
// them, as they are written; a lane takes the next piece when its own ends.
// Each round reads one slice of every lane's piece into the caller's buffer,
// in the working layout, and, when asked, takes the slices' checksums and
// the pieces' MD5s.
class LaneReader {
 public:
  LaneReader(const std::vector<EncoderInput>& inputs, std::uint64_t sliceSize, std::size_t lanes, Md5Kernel kernel,
             std::vector<FileChecksums>* sums, const EncoderFeed* feed)
      : inputs_(inputs), sliceSize_(sliceSize), span_(RoundUpToBlock(sliceSize)), sums_(sums), feed_(feed),
        files_(kernel), slices_(kernel), padding_(kernel) {
    std::uint32_t first = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      firstSlice_.push_back(first);
      first += static_cast<std::uint32_t>((inputs[i].length + sliceSize - 1) / sliceSize);
      if (inputs[i].length > 0) queue_.push_back(i);
    }
    if (feed) {
      queue_.clear();
      for (std::size_t i : feed->order) {
        if (inputs[i].length > 0) queue_.push_back(i);
      }
    } else {
      std::stable_sort(queue_.begin(), queue_.end(),
                       [&inputs](std::size_t a, std::size_t b) { return inputs[a].length > inputs[b].length; });
    }
    lanes_.resize(std::min({lanes, queue_.size(), files_.Count()}));
    if (sums_) {
      sums_->assign(inputs.size(), {});
      for (std::size_t i = 0; i < inputs.size(); ++i) {
        (*sums_)[i].length = inputs[i].length;
        if (inputs[i].length == 0) (*sums_)[i].md5 = (*sums_)[i].md5First16k = Md5Of({});
      }
    }
  }

  // The next round: slice k of it at into + k * span, its number in the set
  // at numbers[k], for k below the count returned (at most the lanes; 0
  // once every slice was read).
  std::size_t Read(std::uint8_t* into, std::uint32_t* numbers) {
    TakePieces();
    std::size_t count = 0;
    std::array<std::uint8_t*, kMaxMd5Lanes> bytes{};
    std::array<std::size_t, kMaxMd5Lanes> got{};
    std::array<std::uint32_t, kMaxMd5Lanes> crc{};
    std::array<std::span<const std::uint8_t>, kMaxMd5Lanes> part{};
    for (std::size_t l = 0; l < lanes_.size(); ++l) {
      Lane& lane = lanes_[l];
      if (!lane.file) continue;
      bytes[l] = into + count * span_;
      numbers[count++] = firstSlice_[lane.input] + lane.slice++;
      got[l] = static_cast<std::size_t>(std::min(sliceSize_, inputs_[lane.input].length - lane.at));
      if (sums_) slices_.Reset(l);
    }
    // Every lane's slice a part at a time, each part hashed and then put
    // into the working layout where it stands while all of them stay in the
    // second-level cache; the last part with the slice's zero padding.
    for (std::size_t from = 0; from < sliceSize_; from += kReadPart) {
      bool any = false;
      for (std::size_t l = 0; l < lanes_.size(); ++l) {
        Lane& lane = lanes_[l];
        const std::size_t n = got[l] > from ? std::min(kReadPart, got[l] - from) : 0;
        part[l] = {};
        if (n == 0) continue;
        if (!lane.file->ReadExact(bytes[l] + from, n)) {
          throw VokError(ErrorCode::IoFailed, lane.file->Path(), Cause::SourceEndedEarly);
        }
        part[l] = {bytes[l] + from, n};
        any = true;
        if (!sums_) continue;
        const std::uint64_t at = lane.at + from;
        if (at < kFirstBytesHashed) {
          lane.first.Update(bytes[l] + from,
                            static_cast<std::size_t>(std::min<std::uint64_t>(n, kFirstBytesHashed - at)));
        }
        crc[l] = UpdateCrc32(crc[l], bytes[l] + from, n);
      }
      if (!any) break;
      // The piece's hash and the slice's take the same bytes in one pass.
      if (sums_) slices_.Update(std::span(part.data(), lanes_.size()), &files_);
      for (std::size_t l = 0; l < lanes_.size(); ++l) {
        if (part[l].empty()) continue;
        std::size_t end = from + part[l].size();
        if (end == got[l]) {
          std::memset(bytes[l] + end, 0, span_ - end);
          end = span_;
        }
        ToWorkingLayout(bytes[l] + from, bytes[l] + from, end - from);
      }
    }
    for (std::size_t l = 0; l < lanes_.size(); ++l) {
      Lane& lane = lanes_[l];
      if (!lane.file) continue;
      lane.at += got[l];
      const bool ends = lane.at == inputs_[lane.input].length;
      if (sums_) {
        FileChecksums& sums = (*sums_)[lane.input];
        // The slice's own checksums go on over its zero padding, its MD5
        // later with others' (PadSlices).
        const auto zeros = static_cast<std::size_t>(sliceSize_) - got[l];
        sums.slices.push_back({zeros ? Md5Digest{} : slices_.Digest(l), UpdateCrc32Zeros(crc[l], zeros)});
        if (zeros) pads_.push_back({slices_.Stream(l), zeros, lane.input, sums.slices.size() - 1});
        if (ends) {
          sums.md5 = files_.Digest(l);
          sums.md5First16k = lane.first.Digest();
        }
      }
      if (ends) lane.file.reset();
    }
    if (pads_.size() >= padding_.Count()) PadSlices();
    return count;
  }

  // Completes the checksums once every slice was read.
  void Finish() {
    if (sums_) PadSlices();
  }

 private:
  struct Lane {
    std::size_t input = 0;
    std::optional<File> file;  // none: the lane is idle
    std::uint64_t at = 0;
    std::uint32_t slice = 0;  // in the piece
    Md5 first;                // of its first kFirstBytesHashed bytes
  };

  // Idle lanes take the next pieces. From a feed, only those written by now
  // while half the lanes or more are busy; below that a piece is awaited
  // until the copy has written it: a round costs as much with one busy lane
  // as with all, so rounds do not hash along behind the copy a piece or two
  // at a time, nor wait for a piece while most lanes have work.
  void TakePieces() {
    auto busy = static_cast<std::size_t>(
        std::count_if(lanes_.begin(), lanes_.end(), [](const Lane& x) { return x.file.has_value(); }));
    for (std::size_t l = 0; l < lanes_.size() && next_ < queue_.size(); ++l) {
      Lane& lane = lanes_[l];
      if (lane.file) continue;
      std::optional<std::filesystem::path> path = inputs_[queue_[next_]].path;
      if (feed_) {
        path = feed_->take(queue_[next_], 2 * busy < lanes_.size());
        if (!path) return;
      }
      ++busy;
      lane.input = queue_[next_++];
      lane.file = File::OpenRead(*path);
      lane.at = 0;
      lane.slice = 0;
      lane.first = Md5();
      files_.Reset(l);
    }
  }

  // The zero padding of slices that end short of the slice size, hashed in
  // lanes: about one such slice ends in a round, and would hash alone.
  void PadSlices() {
    static const std::array<std::uint8_t, std::size_t{64} << 10> kZeros{};
    for (std::size_t first = 0; first < pads_.size(); first += padding_.Count()) {
      const std::size_t n = std::min(padding_.Count(), pads_.size() - first);
      for (std::size_t i = 0; i < n; ++i) padding_.Load(i, pads_[first + i].stream);
      for (bool more = true; more;) {
        more = false;
        std::array<std::span<const std::uint8_t>, kMaxMd5Lanes> zeros{};
        for (std::size_t i = 0; i < n; ++i) {
          std::size_t& left = pads_[first + i].zeros;
          zeros[i] = std::span(kZeros).first(std::min(left, kZeros.size()));
          left -= zeros[i].size();
          more = more || !zeros[i].empty();
        }
        padding_.Update(std::span(zeros.data(), n));
      }
      for (std::size_t i = 0; i < n; ++i) {
        const Pad& pad = pads_[first + i];
        (*sums_)[pad.input].slices[pad.slice].md5 = padding_.Digest(i);
      }
    }
    pads_.clear();
  }

  const std::vector<EncoderInput>& inputs_;
  std::uint64_t sliceSize_;
  std::size_t span_;
  std::vector<FileChecksums>* sums_;
  const EncoderFeed* feed_;
  std::vector<std::uint32_t> firstSlice_;
  std::vector<std::size_t> queue_;  // inputs by length, longest first
  std::size_t next_ = 0;            // in queue_
  std::vector<Lane> lanes_;
  Md5Lanes files_, slices_, padding_;
  // Slices whose MD5 awaits their zero padding.
  struct Pad {
    Md5 stream;
    std::size_t zeros;
    std::size_t input, slice;  // the slice's place in *sums_
  };
  std::vector<Pad> pads_;
};

// The batch passes take, at most: a larger one narrows each pass's part.
constexpr std::size_t kPassBatch = 8;

// Work units a batch is cut into, per thread: enough that the threads finish
// a batch close together however the reading went.
constexpr std::size_t kUnitsPerThread = 4;

// One pass over whole slices. The calling thread reads (and hashes) the next
// batch while the helpers multiply the last one into the sums, then joins
// them: the work is handed out in units of a tile of some sums.
void EncodeInLanes(const std::vector<EncoderInput>& inputs, std::uint64_t sliceSize, std::uint32_t recoverySlices,
                   std::uint32_t inputSlices, const EncoderShape& shape, const RecoverySink& sink,
                   const Progress& progress, const EncoderOptions& options, std::vector<FileChecksums>* checksums,
                   const EncoderFeed* feed) {
  const std::size_t width = shape.width, r = recoverySlices, stride = GfPreparedBytes(options.kernel);
  const Buffer recovery = Allocate(r * width);
  std::memset(recovery.get(), 0, r * width);
  // A round of the lanes is a batch: read into one buffer set while the
  // last is multiplied in from the other.
  const Buffer batchInputs[2] = {Allocate(shape.batch * width), Allocate(shape.batch * width)};
  const Buffer prepared[2] = {Allocate(shape.batch * r * stride), Allocate(shape.batch * r * stride)};
  std::vector<std::uint32_t> slices[2] = {std::vector<std::uint32_t>(shape.batch),
                                          std::vector<std::uint32_t>(shape.batch)};
  LaneReader reader(inputs, sliceSize, shape.batch, options.md5, checksums, feed);
  const std::uint64_t total = std::uint64_t{inputSlices} * sliceSize;
  std::uint64_t done = 0;
  // The next batch into buffer set `which`, with its factors prepared.
  const auto read = [&](std::size_t which) {
    progress.Step(done, total);
    BatchSums batch{options.kernel,         width, width, shape.batch, 0, slices[which].data(), nullptr,
                    batchInputs[which].get(), prepared[which].get(), recovery.get()};
    batch.count = reader.Read(batchInputs[which].get(), slices[which].data());
    batch.Prepare(0, r);
    done += std::uint64_t{batch.count} * sliceSize;
    return batch;
  };

  const unsigned threads = std::max(options.threads, 1u);
  const std::size_t tiles = (width + kTile - 1) / kTile;
  const std::size_t groups = std::clamp<std::size_t>((kUnitsPerThread * threads + tiles - 1) / tiles, 1, r);
  const std::size_t units = tiles * groups;
  BatchSums current = read(0);
  for (std::size_t which = 0; current.count > 0; which ^= 1) {
    std::atomic<std::size_t> taken{0};
    const auto work = [&taken, &current, units, groups, r, width] {
      for (std::size_t u = taken++; u < units; u = taken++) {
        const std::size_t from = u / groups * kTile, g = u % groups;
        current.Apply(r * g / groups, r * (g + 1) / groups, from, std::min(width, from + kTile));
      }
    };
    const unsigned used = std::uint64_t{current.count} * width * r >= kThreadedWork ? threads : 1;
    std::vector<std::thread> helpers;
    const auto join = [&helpers] {
      for (auto& helper : helpers) helper.join();
    };
    BatchSums following = current;
    try {
      for (unsigned t = 1; t < used; ++t) helpers.emplace_back(work);
      following = read(which ^ 1);
    } catch (...) {
      taken = units;
      join();
      throw;
    }
    work();
    join();
    current = following;
  }
  reader.Finish();
  progress.Step(total, total);
  std::uint8_t* const raw = batchInputs[0].get();
  for (std::uint32_t e = 0; e < recoverySlices; ++e) {
    FromWorkingLayout(raw, recovery.get() + e * width, width);
    sink(e, 0, raw, static_cast<std::size_t>(sliceSize));
  }
}

}  // namespace

EncoderShape ShapeEncoder(std::uint64_t sliceSize, std::uint32_t recoverySlices, std::uint32_t inputSlices,
                          const EncoderOptions& options) {
  EncoderShape shape;
  if (recoverySlices == 0 || inputSlices == 0) return shape;
  const std::size_t stride = GfPreparedBytes(options.kernel);
  const std::size_t r = recoverySlices;
  // One pass in rounds of a slice per lane, each a batch read into one of
  // two buffer sets while the other is multiplied in: as many lanes as the
  // two leave room for beside the sums.
  const std::size_t span = RoundUpToBlock(sliceSize);
  for (std::size_t lanes = Md5LaneCount(options.md5); lanes > 0; lanes /= 2) {
    if ((r + 2 * lanes) * span + 2 * lanes * r * stride <= options.memoryLimit) {
      shape.width = span;
      shape.batch = shape.lanes = lanes;
      shape.passes = 1;
      return shape;
    }
  }
  // Otherwise passes over a part of every slice at a time.
  std::size_t batch = std::clamp<std::size_t>(kPreparedBudget / (r * stride), 1, std::min<std::size_t>(kMaxBatch, inputSlices));
  std::size_t width = 0;
  for (;;) {
    // The recovery slices' parts, the batch's inputs, one raw buffer and the
    // prepared factors.
    const std::size_t prepared = batch * r * stride;
    const std::size_t left = options.memoryLimit > prepared ? options.memoryLimit - prepared : 0;
    width = left / (r + batch + 1) / kGfBlock * kGfBlock;
    // A smaller batch, down to a few slices, leaves wider parts and so
    // fewer passes.
    if ((width >= kGfBlock && batch <= kPassBatch) || batch == 1) break;
    batch = std::max<std::size_t>(1, batch / 2);
  }
  shape.width = std::clamp(width, kGfBlock, span);
  shape.batch = batch;
  shape.passes = (sliceSize + shape.width - 1) / shape.width;
  return shape;
}

void EncodeRecovery(const std::vector<EncoderInput>& inputs, std::uint64_t sliceSize, std::uint32_t recoverySlices,
                    const RecoverySink& sink, const Progress& progress, const EncoderOptions& options,
                    std::vector<FileChecksums>* checksums, const EncoderFeed* feed) {
  std::uint64_t total = 0;
  for (const auto& input : inputs) total += (input.length + sliceSize - 1) / sliceSize;
  const auto inputSlices = static_cast<std::uint32_t>(total);
  total *= sliceSize;
  const EncoderShape shape = ShapeEncoder(sliceSize, recoverySlices, inputSlices, options);
  if ((checksums || feed) && shape.lanes == 0) throw std::logic_error("an encoder that makes passes takes no checksums");
  if (shape.lanes > 0) {
    EncodeInLanes(inputs, sliceSize, recoverySlices, inputSlices, shape, sink, progress, options, checksums, feed);
    return;
  }
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
