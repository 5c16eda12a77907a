#include "Rebuild.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <thread>

#include "Error.h"
#include "recovery/BatchSums.h"

namespace vokram::recovery {

namespace {

// Reads parts of files, keeping the last one open.
class PartReader {
 public:
  // Bytes [at, at + n) of the file, zero from `end` on, into buffer.
  void Read(const std::filesystem::path& path, std::uint64_t at, std::uint64_t end, std::uint8_t* buffer,
            std::size_t n) {
    if (!file_ || file_->Path() != path) {
      file_ = File::OpenRead(path);
      position_ = 0;
    }
    std::size_t got = 0;
    if (at < end) {
      got = static_cast<std::size_t>(std::min<std::uint64_t>(n, end - at));
      if (position_ != at) file_->Seek(at);
      if (!file_->ReadExact(buffer, got)) throw VokError(ErrorCode::IoFailed, path, Cause::SourceEndedEarly);
      position_ = at + got;
    }
    std::memset(buffer + got, 0, n - got);
  }

 private:
  std::optional<File> file_;
  std::uint64_t position_ = 0;
};

std::uint32_t FileOfSlice(const RecoverySet& set, std::uint32_t slice) {
  const auto after = std::upper_bound(set.files.begin(), set.files.end(), slice,
                                      [](std::uint32_t s, const SetFileEntry& f) { return s < f.firstSlice; });
  // Files of no slices share their firstSlice with the next: the last of
  // those is the one that holds it.
  return static_cast<std::uint32_t>(after - set.files.begin() - 1);
}

struct KnownSlice {
  std::uint32_t slice;
  std::uint32_t file;
  std::uint64_t start;  // in its file
};

std::vector<KnownSlice> KnownSlices(const RecoverySet& set, const SetVerdict& verdict) {
  std::vector<KnownSlice> known;
  for (std::uint32_t f = 0; f < set.files.size(); ++f) {
    const auto& good = verdict.files[f].good;
    for (std::uint32_t s = 0; s < good.size(); ++s) {
      if (good[s]) known.push_back({set.files[f].firstSlice + s, f, std::uint64_t{s} * set.sliceSize});
    }
  }
  return known;
}

std::uint64_t RebuildTotal(const RecoverySet& set, const SetVerdict& verdict, std::size_t known) {
  const std::size_t m = verdict.solution ? verdict.solution->missing.size() : 0;
  return (std::uint64_t{known} + m) * set.sliceSize;
}

// The smallest batch the shape takes to read each slice only once.
constexpr std::size_t kSmallestOnePassBatch = 8;

struct Shape {
  std::size_t width = 0;
  std::size_t batch = 0;
  std::uint64_t passes = 0;
};

// The recovery slices' parts (less the known slices' share), a batch of
// known slices, two raw buffers and the batch's prepared factors.
Shape ShapeRebuild(std::uint64_t sliceSize, std::size_t m, std::size_t known, const RebuildOptions& options) {
  const std::size_t stride = GfPreparedBytes(options.kernel);
  const std::size_t coefficients = m * m * sizeof(std::uint16_t);
  Shape shape;
  shape.batch =
      std::clamp<std::size_t>(kPreparedBudget / (m * stride), 1, std::clamp<std::size_t>(known, 1, kMaxBatch));
  std::size_t width = 0;
  for (;;) {
    const std::size_t fixed = coefficients + shape.batch * m * stride;
    const std::size_t left = options.memoryLimit > fixed ? options.memoryLimit - fixed : 0;
    width = left / (m + shape.batch + 2) / kGfBlock * kGfBlock;
    // A smaller batch, down to a few slices, is worth one pass instead of two.
    const bool onePass = width >= RoundUpToBlock(sliceSize);
    if ((width >= kGfBlock && (onePass || shape.batch <= kSmallestOnePassBatch)) || shape.batch == 1) break;
    shape.batch = std::max<std::size_t>(1, shape.batch / 2);
  }
  shape.width = std::clamp(width, kGfBlock, RoundUpToBlock(sliceSize));
  shape.passes = (sliceSize + shape.width - 1) / shape.width;
  return shape;
}

}  // namespace

bool RebuildSlices(const RecoverySet& set, const SetVerdict& verdict, const std::vector<std::uint32_t>& wanted,
                   const RebuiltSink& sink, const Progress& progress, const RebuildOptions& options,
                   const RebuildFeed* feed) {
  if (wanted.empty()) return true;
  if (!verdict.solution) throw std::logic_error("no solution to rebuild with");
  const Solution& solution = *verdict.solution;
  const std::size_t m = solution.missing.size();
  const std::uint64_t sliceSize = set.sliceSize;

  std::vector<std::size_t> rows;
  for (const std::uint32_t slice : wanted) {
    const auto at = std::lower_bound(solution.missing.begin(), solution.missing.end(), slice);
    if (at == solution.missing.end() || *at != slice) throw std::logic_error("a wanted slice is not missing");
    rows.push_back(static_cast<std::size_t>(at - solution.missing.begin()));
  }
  std::vector<const RecoverySliceAt*> sources;
  for (const std::uint32_t exponent : solution.exponents) {
    const auto at = std::lower_bound(set.recovery.begin(), set.recovery.end(), exponent,
                                     [](const RecoverySliceAt& r, std::uint32_t e) { return r.exponent < e; });
    if (at == set.recovery.end() || at->exponent != exponent) throw std::logic_error("a solution of another set");
    sources.push_back(&*at);
  }
  std::vector<KnownSlice> known = KnownSlices(set, verdict);
  std::vector<bool> awaited(set.files.size(), !feed);
  if (feed) {
    std::vector<std::size_t> rank(set.files.size(), feed->order.size());
    for (std::size_t k = 0; k < feed->order.size(); ++k) rank[feed->order[k]] = k;
    std::stable_sort(known.begin(), known.end(),
                     [&rank](const KnownSlice& a, const KnownSlice& b) { return rank[a.file] < rank[b.file]; });
  }

  const Shape shape = ShapeRebuild(sliceSize, m, known.size(), options);
  const std::size_t width = shape.width, stride = GfPreparedBytes(options.kernel);
  const Buffer sums = Allocate(m * width), inputs = Allocate(shape.batch * width), raw = Allocate(width),
               result = Allocate(width), prepared = Allocate(shape.batch * m * stride);
  std::vector<std::uint32_t> batchSlices(shape.batch);
  std::vector<Md5> hashes(wanted.size());
  const unsigned threads = static_cast<unsigned>(std::clamp<std::size_t>(options.threads, 1, m));
  const std::uint64_t total = RebuildTotal(set, verdict, known.size());
  std::uint64_t done = 0;

  for (std::uint64_t pass = 0; pass < shape.passes; ++pass) {
    const std::uint64_t offset = pass * width;
    const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(width, sliceSize - offset));
    const std::size_t span = RoundUpToBlock(part);
    std::memset(raw.get() + part, 0, span - part);
    PartReader reader;
    for (std::size_t k = 0; k < m; ++k) {
      progress.Step(done, total);
      reader.Read(set.volumes[sources[k]->volume], sources[k]->offset + offset,
                  std::numeric_limits<std::uint64_t>::max(), raw.get(), part);
      ToWorkingLayout(sums.get() + k * width, raw.get(), span);
      done += part;
    }
    for (std::size_t next = 0; next < known.size();) {
      progress.Step(done, total);
      // Takes a batch of known slices out of every chosen recovery slice's part.
      BatchSums batch{options.kernel, width,        span,           shape.batch, 0, batchSlices.data(),
                      solution.exponents.data(), inputs.get(), prepared.get(), sums.get()};
      for (; batch.count < shape.batch && next < known.size(); ++batch.count, ++next) {
        const KnownSlice& slice = known[next];
        if (!awaited[slice.file]) {
          feed->await(slice.file);
          awaited[slice.file] = true;
        }
        reader.Read(verdict.files[slice.file].path, slice.start + offset, set.files[slice.file].length, raw.get(),
                    part);
        ToWorkingLayout(inputs.get() + batch.count * width, raw.get(), span);
        batchSlices[batch.count] = slice.slice;
      }
      batch.RunAll(m, threads);
      done += std::uint64_t{batch.count} * part;
    }
    for (std::size_t t = 0; t < wanted.size(); ++t) {
      std::memset(result.get(), 0, span);
      for (std::size_t k = 0; k < m; ++k) {
        GfPrepare(options.kernel, solution.Coefficient(rows[t], k), prepared.get());
        GfMultiplyAdd(options.kernel, result.get(), sums.get() + k * width, span, prepared.get());
      }
      FromWorkingLayout(raw.get(), result.get(), span);
      hashes[t].Update(raw.get(), part);
      const SetFileEntry& file = set.files[FileOfSlice(set, wanted[t])];
      const std::uint64_t inFile =
          std::min(sliceSize, file.length - std::uint64_t{wanted[t] - file.firstSlice} * sliceSize);
      if (offset < inFile)
        sink(wanted[t], offset, raw.get(), static_cast<std::size_t>(std::min<std::uint64_t>(part, inFile - offset)));
    }
  }
  progress.Step(total, total);
  bool matches = true;
  for (std::size_t t = 0; t < wanted.size(); ++t) {
    const SetFileEntry& file = set.files[FileOfSlice(set, wanted[t])];
    matches = matches && hashes[t].Digest() == file.slices[wanted[t] - file.firstSlice].md5;
  }
  return matches;
}

