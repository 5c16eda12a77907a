// The one way split and join write files. Every output name is looked up
// before the first byte is written. A free name is created exclusively, so two
// runs cannot write into one file; a name that holds a file gets a temporary
// beside it, which takes the old file's place only at the end, after the
// caller had consent. Nothing is written through an existing name or a link,
// everything is on stable storage before the run says it is done, and a run
// that does not finish removes what it created and nothing else.
#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

#include "Error.h"
#include "File.h"
#include "Text.h"

namespace vokram {

struct PlannedOutput {
  std::filesystem::path path;
  // A file or a link stood under the name when it was looked up: it is
  // replaced only with consent.
  bool exists = false;
};

// Looks up every name in `folder` (with its trailing separator, or empty for
// the current folder) in one go. Throws VokError(OutputIsFolder, name) for a
// folder under a name, and VokError(whenInput, name) for a name that leads to
// one of `inputs`, whatever way (a hard or symbolic link, a case-only alias, a
// short name).
std::vector<PlannedOutput> PlanOutputs(const NativeString& folder, const std::vector<NativeString>& names,
                                       const std::vector<FileIdentity>& inputs, ErrorCode whenInput);

std::size_t CountExisting(const std::vector<PlannedOutput>& outputs);
// The first output whose name holds a file; empty when none does.
std::filesystem::path FirstExisting(const std::vector<PlannedOutput>& outputs);

class OutputSet {
 public:
  explicit OutputSet(NativeString folder) : folder_(std::move(folder)) {}
  // Unless committed: removes every file this set created, and only those.
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // The file that is to stand under output.path: that name itself, created
  // exclusively, when it was free (VokError(IoFailed, name,
  // Cause::OutputAppeared) when another program took it meanwhile); a new
  // temporary beside it when the name held a file, or when asked for.
  File Create(const PlannedOutput& output, bool viaTemporary = false);

  // Every file on stable storage; the temporaries in place, first under the
  // free names (never over a file that appeared meanwhile: OutputAppeared),
  // then over the files that were there; the folder's entries on stable
  // storage.
  void Commit();
  // The same, but no file is replaced: false, with nothing put in place, when
  // a file stands under an output's name.
  bool CommitWithoutReplacing();

 private:
  struct Entry {
    std::filesystem::path finalPath;
    std::filesystem::path written;  // the name written to: finalPath or a temporary
    bool replaces = false;
    bool placed = false;            // renamed to finalPath by this set
    std::filesystem::path backup;   // the file it replaced, until the set is committed
  };
  std::filesystem::path TemporaryName();
  std::filesystem::path NewTemporary(std::optional<File>& file);
  bool PlaceAll(bool replace);

  NativeString folder_;
  std::vector<Entry> entries_;
  unsigned nextTemporary_ = 0;
  bool committed_ = false;
};

}  // namespace vokram
