// The one way split and join write files. Every output name is looked up
// before the first byte is written, and a run changes its folder all or
// nothing, also through a crash: see OutputSet. Nothing is written through
// an existing name or a link, and everything is on stable storage before the
// run says it is done.
#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

#include "Error.h"
#include "Journal.h"
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

// One run's changes to one folder, all or nothing through its journal
// (Journal.h): every output is written to a temporary, and only when all of
// them are on stable storage do names change. The caller settles the
// folder's journal first (SettleInterruptedRun).
class OutputSet {
 public:
  // Chooses the temporaries and writes the journal, before any other file.
  // `removed`: files of an earlier set that go when the new set is in place.
  // Throws VokError(IoFailed, journal, Cause::FolderBusy) when another run
  // writes into the folder.
  OutputSet(NativeString folder, const std::vector<PlannedOutput>& outputs,
            const std::vector<PlannedOutput>& removed = {});
  // Unless committed or abandoned: undoes quietly (a journal that cannot be
  // carried out stays for the next run).
  ~OutputSet();
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // The new file for outputs[index], created exclusively under its temporary
  // name (VokError(IoFailed, name, Cause::OutputAppeared) when another program
  // took that name meanwhile).
  File Create(std::size_t index);

  // Every file on stable storage; the files of an earlier set out of the way,
  // then each output under its name in order (a free name never over a file
  // that appeared meanwhile: OutputAppeared); the folder's entries on stable
  // storage; the replaced files removed.
  void Commit();
  // The same when no output replaces a file; otherwise nothing is put in
  // place and it returns false.
  bool CommitWithoutReplacing();
  // Puts everything back now. Throws VokError(FolderChanged) naming an
  // output that still holds new content when its old file cannot go back.
  void Abandon();

  // After a commit: kept old files that could not be removed (the journal
  // stays, so the next run removes them).
  const std::vector<std::filesystem::path>& NotRemoved() const noexcept { return notRemoved_; }

 private:
  std::filesystem::path In(const NativeString& name) const { return std::filesystem::path(folder_ + name); }
  void PlaceAll();

  NativeString folder_;
  Journal journal_;
  std::size_t firstOutput_ = 0;  // entries before it are the removed files
  std::optional<File> journalFile_;
  bool done_ = false;
  std::vector<std::filesystem::path> notRemoved_;
};

}  // namespace vokram