bool WriteFiles(const RecoverySet& set, const SetVerdict& verdict, const std::vector<FileOutput>& outputs,
                const Progress& progress, const RebuildOptions& options) {
  const std::uint64_t sliceSize = set.sliceSize;
  std::vector<std::uint32_t> wanted;
  std::vector<std::optional<std::size_t>> outputOf(set.files.size());
  std::uint64_t copyTotal = 0;
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    const SetFileEntry& file = set.files[outputs[o].file];
    const auto& good = verdict.files[outputs[o].file].good;
    outputOf[outputs[o].file] = o;
    for (std::uint32_t s = 0; s < good.size(); ++s) {
      const std::uint64_t start = std::uint64_t{s} * sliceSize;
      if (good[s])
        copyTotal += std::min(sliceSize, file.length - start);
      else
        wanted.push_back(file.firstSlice + s);
    }
  }
  std::sort(wanted.begin(), wanted.end());
  const std::uint64_t rebuildTotal = wanted.empty() ? 0 : RebuildTotal(set, verdict, KnownSlices(set, verdict).size());
  std::vector<std::uint64_t> positions(outputs.size(), 0);
  const auto put = [&](std::size_t o, std::uint64_t at, const std::uint8_t* data, std::size_t n) {
    if (positions[o] != at) outputs[o].out->Seek(at);
    outputs[o].out->Write(data, n);
    positions[o] = at + n;
  };

  const CopyBuffer buffer = MakeCopyBuffer();
  std::uint64_t copied = 0;
  for (std::size_t o = 0; o < outputs.size(); ++o) {
    const SetFileEntry& file = set.files[outputs[o].file];
    const FileVerdict& found = verdict.files[outputs[o].file];
    PartReader reader;
    for (std::uint32_t s = 0; s < found.good.size(); ++s) {
      if (!found.good[s]) continue;
      const std::uint64_t start = std::uint64_t{s} * sliceSize, end = std::min(start + sliceSize, file.length);
      for (std::uint64_t at = start; at < end;) {
        progress.Step(copied, copyTotal + rebuildTotal);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBufferSize, end - at));
        reader.Read(found.path, at, end, buffer.get(), n);
        put(o, at, buffer.get(), n);
        at += n;
        copied += n;
      }
    }
  }
  const Progress rebuilding{[&](std::uint64_t done, std::uint64_t total) {
                              if (progress.onProgress) progress.onProgress(copyTotal + done, copyTotal + total);
                            },
                            progress.stop};
  return RebuildSlices(
      set, verdict, wanted,
      [&](std::uint32_t slice, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
        const std::uint32_t f = FileOfSlice(set, slice);
        put(*outputOf[f], std::uint64_t{slice - set.files[f].firstSlice} * sliceSize + offset, data, n);
      },
      rebuilding, options);
}

}  // namespace vokram::recovery
