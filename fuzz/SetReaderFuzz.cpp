// Any bytes as a recovery file beside the fuzz pieces, read as a set, matched
// to the pieces' names, verified and, where the verdict says so, rebuilt in
// memory (twice, in passes of different widths). Nothing may be written,
// no piece may change, the verdict must hold together, and the rebuilt bytes
// must not depend on the passes.
#include <cstdlib>
#include <map>

#include "Error.h"
#include "FuzzSupport.h"
#include "recovery/Rebuild.h"
#include "recovery/SetReader.h"
#include "recovery/Verify.h"

namespace {

namespace fs = std::filesystem;
namespace vr = vokram::recovery;

using Listing = std::map<fs::path, std::pair<std::uintmax_t, fs::file_time_type>>;

Listing ListFolder(const fs::path& folder) {
  Listing listing;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::error_code error;
    const auto size = entry.is_regular_file(error) ? fs::file_size(entry.path(), error) : 0;
    listing[entry.path().filename()] = {size, fs::last_write_time(entry.path(), error)};
  }
  return listing;
}

void CheckVerdict(const vr::RecoverySet& set, const vr::SetVerdict& verdict) {
  std::uint32_t bad = 0;
  for (std::size_t f = 0; f < set.files.size(); ++f) {
    const vr::FileVerdict& file = verdict.files[f];
    std::uint32_t fileBad = 0;
    for (const bool good : file.good) fileBad += good ? 0 : 1;
    bad += fileBad;
    if (file.good.size() != set.files[f].slices.size()) std::abort();
    if ((file.condition == vr::FileCondition::Missing) != file.path.empty()) std::abort();
    const bool sound = fileBad == 0 && !file.path.empty() && file.lengthOnDisk == set.files[f].length;
    if ((file.condition == vr::FileCondition::Sound) != sound) std::abort();
  }
  if (bad != verdict.missingSlices || verdict.recoverySlices != set.recovery.size()) std::abort();
  if (verdict.repairable && verdict.blocksNeeded != 0) std::abort();
  if (!verdict.repairable && !verdict.tooManyToSolve && verdict.blocksNeeded == 0) std::abort();
  if (verdict.solution.has_value() != (verdict.repairable && bad > 0)) std::abort();
  if (verdict.solution && verdict.solution->exponents.size() != bad) std::abort();
}

// Every wanted slice's bytes within its file, as delivered; whether they
// matched their checksums.
std::pair<std::map<std::uint32_t, std::string>, bool> Rebuild(const vr::RecoverySet& set, const vr::SetVerdict& verdict,
                                                              std::size_t memory) {
  std::map<std::uint32_t, std::string> slices;
  const bool matches =
      vr::RebuildSlices(set, verdict, verdict.solution->missing,
                        [&](std::uint32_t slice, std::uint64_t offset, const std::uint8_t* data, std::size_t n) {
                          std::string& bytes = slices[slice];
                          if (bytes.size() != offset || n == 0) std::abort();
                          bytes.append(reinterpret_cast<const char*>(data), n);
                        },
                        {}, {memory, 2, vokram::recovery::ChosenGfKernel()});
  return {slices, matches};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace vf = vokram::fuzz;
  const fs::path input = vf::Workspace() / "input.par2";
  vf::Write(input, std::string(reinterpret_cast<const char*>(data), size));
  std::vector<fs::path> names, paths;
  for (const auto& [name, bytes] : vf::Pieces()) names.push_back(fs::u8path(name));
  names.emplace_back("link.000");
  names.emplace_back("hard.000");
  for (const auto& name : names) paths.push_back(vf::Workspace() / name);
  const Listing before = ListFolder(vf::Workspace());

  const vr::SetReading reading = vr::ReadRecoverySets({input});
  if (!reading.unreadable.empty()) std::abort();
  if (const auto match = vr::MatchSet(reading, names)) {
    const vr::RecoverySet& set = reading.sets[match->set];
    const vr::SetVerdict verdict = vr::VerifySet(set, vr::PathsOfFiles(set, *match, paths));
    CheckVerdict(set, verdict);
    if (verdict.solution) {
      const auto narrow = Rebuild(set, verdict, 1);
      if (Rebuild(set, verdict, std::size_t{1} << 20) != narrow) std::abort();
      for (const std::uint32_t slice : verdict.solution->missing) {
        std::size_t f = 0;
        while (f + 1 < set.files.size() && set.files[f + 1].firstSlice <= slice) ++f;
        const std::uint64_t start = std::uint64_t{slice - set.files[f].firstSlice} * set.sliceSize;
        const std::uint64_t expected = std::min(set.sliceSize, set.files[f].length - start);
        if (narrow.first.count(slice) ? narrow.first.at(slice).size() != expected : expected != 0) std::abort();
      }
    }
  }
  if (ListFolder(vf::Workspace()) != before) std::abort();
  for (const auto& [name, bytes] : vf::Pieces()) {
    if (vf::Contents(vf::Workspace() / fs::u8path(name)) != bytes) std::abort();
  }
  return 0;
}
