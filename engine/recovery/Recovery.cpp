#include "Recovery.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <bit>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "recovery/Packets.h"

namespace vokram::recovery {

namespace {

// One volume being written. Its packets go in file order: copies of the
// critical packets spread between the recovery slices, then the descriptor
// and creator packets. When the encoder delivers slices in parts (several
// passes), the first pass writes each slice's first part and leaves room for
// the rest; later passes fill it in and the headers come last, when their
// MD5 is known.
struct Volume {
  const RecoveryOutput* output = nullptr;
  std::size_t index = 0;  // in the plan's outputs
  File* file = nullptr;
  std::uint64_t position = 0;      // where the next packet goes
  std::uint64_t filePosition = 0;  // where the file's pointer is
  std::uint32_t copiesWritten = 0;
  std::vector<std::uint64_t> packetAt;  // each slice's packet
};

class SetWriter {
 public:
  SetWriter(const RecoveryPlan& plan, const SetPackets& packets, const std::function<File&(std::size_t)>& open)
      : plan_(plan), packets_(packets), open_(open), hashes_(plan.recoverySlices) {
    for (std::size_t i = 1; i < plan.outputs.size(); ++i) {
      Volume volume;
      volume.output = &plan.outputs[i];
      volume.index = i;
      volume.packetAt.resize(plan.outputs[i].count);
      volumes_.push_back(std::move(volume));
    }
  }

  void WriteIndex() {
    Volume index;
    index.output = &plan_.outputs[0];
    index.file = &open_(0);
    Put(index, packets_.critical);
    Put(index, packets_.descriptor);
    Put(index, packets_.creator);
    CheckSize(index);
  }

  void Take(std::uint32_t exponent, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
    Volume& volume = VolumeOf(exponent);
    const std::uint32_t slice = exponent - volume.output->firstExponent;
    if (offset == 0) {
      if (slice == 0) volume.file = &open_(volume.index);
      PutCopiesBefore(volume, slice);
      volume.packetAt[slice] = volume.position;
      std::uint8_t number[4];
      for (int i = 0; i < 4; ++i) number[i] = static_cast<std::uint8_t>(exponent >> (8 * i));
      hashes_[exponent] = PacketHash(packets_.setId, kRecvSlicType);
      hashes_[exponent].Update(number, 4);
      hashes_[exponent].Update(data, n);
      if (n == plan_.sliceSize) {
        Put(volume, Header(exponent));
      } else {
        volume.position += kHeaderBytes;
      }
      Put(volume, number);
      Put(volume, {data, n});
      volume.position += plan_.sliceSize - n;
      if (slice + 1 == volume.output->count) {
        PutCopiesBefore(volume, slice + 1);
        Put(volume, packets_.descriptor);
        Put(volume, packets_.creator);
      }
    } else {
      hashes_[exponent].Update(data, n);
      const std::uint64_t end = volume.position;
      volume.position = volume.packetAt[slice] + kHeaderBytes + 4 + offset;
      Put(volume, {data, n});
      volume.position = end;
      if (offset + n == plan_.sliceSize) {
        volume.position = volume.packetAt[slice];
        Put(volume, Header(exponent));
        volume.position = end;
      }
    }
  }

  void Finish() {
    for (const Volume& volume : volumes_) CheckSize(volume);
  }

 private:
  Volume& VolumeOf(std::uint32_t exponent) {
    return *std::partition_point(volumes_.begin(), volumes_.end(), [exponent](const Volume& v) {
      return v.output->firstExponent + v.output->count <= exponent;
    });
  }

  std::array<std::uint8_t, kHeaderBytes> Header(std::uint32_t exponent) const {
    return PacketHeader(packets_.setId, kRecvSlicType, 4 + plan_.sliceSize, hashes_[exponent].Digest());
  }

  // Copy j of c in a volume of k slices goes before slice j * k / c, so the
  // copies are spread over the file as its slices are.
  void PutCopiesBefore(Volume& volume, std::uint32_t slice) {
    const std::uint64_t k = volume.output->count, copies = static_cast<std::uint64_t>(std::bit_width(volume.output->count));
    while (volume.copiesWritten < copies && volume.copiesWritten * k / copies <= slice) {
      Put(volume, packets_.critical);
      ++volume.copiesWritten;
    }
  }

  static void Put(Volume& volume, std::span<const std::uint8_t> bytes) {
    if (volume.filePosition != volume.position) volume.file->Seek(volume.position);
    volume.file->Write(bytes.data(), bytes.size());
    volume.position += bytes.size();
    volume.filePosition = volume.position;
  }

