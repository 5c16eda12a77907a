// Writes a recovery set for pieces already on disk, as a split will after
// cutting them, and reports the plan and the time of each step:
//   recovery_write FOLDER BASE LOSSES LARGEST PIECE...
// The pieces are named relative to FOLDER; the set is written there.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "File.h"
#include "recovery/Recovery.h"

using namespace vokram;
using namespace vokram::recovery;

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: recovery_write FOLDER BASE LOSSES LARGEST PIECE...\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  RecoveryRequest request;
  request.losses = static_cast<std::uint32_t>(std::stoul(argv[3]));
  request.largestFile = std::stoull(argv[4]);
  for (int i = 5; i < argc; ++i) {
    request.names.emplace_back(argv[i]);
    request.lengths.push_back(*FileLength(folder / argv[i]));
  }
  const auto plan = PlanRecovery(request, argv[2]);
  if (!plan) {
    std::fprintf(stderr, "no layout fits\n");
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<RecoveryInput> inputs;
  const CopyBuffer buffer = MakeCopyBuffer();
  // As a split: where the set takes the checksums itself, only the first
  // 16 KiB of each piece are hashed beforehand.
  const bool whileEncoding = ChecksumsWhileEncoding(*plan);
  for (std::size_t i = 0; i < request.names.size(); ++i) {
    const std::string& name = request.names[i];
    File file = File::OpenRead(folder / name);
    if (whileEncoding) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(request.lengths[i], kFirstBytesHashed));
      if (!file.ReadExact(buffer.get(), n)) return 1;
      inputs.push_back({name, folder / name, FirstBytesChecksums(request.lengths[i], {buffer.get(), n})});
      continue;
    }
    FileHasher hasher(plan->sliceSize);
    while (const std::size_t n = file.Read(buffer.get(), kCopyBufferSize)) hasher.Update(buffer.get(), n);
    inputs.push_back({name, folder / name, hasher.Finish()});
  }
  const auto hashed = Clock::now();
  std::deque<File> files;
  WriteRecoverySet(*plan, inputs, {}, [&](std::size_t i) -> File& {
    files.push_back(*File::CreateNew(folder / plan->outputs[i].name));
    return files.back();
  });
  for (auto& file : files) file.Close();
  const auto written = Clock::now();
  const auto seconds = [](auto d) { return std::chrono::duration<double>(d).count(); };
  std::printf("slice %llu inputs %u recovery %u files %zu bytes %llu hash %.3f write %.3f\n",
              static_cast<unsigned long long>(plan->sliceSize), plan->inputSlices, plan->recoverySlices,
              plan->outputs.size(), static_cast<unsigned long long>(plan->TotalSize()), seconds(hashed - start),
              seconds(written - hashed));
  return 0;
}
