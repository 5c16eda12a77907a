// Any bytes as a descriptor: a join either succeeds with exactly one new file
// in the output folder, or fails with VokError leaving that folder empty (no
// temporary, no partial output); nothing is written anywhere else.
#include <cstdlib>

#include "Error.h"
#include "FuzzSupport.h"
#include "Join.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto path = vokram::fuzz::WriteInput(data, size);
  const auto out = vokram::fuzz::Workspace() / "out";
  std::filesystem::remove_all(out);
  std::filesystem::create_directory(out);
  const auto before = std::distance(std::filesystem::directory_iterator(vokram::fuzz::Workspace()),
                                    std::filesystem::directory_iterator());
  bool joined = false;
  try {
    const auto result = vokram::JoinFile(path, out.native());
    if (result.outputPath.parent_path() != out) std::abort();
    joined = true;
  } catch (const vokram::VokError&) {
  }
  const auto inOut = std::distance(std::filesystem::directory_iterator(out), std::filesystem::directory_iterator());
  if (inOut != (joined ? 1 : 0)) std::abort();
  const auto after = std::distance(std::filesystem::directory_iterator(vokram::fuzz::Workspace()),
                                   std::filesystem::directory_iterator());
  if (after != before) std::abort();
  return 0;
}
