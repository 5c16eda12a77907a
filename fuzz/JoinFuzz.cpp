// Any bytes as a descriptor, whose last byte also picks the set-up (a reader
// ignores what follows the last record): output into its own folder or into
// the pieces' folder; with or without an older file under the output's name,
// or a link there to a file outside; with or without consent to replace.
// Whatever the join does, no input changes, no temporary file remains, a file
// of the output's name is replaced only with consent and only by a result
// that matches its record, and nothing is written through a link. A name the
// file system refuses (too long in UTF-8) is an outcome, not a harness fault.
#include <cstdlib>
#include <map>
#include <optional>

#include "Descriptor.h"
#include "Error.h"
#include "FuzzSupport.h"
#include "Join.h"
#include "Text.h"

namespace {

namespace fs = std::filesystem;

// A file named as the join names its temporary (~vokNNNN.tmp) that is not
// the run's own output, which a descriptor may name so too.
bool HasTemporary(const fs::path& folder, const std::optional<fs::path>& output) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    const bool temporaryName = name.size() >= 12 && name.rfind("~vok", 0) == 0 &&
                               name.substr(name.size() - 4) == ".tmp" &&
                               name.find_first_not_of("0123456789", 4) == name.size() - 4;
    if (temporaryName && !(output && entry.path() == *output)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace vf = vokram::fuzz;
  const std::uint8_t mode = size > 0 ? data[size - 1] : 0;
  const auto vok = vf::WriteInput(data, size);
  const bool intoPieces = (mode & 1) != 0, withOlder = (mode & 2) != 0, consent = (mode & 4) != 0;
  const bool olderIsLink = (mode & 8) != 0;
  const fs::path out = intoPieces ? vf::Workspace() : vf::Workspace() / "out";
  fs::remove_all(vf::Workspace() / "out");
  fs::create_directory(vf::Workspace() / "out");
  const std::string descriptorBytes = vf::Contents(vok);
  // In a folder of its own: a descriptor cannot name it.
  fs::create_directory(vf::Workspace() / "outside");
  const fs::path victim = vf::Workspace() / "outside" / "victim";
  const std::string victimBytes = "outside the output folder";
  vf::Write(victim, victimBytes);

  // An older file, or a link to one outside, under the output's name where
  // that name is free and the file system takes it.
  std::optional<fs::path> older;
  const std::string olderBytes = "an older file";
  if (withOlder) {
    try {
      const fs::path candidate = out / vokram::ReadDescriptor(vok).sourceName;
      std::error_code error;
      const bool free = !fs::exists(fs::symlink_status(candidate, error)) && !error;
      if (free && olderIsLink) {
        fs::create_symlink(victim, candidate, error);
        if (!error) older = candidate;
      } else if (free) {
        vf::Write(candidate, olderBytes);
        if (fs::exists(candidate, error)) older = candidate;
      }
    } catch (const vokram::VokError&) {
    }
  }

  // Size and time of change of every piece: cheaper than their bytes, and
  // any write changes the time.
  std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> before;
  for (const auto& entry : vf::Pieces()) {
    const fs::path piece = vf::Workspace() / fs::u8path(entry.first);
    before[entry.first] = {fs::file_size(piece), fs::last_write_time(piece)};
  }

  std::optional<vokram::JoinResult> result;
  try {
    result = vokram::JoinFile(vokram::PlanJoin(vok, out.native()), {consent});
    if (result->outputPath.parent_path() != out) std::abort();
  } catch (const vokram::VokError& e) {
    // Without consent an older file of the output's name stops the join.
    if (older && !consent && e.Code() != vokram::ErrorCode::OutputExists &&
        e.Code() != vokram::ErrorCode::OutputIsInput) {
      std::abort();
    }
  }
  if (older && !consent && result) std::abort();
  if (vf::Contents(victim) != victimBytes || fs::is_symlink(victim)) std::abort();

  const std::optional<fs::path> output = result ? std::optional(result->outputPath) : std::nullopt;
  if (HasTemporary(vf::Workspace(), output) || HasTemporary(vf::Workspace() / "out", output)) std::abort();
  if (vf::Contents(vok) != descriptorBytes) std::abort();
  for (const auto& [name, stamp] : before) {
    const fs::path piece = vf::Workspace() / fs::u8path(name);
    // Only an unlisted piece may be the output itself.
    std::error_code error;
    if (output && fs::equivalent(*output, piece, error)) continue;
    if (fs::file_size(piece) != stamp.first || fs::last_write_time(piece) != stamp.second) std::abort();
  }
  if (older) {
    const bool replaced = result && !result->keptOlderFile;
    if (replaced && !result->matchesRecord) std::abort();
    if (!replaced && olderIsLink && !fs::is_symlink(*older)) std::abort();
    if (!replaced && !olderIsLink && vf::Contents(*older) != olderBytes) std::abort();
    if (result && result->keptOlderFile && result->matchesRecord) std::abort();
  } else if (result && !result->keptOlderFile && fs::file_size(result->outputPath) != result->size) {
    std::abort();
  }
  if (older && !(result && !result->keptOlderFile)) fs::remove(*older);
  fs::remove(victim);
  if (intoPieces && output) {
    // The run's own result in the pieces' folder: gone, or the piece it replaced restored.
    if (vf::Pieces().count(vokram::ToUtf8(output->filename())) == 0) fs::remove(*output);
    vf::RestorePieces();
  }
  return 0;
}
