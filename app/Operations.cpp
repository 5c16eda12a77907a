#include "Operations.h"

#include <optional>
#include <variant>

#include "GetCRC.h"
#include "Journal.h"
#include "Recover.h"
#include "Text.h"

namespace vokram {

namespace {

// What a step threw, as the engine's own failure: anything else (out of
// memory, a library's fault) is still a failed operation on that file, and
// both front ends say so in the same words.
VokError AsVokError(const std::exception_ptr& failure, const std::filesystem::path& file) {
  try {
    std::rethrow_exception(failure);
  } catch (const VokError& error) {
    return error;
  } catch (const std::exception& error) {
    return VokError(ErrorCode::IoFailed, file, UnexpectedFailureText(error));
  } catch (...) {
    return VokError(ErrorCode::IoFailed, file, UnexpectedFailureText(std::exception()));
  }
}

Ending EndingOf(ErrorCode code) {
  switch (code) {
    case ErrorCode::Cancelled: return Ending::Stopped;
    case ErrorCode::FolderChanged: return Ending::FolderChanged;
    default: return Ending::Failed;
  }
}

// Runs one step; false when it did not complete, with `ending` set and the
// user told why.
bool Step(OperationView& view, Operation operation, const std::filesystem::path& file,
          const OperationView::Work& work, Ending& ending) {
  bool gone = false;
  const std::exception_ptr failure = view.Run(operation, work, gone);
  if (gone) {
    ending = Ending::Gone;
    return false;
  }
  if (!failure) return true;
  const VokError error = AsVokError(failure, file);
  ending = EndingOf(error.Code());
  view.End(ending, MessageFor(error, operation));
  return false;
}

Ending Refuse(OperationView& view, const Rejection& rejection, Operation operation) {
  view.Refuse(MessageFor(rejection.reason, operation), rejection.focus);
  return Ending::Refused;
}

Ending Finish(OperationView& view, const std::vector<std::filesystem::path>& notRemoved, int restored = 0,
              const std::vector<std::pair<std::filesystem::path, std::filesystem::path>>& renamed = {}) {
  if (!notRemoved.empty()) {
    view.End(Ending::DoneWithWarning, NotRemovedWarning(notRemoved.front()));
    return Ending::DoneWithWarning;
  }
  std::string text = restored > 0 ? RestoredMessage(restored) : std::string(MessageText(MessageId::Done));
  for (const auto& [found, recorded] : renamed) {
    text += '\n';
    text += RenamedPieceLine(found, recorded);
  }
  view.End(Ending::Done, text);
  return Ending::Done;
}

}  // namespace

Ending RunSplit(const SplitFields& fields, SplitOptions options, OperationView& view, const RandomSource& random) {
  const SplitValidation validation = ValidateSplit(fields, options, RealFileSystem(), random);
  // The user sees the derived name even when a later check refuses.
  if (validation.derivedBaseName) view.ShowBaseName(*validation.derivedBaseName);
  if (const auto* rejection = std::get_if<Rejection>(&validation.outcome)) {
    return Refuse(view, *rejection, Operation::Split);
  }
  const auto& request = std::get<SplitRequest>(validation.outcome);
  const std::filesystem::path source(request.sourcePath);
  Ending ending = Ending::Done;
  // The plan looks at every output's name, thousands of them in a folder of
  // an earlier set: a step of its own, which a stop can end.
  std::optional<SplitPlan> plan;
  if (!Step(view, Operation::Split, source, [&](const Progress& progress) {
        plan.emplace(PlanSplit(request.sourcePath, request.draw, options));
        progress.Step(0, 0);  // a stop asked for meanwhile
      }, ending)) {
    return ending;
  }
  if (plan->settled != Settlement::None) view.Notice(SettledMessage(plan->settled));
  if (const std::size_t existing = plan->ExistingCount(); existing > 0 && !options.replaceExisting) {
    if (!view.AskToReplace(ReplaceQuestion(existing), plan->FirstExisting())) return Ending::Declined;
    options.replaceExisting = true;
  }
  SplitResult result;
  if (!Step(view, Operation::Split, source,
            [&](const Progress& progress) { result = SplitFile(*plan, options, progress); }, ending)) {
    return ending;
  }
  view.Summary(SplitSummary(result.pieceCount, result.sourceCrc));
  return Finish(view, result.notRemoved);
}

Ending RunCheck(NativeView vokFile, OperationView& view) {
  if (auto rejection = ValidateCheck(vokFile, RealFileSystem())) return Refuse(view, *rejection, Operation::Check);
  const NativeString vokPath = TrimSpaces(vokFile);
  CheckSummary summary;
  Ending ending = Ending::Done;
  if (!Step(view, Operation::Check, vokPath, [&](const Progress& progress) {
        // The check changes nothing: an interrupted run beside the pieces is only told of.
        const std::string pending = PendingMessage(PendingSettlement(FolderPart(vokPath)));
        if (!pending.empty()) view.Pending(pending);
        summary = CheckPieces(std::filesystem::path(vokPath), [&](const PieceReport& piece) { view.Report(piece); },
                              progress);
        if (summary.recovery) view.Conclude(RecoveryVerdictText(*summary.recovery));
      }, ending)) {
    return ending;
  }
  if (summary.allSound) return Ending::Done;
  return summary.recovery && summary.recovery->repairable ? Ending::Repairable : Ending::Unsound;
}

Ending RunJoin(const JoinFields& fields, JoinOptions options, OperationView& view) {
  const auto outcome = ValidateJoin(fields, RealFileSystem());
  if (const auto* rejection = std::get_if<Rejection>(&outcome)) return Refuse(view, *rejection, Operation::Join);
  const auto& request = std::get<JoinRequest>(outcome);
  const std::filesystem::path vok(request.vokPath);
  Ending ending = Ending::Done;
  std::optional<JoinPlan> plan;
  if (!Step(view, Operation::Join, vok, [&](const Progress& progress) {
        plan.emplace(PlanJoin(vok, request.outputFolder));
        progress.Step(0, 0);  // a stop asked for meanwhile
      }, ending)) {
    return ending;
  }
  if (plan->settled != Settlement::None) view.Notice(SettledMessage(plan->settled));
  if (plan->output.exists && !options.replaceExisting) {
    if (!view.AskToReplace(ReplaceQuestion(plan->output.path.filename()), plan->output.path)) {
      return Ending::Declined;
    }
    options.replaceExisting = true;
  }
  JoinResult result;
  if (!Step(view, Operation::Join, vok,
            [&](const Progress& progress) { result = JoinFile(*plan, options, progress); }, ending)) {
    return ending;
  }
  if (result.keptOlderFile) {
    view.End(Ending::Unsound, JoinNotReplacedMessage(result.outputPath.filename()));
    return Ending::Unsound;
  }
  view.Summary(JoinSummary(result.outputPath, result.size, result.crc));
  if (!result.matchesRecord) {
    view.End(Ending::Unsound, std::string(MessageText(MessageId::JoinMismatch)));
    return Ending::Unsound;
  }
  return Finish(view, result.notRemoved, result.restored, result.renamed);
}

Ending RunRepair(NativeView vokFile, bool replaceExisting, OperationView& view) {
  std::filesystem::path vok(TrimSpaces(vokFile));
  Ending ending = Ending::Done;
  // A .vok that was lost comes back from the recovery files first; so does
  // the one a .par2 file named instead carries.
  if (!vok.empty() && (IsRecoveryFileName(vok.filename().native()) || !RealFileSystem().IsExistingFile(vok.native()))) {
    std::optional<CarriedDescriptor> carried;
    if (!Step(view, Operation::Repair, vok, [&](const Progress&) { carried = FindCarriedDescriptor(vok); }, ending)) {
      return ending;
    }
    if (carried) {
      if (carried->output.exists && !replaceExisting &&
          !view.AskToReplace(ReplaceQuestion(carried->vokPath.filename()), carried->vokPath)) {
        return Ending::Declined;
      }
      if (!Step(view, Operation::Repair, carried->vokPath,
                [&](const Progress&) { WriteCarriedDescriptor(*carried, true); }, ending)) {
        return ending;
      }
      vok = carried->vokPath;
    }
  }
  if (auto rejection = ValidateCheck(vok.native(), RealFileSystem())) return Refuse(view, *rejection, Operation::Repair);
  std::optional<RepairPlan> plan;
  if (!Step(view, Operation::Repair, vok, [&](const Progress& progress) { plan.emplace(PlanRepair(vok, progress)); },
            ending)) {
    return ending;
  }
  if (plan->settled != Settlement::None) view.Notice(SettledMessage(plan->settled));
  if (const std::size_t existing = plan->ExistingCount(); existing > 0 && !replaceExisting) {
    if (!view.AskToReplace(ReplaceQuestion(existing), FirstExisting(plan->outputs))) return Ending::Declined;
    replaceExisting = true;
  }
  RepairResult result;
  if (!Step(view, Operation::Repair, vok,
            [&](const Progress& progress) { result = RepairPieces(*plan, replaceExisting, progress); }, ending)) {
    return ending;
  }
  if (result.restored == 0) {
    view.End(Ending::Done, std::string(MessageText(MessageId::AllSound)));
    return Ending::Done;
  }
  return Finish(view, result.notRemoved, result.restored);
}

}  // namespace vokram
