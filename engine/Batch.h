// The batch file that rebuilds a source without the program: the first line
// copies piece 000 to the source name, every further line appends the next
// piece with binary COPY. Code page 932, CR LF, bare names.
#pragma once

#include <filesystem>
#include <string>

#include "File.h"
#include "Text.h"

namespace vokram {

// A name as it must stand on a COPY line: unchanged for ordinary names, in
// quotes when the command interpreter would split or reinterpret it (spaces,
// "+", "&", ...), and with "%" doubled, which a batch file would expand.
NativeString BatchName(NativeView name);

class BatchWriter {
 public:
  BatchWriter(File file, NativeView sourceName);
  // Throws VokError(NameNotEncodable) when the name has no code page 932 form.
  void AddPiece(NativeView pieceName);
  void Close() { out_.Close(); }

 private:
  std::string sourceBytes_;  // first: made from the file's name before the file moves in
  BufferedWriter out_;
  bool first_ = true;
};

}  // namespace vokram
