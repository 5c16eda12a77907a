#include "Verify.h"

#include <algorithm>
#include <array>
#include <span>

#include "Error.h"
#include "File.h"
#include "recovery/Md5Lanes.h"

namespace vokram::recovery {

namespace {

// Slices are judged by MD5 alone: the CRC-32 beside it serves readers that
// look for slices moved from their place, which this one does not. The
// slices of a buffer are hashed side by side, slice s in MD5 lane s % lanes.
class SliceJudge {
 public:
  SliceJudge(const SetFileEntry& file, std::uint64_t sliceSize, FileVerdict& verdict)
      : file_(file), sliceSize_(sliceSize), verdict_(verdict) {}

  void Update(const std::uint8_t* data, std::size_t n) {
    const std::size_t lanes = md5_.Count();
    while (n > 0) {
      // The slices that follow, one per lane, the first perhaps begun in an
      // earlier buffer.
      std::array<std::span<const std::uint8_t>, kMaxMd5Lanes> chunks{};
      std::size_t complete = 0;
      for (std::size_t j = 0; j < lanes && n > 0; ++j) {
        const std::size_t lane = (index_ + j) % lanes;
        if (inSlice_ == 0) md5_.Reset(lane);
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(n, sliceSize_ - inSlice_));
        chunks[lane] = {data, take};
        data += take;
        n -= take;
        inSlice_ += take;
        if (inSlice_ == sliceSize_) {
          ++complete;
          inSlice_ = 0;
        }
      }
      md5_.Update(std::span(chunks.data(), lanes));
      for (; complete > 0; --complete) Judge();
    }
  }
  // At the recorded length: the short last slice, zero-padded.
  void Finish() {
    if (inSlice_ == 0) return;
    static constexpr std::uint8_t kZeros[4096] = {};
    std::array<std::span<const std::uint8_t>, kMaxMd5Lanes> chunks{};
    const std::size_t lane = index_ % md5_.Count();
    for (std::uint64_t left = sliceSize_ - inSlice_; left > 0;) {
      const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof kZeros));
      chunks[lane] = {kZeros, take};
      md5_.Update(std::span(chunks.data(), lane + 1));
      left -= take;
    }
    inSlice_ = 0;
    Judge();
  }

 private:
  void Judge() {
    verdict_.good[index_] = md5_.Digest(index_ % md5_.Count()) == file_.slices[index_].md5;
    ++index_;
  }

  const SetFileEntry& file_;
  std::uint64_t sliceSize_;
  FileVerdict& verdict_;
  Md5Lanes md5_;
  std::uint64_t inSlice_ = 0;  // bytes of slice index_ fed
  std::size_t index_ = 0;      // the first slice not judged
};

FileVerdict VerifyFile(const SetFileEntry& file, std::uint64_t sliceSize, const std::filesystem::path& path,
                       std::uint8_t* buffer, const Progress& progress, std::uint64_t& done, std::uint64_t total) {
  FileVerdict verdict;
  verdict.good.assign(file.slices.size(), false);
  std::optional<File> in;
  try {
    in = File::OpenRead(path);
    verdict.lengthOnDisk = in->Size();
  } catch (const VokError& e) {
    if (e.Code() != ErrorCode::IoFailed) throw;
    return verdict;
  }
  verdict.path = path;
  verdict.condition = FileCondition::Damaged;
  SliceJudge judge(file, sliceSize, verdict);
  const std::uint64_t readable = std::min(verdict.lengthOnDisk, file.length);
  std::uint64_t at = 0;
  try {
    while (at < readable) {
      progress.Step(done, total);
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBufferSize, readable - at));
      if (!in->ReadExact(buffer, n)) break;
      judge.Update(buffer, n);
      at += n;
      done += n;
    }
  } catch (const VokError& e) {
    if (e.Code() != ErrorCode::IoFailed) throw;
  }
  if (at == file.length) judge.Finish();
  const bool allGood = std::all_of(verdict.good.begin(), verdict.good.end(), [](bool g) { return g; });
  if (allGood && verdict.lengthOnDisk == file.length) verdict.condition = FileCondition::Sound;
  return verdict;
}

}  // namespace

bool SetVerdict::AllSound() const {
  return std::all_of(files.begin(), files.end(),
                     [](const FileVerdict& f) { return f.condition == FileCondition::Sound; });
}

std::vector<std::optional<std::filesystem::path>> PathsOfFiles(const RecoverySet& set, const SetMatch& match,
                                                               const std::vector<std::filesystem::path>& paths) {
  std::vector<std::optional<std::filesystem::path>> of(set.files.size());
  for (std::size_t f = 0; f < set.files.size() && f < match.nameOfFile.size(); ++f) {
    if (match.nameOfFile[f] && *match.nameOfFile[f] < paths.size()) of[f] = paths[*match.nameOfFile[f]];
  }
  return of;
}

SetVerdict VerifySet(const RecoverySet& set, const std::vector<std::optional<std::filesystem::path>>& paths,
                     const Progress& progress, const std::vector<bool>& trusted) {
  std::uint64_t total = 0, done = 0;
  for (std::size_t f = 0; f < set.files.size(); ++f) {
    if (f < paths.size() && paths[f]) total += std::min(set.files[f].length, FileLength(*paths[f]).value_or(0));
  }
  SetVerdict verdict;
  const CopyBuffer buffer = MakeCopyBuffer();
  std::vector<std::uint32_t> missing;
  for (std::size_t f = 0; f < set.files.size(); ++f) {
    const SetFileEntry& file = set.files[f];
    if (f < paths.size() && paths[f] && f < trusted.size() && trusted[f]) {
      verdict.files.push_back({FileCondition::Sound, *paths[f], file.length, std::vector<bool>(file.slices.size(), true)});
    } else if (f < paths.size() && paths[f]) {
      verdict.files.push_back(VerifyFile(file, set.sliceSize, *paths[f], buffer.get(), progress, done, total));
    } else {
      verdict.files.push_back({FileCondition::Missing, {}, 0, std::vector<bool>(file.slices.size(), false)});
    }
    const auto& good = verdict.files.back().good;
    for (std::uint32_t s = 0; s < good.size(); ++s) {
      if (!good[s]) missing.push_back(file.firstSlice + s);
    }
  }
  progress.Step(done, total);
  verdict.missingSlices = static_cast<std::uint32_t>(missing.size());
  verdict.recoverySlices = static_cast<std::uint32_t>(set.recovery.size());
  if (missing.empty()) {
    verdict.repairable = true;
    return verdict;
  }
  std::vector<std::uint32_t> available;
  for (const auto& slice : set.recovery) available.push_back(slice.exponent);
  SolveResult solved = SolveMissing(missing, available);
  verdict.tooManyToSolve = solved.tooMany;
  verdict.repairable = solved.solution.has_value();
  if (!solved.tooMany) verdict.blocksNeeded = verdict.missingSlices - solved.rank;
  verdict.solution = std::move(solved.solution);
  return verdict;
}

}  // namespace vokram::recovery
