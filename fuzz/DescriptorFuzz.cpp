// Any bytes: ReadDescriptor either returns a descriptor whose names are plain
// file names, or throws VokError; it never reads past the end or crashes.
// The same bytes as a name: one that code page 932 takes reads back as itself.
#include <cstdlib>

#include "CodePage932.h"
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
  const auto name = vokram::PathFromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  if (const auto bytes = vokram::EncodeCp932(name)) {
    if (vokram::DecodeCp932(*bytes) != name) std::abort();
  }
  return 0;
}