  // The plan counted every byte; a file of another size is a fault here.
  static void CheckSize(const Volume& volume) {
    if (volume.position != volume.output->size) throw std::logic_error("recovery file size differs from its plan");
  }

  const RecoveryPlan& plan_;
  const SetPackets& packets_;
  const std::function<File&(std::size_t)>& open_;
  std::vector<Volume> volumes_;
  std::vector<Md5> hashes_;
};

}  // namespace

bool ChecksumsWhileEncoding(const RecoveryPlan& plan, const EncoderOptions& options) {
  return ShapeEncoder(plan.sliceSize, plan.recoverySlices, plan.inputSlices, options).lanes > 0;
}

void WriteRecoverySet(const RecoveryPlan& plan, const std::vector<RecoveryInput>& inputs,
                      std::span<const std::uint8_t> descriptor, const std::function<File&(std::size_t output)>& open,
                      const Progress& progress, const EncoderOptions& options) {
  const bool whileEncoding = ChecksumsWhileEncoding(plan, options);
  std::vector<Md5Digest> ids;
  for (const auto& input : inputs) {
    if (!whileEncoding && input.sums.slices.size() != SlicesOf(input.sums.length, plan.sliceSize)) {
      throw std::logic_error("checksums of another slice size");
    }
    ids.push_back(FileId(input.sums, input.name));
  }
  std::vector<std::size_t> order(inputs.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&ids](std::size_t a, std::size_t b) { return IdBefore(ids[a], ids[b]); });

  std::vector<Md5Digest> sortedIds;
  std::vector<EncoderInput> encoderInputs;
  for (std::size_t i : order) {
    sortedIds.push_back(ids[i]);
    encoderInputs.push_back({inputs[i].path, inputs[i].sums.length});
  }
  // In Main's order; the encoder's, where it takes them, are complete before
  // its first recovery slice, which is when the packets are first needed.
  std::vector<FileChecksums> taken;
  std::optional<SetPackets> packets;
  std::optional<SetWriter> writer;
  const auto start = [&] {
    std::vector<SetFile> files;
    for (std::size_t k = 0; k < order.size(); ++k) {
      const RecoveryInput& input = inputs[order[k]];
      if (whileEncoding) taken[k].md5First16k = input.sums.md5First16k;
      files.push_back({input.name, whileEncoding ? &taken[k] : &input.sums});
    }
    packets = MakeSetPackets(plan.sliceSize, files, sortedIds, descriptor);
    writer.emplace(plan, *packets, open);
    writer->WriteIndex();
  };
  if (!whileEncoding) start();
  EncodeRecovery(
      encoderInputs, plan.sliceSize, plan.recoverySlices,
      [&](std::uint32_t exponent, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
        if (!writer) start();
        writer->Take(exponent, offset, data, n);
      },
      progress, options, whileEncoding ? &taken : nullptr);
  writer->Finish();
}

namespace {

// The encoder's share of the 64 MiB a split with recovery files keeps within
// when it runs beside the copy, whose buffer needs some of the rest.
constexpr std::size_t kAlongsideEncoderMemory = std::size_t{52} << 20;
// What the pieces read side by side may span and still be in the page cache
// right after they were written, on any machine that runs a split.
constexpr std::uint64_t kReadBackSpan = std::uint64_t{1} << 30;

EncoderOptions AlongsideOptions() {
  EncoderOptions options;
  options.memoryLimit = kAlongsideEncoderMemory;
  return options;
}

}  // namespace

