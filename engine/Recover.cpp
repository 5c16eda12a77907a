#include "Recover.h"

#include <algorithm>

#include "Check.h"
#include "File.h"
#include "Journal.h"
#include "recovery/Rebuild.h"

namespace vokram {

namespace {

}  // namespace

bool IsRecoveryFileName(const NativeString& name) {
  if (name.size() < 5) return false;
  NativeString ending = name.substr(name.size() - 5);
  for (NativeChar& c : ending) {
    if (c >= 'A' && c <= 'Z') c = static_cast<NativeChar>(c - 'A' + 'a');
  }
  return ending == VOKRAM_NATIVE(".par2");
}

bool HasRecoveryFiles(const NativeString& folder) {
  const std::vector<NativeString> names = FileNamesIn(folder);
  return std::any_of(names.begin(), names.end(), IsRecoveryFileName);
}

std::optional<recovery::FileCondition> FoundRecovery::ConditionOf(std::size_t piece) const {
  if (piece >= match.fileOfName.size() || !match.fileOfName[piece]) return std::nullopt;
  return verdict.files[*match.fileOfName[piece]].condition;
}

bool FoundRecovery::Covers(const std::vector<bool>& pieceSound) const {
  for (std::size_t i = 0; i < pieceSound.size(); ++i) {
    if (!pieceSound[i] && !ConditionOf(i)) return false;
  }
  return verdict.repairable;
}

std::optional<FoundRecovery> FindRecovery(const std::filesystem::path& vokPath, const Descriptor& descriptor,
                                          const Progress& progress, const std::vector<bool>& soundPieces) {
  const NativeString folder = FolderPart(vokPath.native());
  std::vector<std::filesystem::path> candidates;
  for (const NativeString& name : FileNamesIn(folder)) {
    if (IsRecoveryFileName(name)) candidates.emplace_back(folder + name);
  }
  if (candidates.empty()) return std::nullopt;
  FoundRecovery found;
  found.reading = recovery::ReadRecoverySets(candidates, Progress{nullptr, progress.stop});
  std::vector<std::filesystem::path> names, paths;
  for (const DescriptorPiece& piece : descriptor.pieces) {
    names.push_back(piece.name);
    std::filesystem::path path(folder + piece.name.native());
    // A piece a browser saved under another name is that piece to the set too.
    if (!IsVisibleFile(path)) path = FindRenamedPiece(folder, piece.name, piece.size, piece.crc).value_or(path);
    paths.push_back(std::move(path));
  }
  names.push_back(vokPath.filename());
  paths.push_back(vokPath);
  auto match = recovery::MatchSet(found.reading, names);
  if (!match) return std::nullopt;
  found.match = std::move(*match);
  found.paths = recovery::PathsOfFiles(found.Set(), found.match, paths);
  // A piece that is not there is missing to the set too.
  for (auto& path : found.paths) {
    if (path && !IsVisibleFile(*path)) path.reset();
  }
  std::vector<bool> trusted(found.Set().files.size(), false);
  for (std::size_t i = 0; i < soundPieces.size() && i < found.match.fileOfName.size(); ++i) {
    if (soundPieces[i] && found.match.fileOfName[i]) trusted[*found.match.fileOfName[i]] = true;
  }
  found.verdict = recovery::VerifySet(found.Set(), found.paths, progress, trusted);
  return found;
}

RepairPlan PlanRepair(const std::filesystem::path& vokPath, const Progress& progress) {
  RepairPlan plan;
  plan.vokPath = vokPath;
  plan.folder = FolderPart(vokPath.native());
  plan.settled = SettleInterruptedRun(plan.folder);
  const Descriptor descriptor = ReadDescriptor(vokPath);
  plan.found = FindRecovery(vokPath, descriptor, progress);
  if (!plan.found) throw VokError(ErrorCode::NoRecoveryFiles, vokPath.filename());
  const recovery::SetVerdict& verdict = plan.found->verdict;
  std::vector<NativeString> names;
  for (std::size_t i = 0; i < descriptor.pieces.size(); ++i) {
    const auto condition = plan.found->ConditionOf(i);
    const std::filesystem::path path(plan.folder + descriptor.pieces[i].name.native());
    // A piece the set does not name can only be taken as it is.
    if (!condition && !IsVisibleFile(path)) throw VokError(ErrorCode::NotRepairable, path.filename(), std::uint64_t{0});
    if (!condition || *condition == recovery::FileCondition::Sound) continue;
    plan.files.push_back(*plan.found->match.fileOfName[i]);
    names.push_back(descriptor.pieces[i].name.native());
  }
  if (!names.empty() && !verdict.repairable) {
    throw VokError(ErrorCode::NotRepairable, vokPath.filename(),
                   std::uint64_t{verdict.tooManyToSolve ? 0 : verdict.blocksNeeded});
  }
  plan.outputs = PlanOutputs(plan.folder, names, {}, ErrorCode::OutputIsInput);
  return plan;
}

RepairResult RepairPieces(const RepairPlan& plan, bool replaceExisting, const Progress& progress) {
  if (plan.outputs.empty()) return {};
  if (plan.ExistingCount() > 0 && !replaceExisting) throw VokError(ErrorCode::OutputExists, FirstExisting(plan.outputs));
  OutputSet outputs(plan.folder, plan.outputs);
  try {
    std::vector<File> files;
    files.reserve(plan.outputs.size());  // handed out by address
    std::vector<recovery::FileOutput> targets;
    for (std::size_t i = 0; i < plan.outputs.size(); ++i) {
      files.push_back(outputs.Create(i));
      targets.push_back({plan.files[i], &files.back()});
    }
    const FoundRecovery& found = *plan.found;
    if (!recovery::WriteFiles(found.Set(), found.verdict, targets, progress)) {
      throw VokError(ErrorCode::NotRepairable, plan.vokPath.filename(), std::uint64_t{0});
    }
    for (File& file : files) file.Close();
    outputs.Commit();
    return {static_cast<int>(plan.outputs.size()), outputs.NotRemoved()};
  } catch (...) {
    outputs.Abandon();
    throw;
  }
}

std::optional<CarriedDescriptor> FindCarriedDescriptor(const std::filesystem::path& given) {
  const NativeString folder = FolderPart(given.native());
  const NativeString givenName = NamePart(given.native());
  const bool fromSet = IsRecoveryFileName(givenName);
  std::vector<std::filesystem::path> candidates;
  if (fromSet) {
    candidates.push_back(given);
  } else {
    for (const NativeString& name : FileNamesIn(folder)) {
      if (IsRecoveryFileName(name)) candidates.emplace_back(folder + name);
    }
  }
  for (const recovery::RecoverySet& set : recovery::ReadRecoverySets(candidates).sets) {
    if (!set.descriptor) continue;
    Descriptor descriptor;
    try {
      descriptor = ParseDescriptor(*set.descriptor, given.filename());
    } catch (const VokError&) {
      continue;  // no descriptor this program would write
    }
    const NativeString vokName = StemOf(descriptor.sourceName.native()) + VOKRAM_NATIVE(".vok");
    if (!fromSet && !SameName(vokName, givenName)) continue;
    CarriedDescriptor carried{std::filesystem::path(folder + vokName), *set.descriptor, {}};
    carried.output = PlanOutputs(folder, {vokName}, {}, ErrorCode::OutputIsInput).front();
    return carried;
  }
  return std::nullopt;
}

void WriteCarriedDescriptor(const CarriedDescriptor& carried, bool replaceExisting) {
  if (carried.output.exists) {
    if (const auto length = FileLength(carried.vokPath); length == carried.bytes.size()) {
      std::vector<std::uint8_t> now(carried.bytes.size());
      File file = File::OpenRead(carried.vokPath);
      const bool same = file.ReadExact(now.data(), now.size()) && now == carried.bytes;
      file.Close();
      if (same) return;
    }
    if (!replaceExisting) throw VokError(ErrorCode::OutputExists, carried.vokPath);
  }
  OutputSet outputs(FolderPart(carried.vokPath.native()), {carried.output});
  try {
    File file = outputs.Create(0);
    file.Write(carried.bytes.data(), carried.bytes.size());
    file.Close();
    outputs.Commit();
  } catch (...) {
    outputs.Abandon();
    throw;
  }
}

}  // namespace vokram
