// The journal that makes a run's changes to a folder all or nothing, also
// through a kill or a power cut. Before the first file of a run is written, a
// small file "~vok.journal" in the output folder names every output, the
// temporary it is written to and the name its old file is kept under. When
// every temporary is on stable storage, their identities follow ("ready"):
// only then do names change. "commit" follows when every name holds its new
// file. The next run into the folder finds the journal first: without commit
// it puts every old file back and removes every temporary; with commit it
// removes the kept old files. Either way the folder is then wholly old or
// wholly new.
//
// A journal is read as a stranger's file: every name in it must be a plain
// file name, temporaries and kept files must have this program's own form
// (~vokNNNN.tmp), and an output's name is changed only where the file under
// it provably is this run's (its identity) or the run's kept old file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Text.h"
#include "platform/Types.h"

namespace vokram {

inline constexpr std::string_view kJournalName = "~vok.journal";
// Where the journal is written before it takes its name, on systems where its
// lock comes only after it exists: another run never sees it half written.
inline constexpr std::string_view kJournalDraftName = "~vok.journal.new";
// The two names in a folder (with its trailing separator, or empty).
std::filesystem::path JournalPath(const NativeString& folder);
std::filesystem::path JournalDraftPath(const NativeString& folder);

// Whether a name is the journal's or its draft's, in any case.
bool IsJournalName(NativeView name) noexcept;
// Whether a name has the form of this program's temporaries, ~vokNNNN.tmp.
bool IsTemporaryName(NativeView name) noexcept;
// The temporary name of that number.
NativeString TemporaryName(unsigned number);

struct JournalEntry {
  enum class Kind : char {
    New = 'N',      // the name was free
    Replace = 'R',  // the name held a file, kept under `backup` until commit
    Remove = 'D',   // a file of an earlier set that goes, kept under `backup` until commit
  };
  Kind kind = Kind::New;
  NativeString name;       // the output's name in the folder
  NativeString temporary;  // what the new file is written to (New, Replace)
  NativeString backup;     // where the old file is kept (Replace, Remove)
  // Once the journal is ready: the written temporary's identity, and the old
  // file's attributes (Windows).
  std::optional<FileIdentity> written;
  std::uint32_t attributes = 0;
};

enum class JournalStage {
  Begun,      // temporaries being written; no name has changed
  Ready,      // names may have changed
  Committed,  // every name holds its new file
};

struct Journal {
  std::vector<JournalEntry> entries;
  JournalStage stage = JournalStage::Begun;
};

// The journal's text up to "begun": written and synced before any temporary.
std::string EncodeJournalHead(const std::vector<JournalEntry>& entries);
// What follows when every temporary is on stable storage.
std::string EncodeJournalReady(const std::vector<JournalEntry>& entries);
inline constexpr std::string_view kJournalCommit = "COMMIT\n";

enum class JournalReading {
  Valid,
  Torn,     // this program's, cut short before "begun": nothing was written yet
  Foreign,  // not this program's journal: never obeyed
};
JournalReading ParseJournal(std::string_view text, Journal& journal);

// What the next run did, or would do, about an interrupted one.
enum class Settlement { None, RolledBack, Completed };

// Puts the entries' old files back and removes every temporary. Throws
// VokError(FolderChanged, name, kept file) naming the first output that still
// holds new content where that cannot be done.
void UndoJournal(const NativeString& folder, const Journal& journal);
// After commit: removes the kept old files. Returns the names that could not be
// removed.
std::vector<NativeString> FinishJournal(const NativeString& folder, const Journal& journal);

// Settles an interrupted run's journal in `folder` (with its trailing
// separator, or empty), before a run writes there. Throws VokError(IoFailed,
// journal, Cause::FolderBusy) while another run holds it or when the name
// holds a stranger's file, and VokError(FolderChanged) when it cannot be
// settled.
Settlement SettleInterruptedRun(const NativeString& folder);
// Which way the next run will settle an interrupted run in `folder`, changing
// nothing; None when there is none to settle.
Settlement PendingSettlement(const NativeString& folder);

}  // namespace vokram
