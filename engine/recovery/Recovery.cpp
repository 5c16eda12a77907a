#include "Recovery.h"

#include <algorithm>
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

}  // namespace vokram::recovery
