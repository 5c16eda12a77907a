#include "Outputs.h"

#include <algorithm>
#include <string>

#include "platform/Platform.h"

namespace vokram {

namespace {
// Every name from ~vok0000.tmp on may be taken; past this many, something
// else is wrong.
constexpr unsigned kTemporaryTries = 1000000;
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

namespace {

// `needed` free names of this program's temporaries' form, looked up in
// batches; none may be an output's own name.
std::vector<NativeString> FreeTemporaryNames(const NativeString& folder, std::size_t needed,
                                             const std::vector<PlannedOutput>& outputs,
                                             const std::vector<PlannedOutput>& removed) {
  // Only outputs of the temporaries' own form can collide with one.
  std::vector<std::filesystem::path> temporaryLike;
  for (const auto* list : {&outputs, &removed}) {
    for (const PlannedOutput& o : *list) {
      if (IsTemporaryName(o.path.filename().native())) temporaryLike.push_back(o.path.filename());
    }
  }
  auto isOutput = [&](const NativeString& name) {
    return std::any_of(temporaryLike.begin(), temporaryLike.end(),
                       [&](const std::filesystem::path& o) { return SameName(o, std::filesystem::path(name)); });
  };
  std::vector<NativeString> free;
  for (unsigned next = 0; free.size() < needed;) {
    if (next >= kTemporaryTries) throw VokError(ErrorCode::IoFailed, std::filesystem::path(folder), Cause::NoTemporaryName);
    std::vector<NativeString> candidates;
    for (std::size_t i = 0; i < needed - free.size() + 8 && next < kTemporaryTries; ++i) {
      candidates.push_back(TemporaryName(next++));
    }
    const auto found = LookUpNames(folder, candidates);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      if (!found[i].exists && !isOutput(candidates[i])) free.push_back(candidates[i]);
    }
  }
  return free;
}

}  // namespace

OutputSet::OutputSet(NativeString folder, const std::vector<PlannedOutput>& outputs,
                     const std::vector<PlannedOutput>& removed)
    : folder_(std::move(folder)), firstOutput_(removed.size()) {
  std::size_t needed = outputs.size() + removed.size();
  for (const PlannedOutput& o : outputs) needed += o.exists ? 1 : 0;
  const std::vector<NativeString> free = FreeTemporaryNames(folder_, needed, outputs, removed);
  std::size_t taken = 0;
  for (const PlannedOutput& o : removed) {
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::Remove;
    entry.name = o.path.filename().native();
    entry.backup = free[taken++];
    journal_.entries.push_back(std::move(entry));
  }
  for (const PlannedOutput& o : outputs) {
    JournalEntry entry;
    entry.kind = o.exists ? JournalEntry::Kind::Replace : JournalEntry::Kind::New;
    entry.name = o.path.filename().native();
    entry.temporary = free[taken++];
    if (o.exists) entry.backup = free[taken++];
    journal_.entries.push_back(std::move(entry));
  }

  const auto journalPath = JournalPath(folder_);
  // Another run must never see the journal before it is whole and locked:
  // where the lock is the open itself (Windows) it is created in place,
  // elsewhere written and locked as a draft, then renamed.
  const auto writtenAt =
      platform::kLockedFromCreation ? journalPath : JournalDraftPath(folder_);
  journalFile_ = File::CreateNew(writtenAt);
  if (!journalFile_) throw VokError(ErrorCode::IoFailed, journalPath, Cause::FolderBusy);
  journalFile_->HoldLock();
  bool inPlace = writtenAt == journalPath;
  try {
    const std::string head = EncodeJournalHead(journal_.entries);
    journalFile_->Write(head.data(), head.size());
    journalFile_->Sync();
    if (!inPlace && !RenameIfAbsent(writtenAt, journalPath)) {
      throw VokError(ErrorCode::IoFailed, journalPath, Cause::FolderBusy);
    }
    inPlace = true;
    SyncFolder(folder_);
  } catch (...) {
    journalFile_.reset();
    // Only this run's journal, under whichever name it has: never another run's.
    RemoveFile(inPlace ? journalPath : writtenAt);
    done_ = true;
    throw;
  }
}

OutputSet::~OutputSet() {
  if (done_) return;
  try {
    Abandon();
  } catch (...) {
    // The journal stays; the next run into the folder settles it.
  }
}

File OutputSet::Create(std::size_t index) {
  const JournalEntry& entry = journal_.entries[firstOutput_ + index];
  std::optional<File> file = File::CreateNew(In(entry.temporary));
  if (!file) throw VokError(ErrorCode::IoFailed, In(entry.temporary), Cause::OutputAppeared);
  return std::move(*file);
}

void OutputSet::Abandon() {
  if (done_) return;
  done_ = true;
  // The journal stays held while the folder is put back.
  UndoJournal(folder_, journal_);
  journalFile_.reset();
  RemoveFile(JournalPath(folder_));
}

void OutputSet::PlaceAll() {
  // The journal learns what was written before any name changes, so that a
  // later run can tell this run's files from anyone else's.
  for (JournalEntry& entry : journal_.entries) {
    if (entry.kind == JournalEntry::Kind::Remove) continue;
    entry.written = NameIdentity(In(entry.temporary));
    if (!entry.written) throw VokError(ErrorCode::IoFailed, In(entry.temporary));
    if (entry.kind == JournalEntry::Kind::Replace) entry.attributes = AttributesOf(In(entry.name));
  }
  const std::string ready = EncodeJournalReady(journal_.entries);
  journalFile_->Write(ready.data(), ready.size());
  journal_.stage = JournalStage::Ready;
  // One sync puts the written files and the journal on stable storage
  // together; where each file is flushed on its own, the journal is too.
  if (platform::kFlushEachWrittenFile) journalFile_->Sync();
  SyncWrittenFiles(folder_);

  // An earlier set's files go first, then the outputs in their order: the
  // descriptor and batch file, last in it, appear only beside every piece.
  for (const JournalEntry& entry : journal_.entries) {
    const auto name = In(entry.name);
    switch (entry.kind) {
      case JournalEntry::Kind::Remove:
        if (!RenameIfAbsent(name, In(entry.backup))) {
          throw VokError(ErrorCode::IoFailed, In(entry.backup), Cause::OutputAppeared);
        }
        break;
      case JournalEntry::Kind::Replace:
        if (NameExists(name)) {
          // The old file keeps a second name first, so that its own name
          // never stands empty; where the file system has no hard links it
          // is moved aside instead.
          bool unsupported = false;
          if (!LinkIfAbsent(name, In(entry.backup), unsupported) &&
              (!unsupported || !RenameIfAbsent(name, In(entry.backup)))) {
            throw VokError(ErrorCode::IoFailed, In(entry.backup), Cause::OutputAppeared);
          }
          ReplaceWith(In(entry.temporary), name);
          break;
        }
        [[fallthrough]];  // gone meanwhile: a free name now
      case JournalEntry::Kind::New:
        if (!RenameIfAbsent(In(entry.temporary), name)) {
          throw VokError(ErrorCode::IoFailed, entry.name, Cause::OutputAppeared);
        }
        break;
    }
  }
  SyncFolder(folder_);
  journalFile_->Write(kJournalCommit.data(), kJournalCommit.size());
  journalFile_->Sync();
  journal_.stage = JournalStage::Committed;
  done_ = true;

  for (const NativeString& left : FinishJournal(folder_, journal_)) notRemoved_.push_back(In(left));
  // Committed and on stable storage already: closed without a further flush.
  journalFile_.reset();
  // Kept files that could not go stay named in the journal for the next run.
  if (notRemoved_.empty() && !RemoveFile(JournalPath(folder_))) {
    notRemoved_.push_back(JournalPath(folder_));
  }
}

void OutputSet::Commit() { PlaceAll(); }

bool OutputSet::CommitWithoutReplacing() {
  const bool replaces = std::any_of(journal_.entries.begin(), journal_.entries.end(), [](const JournalEntry& e) {
    return e.kind != JournalEntry::Kind::New;
  });
  if (replaces) {
    Abandon();
    return false;
  }
  PlaceAll();
  return true;
}

}  // namespace vokram
