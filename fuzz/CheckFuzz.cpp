// Any bytes as a descriptor beside real pieces: the piece check reports one
// named piece per listed piece or throws VokError, and touches nothing outside.
#include <cstdlib>

#include "Check.h"
#include "Descriptor.h"
#include "Error.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto path = vokram::fuzz::WriteInput(data, size);
  std::size_t lines = 0;
  try {
    vokram::CheckPieces(path, [&](const vokram::PieceReport& report) {
      if (report.name.empty()) std::abort();
      ++lines;
    });
    if (lines != vokram::ReadDescriptor(path).pieces.size()) std::abort();
  } catch (const vokram::VokError&) {
  }
  return 0;
}
