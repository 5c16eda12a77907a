#include "Outputs.h"

#include <algorithm>
#include <string>

namespace vokram {

namespace {
// Every name from ~vok0000.tmp on may be taken; past this many, something
// else is wrong.
constexpr unsigned kTemporaryTries = 100000;
}  // namespace

std::vector<PlannedOutput> PlanOutputs(const NativeString& folder, const std::vector<NativeString>& names,
                                       const std::vector<FileIdentity>& inputs, ErrorCode whenInput) {
  const std::vector<NameInFolder> found = LookUpNames(folder, names);
  std::vector<PlannedOutput> planned;
  planned.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::filesystem::path name(names[i]);
    if (found[i].folder) throw VokError(ErrorCode::OutputIsFolder, name);
    if (found[i].identity && std::find(inputs.begin(), inputs.end(), *found[i].identity) != inputs.end()) {
      throw VokError(whenInput, name);
    }
    planned.push_back({std::filesystem::path(folder + names[i]), found[i].exists});
  }
  return planned;
}

std::size_t CountExisting(const std::vector<PlannedOutput>& outputs) {
  return static_cast<std::size_t>(
      std::count_if(outputs.begin(), outputs.end(), [](const PlannedOutput& o) { return o.exists; }));
}

std::filesystem::path FirstExisting(const std::vector<PlannedOutput>& outputs) {
  const auto it = std::find_if(outputs.begin(), outputs.end(), [](const PlannedOutput& o) { return o.exists; });
  return it == outputs.end() ? std::filesystem::path() : it->path;
}

OutputSet::~OutputSet() {
  if (committed_) return;
  // Newest first: a replaced file goes back under its name only after the
  // new file there is out of the way.
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    if (!entry->backup.empty()) {
      RestoreQuietly(entry->backup, entry->finalPath);
      if (entry->placed) continue;
    }
    RemoveQuietly(entry->placed ? entry->finalPath : entry->written);
  }
}

std::filesystem::path OutputSet::TemporaryName() {
  // Short names of fixed form, counted on from the last one: thousands of
  // them cost one try each, and they fit beside any name of 255 bytes.
  std::string digits = std::to_string(nextTemporary_++);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  const std::string name = "~vok" + digits + ".tmp";
  return std::filesystem::path(folder_ + NativeString(name.begin(), name.end()));
}

std::filesystem::path OutputSet::NewTemporary(std::optional<File>& file) {
  for (unsigned tries = 0; tries < kTemporaryTries; ++tries) {
    std::filesystem::path candidate = TemporaryName();
    file = File::CreateNew(candidate);
    if (file) return candidate;
  }
  throw VokError(ErrorCode::IoFailed, std::filesystem::path(folder_), Cause::NoTemporaryName);
}

File OutputSet::Create(const PlannedOutput& output, bool viaTemporary) {
  std::optional<File> file;
  Entry entry{output.path, output.path, output.exists, false, {}};
  if (output.exists || viaTemporary) {
    entry.written = NewTemporary(file);
  } else {
    file = File::CreateNew(output.path);
    if (!file) throw VokError(ErrorCode::IoFailed, output.path.filename(), Cause::OutputAppeared);
  }
  entries_.push_back(std::move(entry));
  return std::move(*file);
}

bool OutputSet::PlaceAll(bool replace) {
  SyncWrittenFiles(folder_);
  // New names first: a name taken meanwhile stops the run before any older
  // file has been replaced.
  for (Entry& entry : entries_) {
    if (entry.written == entry.finalPath || (entry.replaces && replace)) continue;
    if (!RenameIfAbsent(entry.written, entry.finalPath)) {
      if (!replace) return false;
      throw VokError(ErrorCode::IoFailed, entry.finalPath.filename(), Cause::OutputAppeared);
    }
    entry.placed = true;
  }
  // Each replaced file is kept aside until all are in place, so a failure
  // half way puts every one of them back.
  for (Entry& entry : entries_) {
    if (entry.written == entry.finalPath || entry.placed) continue;
    for (unsigned tries = 0;; ++tries) {
      if (tries == kTemporaryTries) {
        throw VokError(ErrorCode::IoFailed, std::filesystem::path(folder_), Cause::NoTemporaryName);
      }
      const std::filesystem::path backup = TemporaryName();
      bool backedUp = false;
      const bool done = ReplaceKeepingBackup(entry.written, entry.finalPath, backup, backedUp);
      if (backedUp) entry.backup = backup;
      if (done) break;
    }
    entry.placed = true;
  }
  SyncFolder(folder_);
  committed_ = true;
  for (const Entry& entry : entries_) {
    if (!entry.backup.empty()) RemoveQuietly(entry.backup);
  }
  return true;
}

void OutputSet::Commit() { PlaceAll(true); }

bool OutputSet::CommitWithoutReplacing() { return PlaceAll(false); }

}  // namespace vokram
