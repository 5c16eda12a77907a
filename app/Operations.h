// Split, check and join, each written once for the window and the command
// line: the checks of the fields, the plan, the question before replacing,
// the run and what the user is told at the end. A front end only answers an
// OperationView: it runs a step its own way (the window off its thread, under
// its stop question) and shows or prints what it is handed.
#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <string>

#include "Check.h"
#include "Join.h"
#include "Messages.h"
#include "Progress.h"
#include "Requests.h"
#include "Split.h"

namespace vokram {

// How an operation ended.
enum class Ending {
  Done,           // as asked
  DoneWithWarning,// as asked, but a replaced file is still there
  Unsound,        // it ran, but not every piece is sound, or a join's result fails its record
  Repairable,     // a check found pieces lost or damaged that recovery files can restore
  Refused,        // a check of the fields said no
  Declined,       // files would have been replaced, and the user did not agree
  Failed,
  FolderChanged,  // failed, and could not put every earlier file back
  Stopped,
  Gone,           // the front end went away meanwhile (the window closed): nothing more is shown
};

class OperationView {
 public:
  using Work = std::function<void(const Progress&)>;
  virtual ~OperationView() = default;

  // Runs one step of an operation (its plan, then the run) and returns once
  // it has ended: nothing when it completed, else what it threw. `gone` says
  // that the front end went away meanwhile.
  virtual std::exception_ptr Run(Operation operation, const Work& work, bool& gone) = 0;

  // A check of the fields refused: its text and where the keyboard goes.
  virtual void Refuse(const std::string& text, Focus focus) = 0;
  // The split's base name, taken from the source because the field was blank.
  virtual void ShowBaseName(const NativeString& base) { (void)base; }
  // Before the run: an interrupted earlier run that was settled first.
  virtual void Notice(const std::string& text) = 0;
  // Before the run: whether the files under the outputs' names may be
  // replaced; `first` is the first of them.
  virtual bool AskToReplace(const std::string& question, const std::filesystem::path& first) = 0;
  // A check's lines, from the thread that runs the step: an interrupted run
  // in the folder, then one report per piece.
  virtual void Pending(const std::string& text) = 0;
  virtual void Report(const PieceReport& piece) = 0;
  // A check's last line, after the pieces: what recovery files can do.
  virtual void Conclude(const std::string& text) = 0;
  // What a split or join wrote, in figures (the command line prints it).
  virtual void Summary(const std::string& line) { (void)line; }
  // The last word: the message for every ending but Refused, Declined, Gone
  // and the end of a check.
  virtual void End(Ending ending, const std::string& text) = 0;
};

// The split's check boxes and its consent to replace come in `options`;
// `random` draws the piece sizes (the program's own generator when empty).
Ending RunSplit(const SplitFields& fields, SplitOptions options, OperationView& view,
                const RandomSource& random = {});
Ending RunCheck(NativeView vokFile, OperationView& view);
Ending RunJoin(const JoinFields& fields, JoinOptions options, OperationView& view);
// Writes lost and damaged pieces anew from the recovery files beside them;
// replacing a damaged one needs the consent (asked, or replaceExisting).
Ending RunRepair(NativeView vokFile, bool replaceExisting, OperationView& view);

}  // namespace vokram
