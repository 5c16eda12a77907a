#include "Batch.h"

#include "CodePage932.h"
#include "Error.h"

namespace vokram {

namespace {

std::string Encode(NativeView name, const std::filesystem::path& file) {
  auto bytes = EncodeCp932(std::filesystem::path(NativeString(BatchName(name))));
  if (!bytes) throw VokError(ErrorCode::NameNotEncodable, file);
  return *bytes;
}

}  // namespace

NativeString BatchName(NativeView name) {
  static constexpr NativeView kNeedsQuotes = VOKRAM_NATIVE(" &()[]{}^=;!'+,`~");
  NativeString escaped;
  for (NativeChar c : name) {
    escaped += c;
    if (c == VOKRAM_NATIVE('%')) escaped += c;
  }
  if (name.find_first_of(kNeedsQuotes) == NativeView::npos) return escaped;
  return VOKRAM_NATIVE("\"") + escaped + VOKRAM_NATIVE("\"");
}

BatchWriter::BatchWriter(File file, NativeView sourceName)
    : sourceBytes_(Encode(sourceName, file.Path())), out_(std::move(file)) {}

void BatchWriter::AddPiece(NativeView pieceName) {
  const std::string piece = Encode(pieceName, out_.Raw().Path());
  std::string line = first_ ? "COPY " + piece + " " + sourceBytes_
                            : "COPY /B " + sourceBytes_ + " + " + piece + " " + sourceBytes_;
  line += "\r\n";
  out_.Write(line);
  first_ = false;
}

}  // namespace vokram
