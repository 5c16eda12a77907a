// Any bytes: ReadDescriptor either returns a descriptor whose names are plain
// file names, or throws VokError; it never reads past the end or crashes.
#include <cstdlib>

#include "Descriptor.h"
#include "Error.h"
#include "FuzzSupport.h"
#include "Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto path = vokram::fuzz::WriteInput(data, size);
  try {
    const vokram::Descriptor d = vokram::ReadDescriptor(path);
    if (d.sourceName.empty() || !vokram::IsPlainFileName(d.sourceName.native())) std::abort();
    for (const auto& piece : d.pieces) {
      if (!vokram::IsPlainFileName(piece.name.native())) std::abort();
    }
    if (size < vokram::kHeaderSize) std::abort();  // accepted without a whole header
  } catch (const vokram::VokError&) {
  }
  return 0;
}
