// Reads the recovery set in a folder, verifies the pieces named and rebuilds
// every piece that is not sound into another folder, reporting the time of
// each step:
//   recovery_repair FOLDER OUTDIR PIECE...
#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "File.h"
#include "recovery/Rebuild.h"
#include "recovery/SetReader.h"
#include "recovery/Verify.h"

using namespace vokram;
using namespace vokram::recovery;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: recovery_repair FOLDER OUTDIR PIECE...\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1], out = argv[2];
  std::vector<std::filesystem::path> setFiles, names, paths;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".par2") setFiles.push_back(entry.path());
  }
  for (int i = 3; i < argc; ++i) names.emplace_back(argv[i]), paths.push_back(folder / argv[i]);

  using Clock = std::chrono::steady_clock;
  const auto seconds = [](auto d) { return std::chrono::duration<double>(d).count(); };
  const auto start = Clock::now();
  const SetReading reading = ReadRecoverySets(setFiles);
  const auto match = MatchSet(reading, names);
  if (!match) {
    std::fprintf(stderr, "no set names the pieces\n");
    return 1;
  }
  const RecoverySet& set = reading.sets[match->set];
  const auto read = Clock::now();
  const SetVerdict verdict = VerifySet(set, PathsOfFiles(set, *match, paths));
  const auto verified = Clock::now();
  if (!verdict.repairable) {
    std::fprintf(stderr, "not repairable: %u more recovery slices needed\n", verdict.blocksNeeded);
    return 1;
  }
  std::deque<File> files;
  std::vector<FileOutput> outputs;
  std::uint64_t rebuiltBytes = 0;
  for (std::uint32_t f = 0; f < set.files.size(); ++f) {
    if (verdict.files[f].condition == FileCondition::Sound || !match->nameOfFile[f]) continue;
    files.push_back(*File::CreateNew(out / names[*match->nameOfFile[f]]));
    outputs.push_back({f, &files.back()});
    rebuiltBytes += set.files[f].length;
  }
  const bool matches = WriteFiles(set, verdict, outputs);
  for (auto& file : files) {
    file.Sync();
    file.Close();
  }
  const auto rebuilt = Clock::now();
  std::printf("slice %llu inputs %u recovery %u missing %u rebuilt %llu read %.3f verify %.3f rebuild %.3f %s\n",
              static_cast<unsigned long long>(set.sliceSize), set.inputSlices, verdict.recoverySlices,
              verdict.missingSlices, static_cast<unsigned long long>(rebuiltBytes), seconds(read - start),
              seconds(verified - read), seconds(rebuilt - verified), matches ? "ok" : "MISMATCH");
  return matches ? 0 : 1;
}
