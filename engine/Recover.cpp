#include "Recover.h"

#include <algorithm>

#include "File.h"

namespace vokram {

namespace {

bool IsPar2Name(const NativeString& name) {
  if (name.size() < 5) return false;
  NativeString ending = name.substr(name.size() - 5);
  for (NativeChar& c : ending) {
    if (c >= 'A' && c <= 'Z') c = static_cast<NativeChar>(c - 'A' + 'a');
  }
  return ending == VOKRAM_NATIVE(".par2");
}

}  // namespace

bool HasRecoveryFiles(const NativeString& folder) {
  const std::vector<NativeString> names = FileNamesIn(folder);
  return std::any_of(names.begin(), names.end(), IsPar2Name);
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
                                          const Progress& progress) {
  const NativeString folder = FolderPart(vokPath.native());
  std::vector<std::filesystem::path> candidates;
  for (const NativeString& name : FileNamesIn(folder)) {
    if (IsPar2Name(name)) candidates.emplace_back(folder + name);
  }
  if (candidates.empty()) return std::nullopt;
  FoundRecovery found;
  found.reading = recovery::ReadRecoverySets(candidates, Progress{nullptr, progress.stop});
  std::vector<std::filesystem::path> names, paths;
  for (const DescriptorPiece& piece : descriptor.pieces) {
    names.push_back(piece.name);
    paths.emplace_back(folder + piece.name.native());
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
  found.verdict = recovery::VerifySet(found.Set(), found.paths, progress);
  return found;
}

}  // namespace vokram