struct RecoveryAlongside::State {
  State(const RecoveryPlan& p, std::vector<RecoveryInput> pieces) : plan(p), inputs(std::move(pieces)) {
    std::vector<Md5Digest> ids;
    for (const RecoveryInput& input : inputs) ids.push_back(FileId(input.sums, input.name));
    std::vector<std::size_t> order(inputs.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&ids](std::size_t a, std::size_t b) { return IdBefore(ids[a], ids[b]); });
    feed.order.resize(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
      mainOrder.push_back(order[k]);
      sortedIds.push_back(ids[order[k]]);
      encoderInputs.push_back({{}, inputs[order[k]].sums.length});
      feed.order[order[k]] = k;  // Main's files in the order they are written
    }
    feed.take = [this](std::size_t k, bool wait) -> std::optional<std::filesystem::path> {
      std::unique_lock lock(mutex);
      const auto ready = [&] { return stop || written.size() > mainOrder[k]; };
      if (wait) changed.wait(lock, ready);
      if (stop) throw VokError(ErrorCode::Cancelled, {});
      if (!ready()) return std::nullopt;
      return written[mainOrder[k]];
    };
    encoder = std::thread([this] { Encode(); });
  }

  void Encode() {
    try {
      const Progress progress{[this](std::uint64_t d, std::uint64_t t) {
                                done = d;
                                total = t;
                              },
                              &stop};
      EncodeRecovery(
          encoderInputs, plan.sliceSize, plan.recoverySlices,
          [this](std::uint32_t exponent, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
            if (!writer) {
              // Every piece is read and hashed: the files wait for the
              // descriptor, written once the copy ends.
              std::unique_lock lock(mutex);
              read = true;
              changed.notify_all();
              changed.wait(lock, [this] { return stop || writer.has_value(); });
              if (stop) throw VokError(ErrorCode::Cancelled, {});
            }
            writer->Take(exponent, offset, data, n);
          },
          progress, AlongsideOptions(), &sums, &feed);
    } catch (...) {
      const std::lock_guard lock(mutex);
      failure = std::current_exception();
    }
    {
      const std::lock_guard lock(mutex);
      finished = true;
    }
    changed.notify_all();
  }

  void Stop() {
    {
      const std::lock_guard lock(mutex);
      stop = true;
    }
    changed.notify_all();
    if (encoder.joinable()) encoder.join();
  }

  const RecoveryPlan& plan;
  const std::vector<RecoveryInput> inputs;  // in the order written
  std::vector<std::size_t> mainOrder;       // the written index of each of Main's files
  std::vector<Md5Digest> sortedIds;
  std::vector<EncoderInput> encoderInputs;  // in Main's order
  EncoderFeed feed;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::filesystem::path> written;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> done{0}, total{0};
  bool read = false;  // every piece, the checksums complete
  bool finished = false;
  std::exception_ptr failure;
  std::vector<FileChecksums> sums;  // the encoder's, in Main's order, complete once it calls the sink
  std::optional<SetPackets> packets;
  std::optional<SetWriter> writer;
  std::thread encoder;
};

bool RecoveryAlongside::Fits(const RecoveryPlan& plan, std::uint64_t largestPiece) {
  const EncoderOptions options = AlongsideOptions();
  return largestPiece * Md5LaneCount(options.md5) <= kReadBackSpan &&
         ShapeEncoder(plan.sliceSize, plan.recoverySlices, plan.inputSlices, options).lanes > 0;
}

RecoveryAlongside::RecoveryAlongside(const RecoveryPlan& plan, std::vector<RecoveryInput> pieces)
    : state_(std::make_unique<State>(plan, std::move(pieces))) {}

RecoveryAlongside::~RecoveryAlongside() { state_->Stop(); }

void RecoveryAlongside::Written(const std::filesystem::path& path) {
  {
    const std::lock_guard lock(state_->mutex);
    state_->written.push_back(path);
  }
  state_->changed.notify_all();
}

bool RecoveryAlongside::Finish(std::span<const std::uint8_t> descriptor,
                               const std::function<File&(std::size_t output)>& open, const Progress& progress) {
  try {
    return Complete(descriptor, open, progress);
  } catch (...) {
    state_->Stop();  // before `open` and what it writes to are gone
    throw;
  }
}

bool RecoveryAlongside::Complete(std::span<const std::uint8_t> descriptor,
                                 const std::function<File&(std::size_t output)>& open, const Progress& progress) {
  State& s = *state_;
  // The encoder's progress is passed on from here, the thread that may call
  // the front end, until it has read every piece (it then waits for the
  // files to write into) or failed.
  const auto waitFor = [&](const auto& until) {
    for (;;) {
      progress.Step(s.done, s.total);
      std::unique_lock lock(s.mutex);
      if (s.changed.wait_for(lock, std::chrono::milliseconds(50), until)) return;
    }
  };
  waitFor([&s] { return s.read || s.finished; });
  if (!s.read) {
    s.encoder.join();
    std::rethrow_exception(s.failure);
  }
  for (std::size_t k = 0; k < s.mainOrder.size(); ++k) {
    if (s.sums[k].md5First16k != s.inputs[s.mainOrder[k]].sums.md5First16k) return false;
  }
  std::vector<SetFile> files;
  for (std::size_t k = 0; k < s.mainOrder.size(); ++k) files.push_back({s.inputs[s.mainOrder[k]].name, &s.sums[k]});
  s.packets = MakeSetPackets(s.plan.sliceSize, files, s.sortedIds, descriptor);
  {
    const std::lock_guard lock(s.mutex);
    s.writer.emplace(s.plan, *s.packets, open);
    s.writer->WriteIndex();
  }
  s.changed.notify_all();
  waitFor([&s] { return s.finished; });
  s.encoder.join();
  if (s.failure) std::rethrow_exception(s.failure);
  s.writer->Finish();
  return true;
}

}  // namespace vokram::recovery
