#include "Journal.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>
#include <utility>

#include "Error.h"
#include "File.h"

namespace vokram {

namespace {

constexpr std::string_view kMagic = "VOKRAM-JOURNAL 1\n";
constexpr std::string_view kBegun = "BEGUN\n";
constexpr std::string_view kReady = "READY\n";
// A journal of 32,765 entries with names of 255 bytes stays far below this.
constexpr std::uint64_t kMaxJournalBytes = std::uint64_t{64} << 20;

// Names as the hexadecimal digits of their UTF-8 bytes: any name, one word.
std::string Hex(const NativeString& name) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const std::string bytes = ToUtf8(std::filesystem::path(name));
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::optional<NativeString> FromHex(std::string_view hex) {
  if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (error != std::errc() || end != hex.data() + i + 2) return std::nullopt;
    bytes += static_cast<char>(value);
  }
  NativeString name = NativeFromUtf8(bytes);
  if (ToUtf8(std::filesystem::path(name)) != bytes) return std::nullopt;  // not UTF-8
  return name;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  while (!line.empty()) {
    const std::size_t space = line.find(' ');
    words.push_back(line.substr(0, space));
    if (space == std::string_view::npos) break;
    line.remove_prefix(space + 1);
  }
  return words;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// One entry line before "begun"; false for anything this program never writes.
bool ParseEntry(std::string_view line, JournalEntry& entry) {
  const auto words = Words(line);
  if (words.empty() || words[0].size() != 1) return false;
  auto name = [](std::string_view hex, bool temporary, NativeString& out) {
    auto decoded = FromHex(hex);
    if (!decoded || !IsPlainFileName(*decoded) || (temporary && !IsTemporaryName(*decoded))) return false;
    out = std::move(*decoded);
    return true;
  };
  switch (words[0][0]) {
    case 'N':
      entry.kind = JournalEntry::Kind::New;
      return words.size() == 3 && name(words[1], true, entry.temporary) && name(words[2], false, entry.name);
    case 'R':
      entry.kind = JournalEntry::Kind::Replace;
      return words.size() == 4 && name(words[1], true, entry.temporary) && name(words[2], false, entry.name) &&
             name(words[3], true, entry.backup);
    case 'D':
      entry.kind = JournalEntry::Kind::Remove;
      return words.size() == 3 && name(words[1], false, entry.name) && name(words[2], true, entry.backup);
    default:
      return false;
  }
}

bool ParseWritten(std::string_view line, JournalEntry& entry) {
  const auto words = Words(line);
  FileIdentity identity;
  if (words.size() != 4 || words[0] != "T" || !ParseNumber(words[1], identity.volume) ||
      !ParseNumber(words[2], identity.index) || !ParseNumber(words[3], entry.attributes)) {
    return false;
  }
  entry.written = identity;
  return true;
}

std::filesystem::path In(const NativeString& folder, const NativeString& name) {
  return std::filesystem::path(folder + name);
}

[[noreturn]] void Stuck(const JournalEntry& entry) {
  throw VokError(ErrorCode::FolderChanged, std::filesystem::path(entry.name),
                 ToUtf8(std::filesystem::path(entry.backup)));
}

}  // namespace

std::filesystem::path JournalPath(const NativeString& folder) {
  return In(folder, NativeString(kJournalName.begin(), kJournalName.end()));
}

std::filesystem::path JournalDraftPath(const NativeString& folder) {
  return In(folder, NativeString(kJournalDraftName.begin(), kJournalDraftName.end()));
}

bool IsJournalName(NativeView name) noexcept {
  auto is = [name](std::string_view journal) {
    return name.size() == journal.size() && std::equal(name.begin(), name.end(), journal.begin(), [](NativeChar a, char b) {
             return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == static_cast<NativeChar>(b);
           });
  };
  return is(kJournalName) || is(kJournalDraftName);
}

bool IsTemporaryName(NativeView name) noexcept {
  constexpr std::size_t kFixed = 8;  // "~vok" and ".tmp"
  if (name.size() < kFixed + 4 || name.substr(0, 4) != VOKRAM_NATIVE("~vok") ||
      name.substr(name.size() - 4) != VOKRAM_NATIVE(".tmp")) {
    return false;
  }
  for (std::size_t i = 4; i < name.size() - 4; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

NativeString TemporaryName(unsigned number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  const std::string name = "~vok" + digits + ".tmp";
  return NativeString(name.begin(), name.end());
}

std::string EncodeJournalHead(const std::vector<JournalEntry>& entries) {
  std::string text(kMagic);
  for (const JournalEntry& e : entries) {
    text += static_cast<char>(e.kind);
    if (e.kind != JournalEntry::Kind::Remove) text += ' ' + Hex(e.temporary);
    text += ' ' + Hex(e.name);
    if (e.kind != JournalEntry::Kind::New) text += ' ' + Hex(e.backup);
    text += '\n';
  }
  text += kBegun;
  return text;
}

std::string EncodeJournalReady(const std::vector<JournalEntry>& entries) {
  std::string text;
  for (const JournalEntry& e : entries) {
    if (e.kind == JournalEntry::Kind::Remove) continue;
    const FileIdentity id = e.written.value_or(FileIdentity{});
    text += "T " + std::to_string(id.volume) + ' ' + std::to_string(id.index) + ' ' + std::to_string(e.attributes) +
            '\n';
  }
  text += kReady;
  return text;
}

JournalReading ParseJournal(std::string_view text, Journal& journal) {
  journal = {};
  if (!text.starts_with(kMagic)) {
    // Cut short within its first line is still ours.
    return kMagic.starts_with(text) ? JournalReading::Torn : JournalReading::Foreign;
  }
  text.remove_prefix(kMagic.size());
  auto nextLine = [&text]() -> std::optional<std::string_view> {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // a last line cut short
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return line;
  };
  for (;;) {
    const auto line = nextLine();
    if (!line) return JournalReading::Torn;
    if (*line == kBegun.substr(0, kBegun.size() - 1)) break;
    JournalEntry entry;
    if (!ParseEntry(*line, entry)) return JournalReading::Foreign;
    journal.entries.push_back(std::move(entry));
  }
  // Identities, then "ready"; cut short anywhere, no name had changed yet.
  std::vector<JournalEntry> ready = journal.entries;
  for (JournalEntry& entry : ready) {
    if (entry.kind == JournalEntry::Kind::Remove) continue;
    const auto line = nextLine();
    if (!line || !ParseWritten(*line, entry)) return JournalReading::Valid;
  }
  if (nextLine() != kReady.substr(0, kReady.size() - 1)) return JournalReading::Valid;
  journal.entries = std::move(ready);
  journal.stage = JournalStage::Ready;
  if (nextLine() == kJournalCommit.substr(0, kJournalCommit.size() - 1)) journal.stage = JournalStage::Committed;
  return JournalReading::Valid;
}

void UndoJournal(const NativeString& folder, const Journal& journal) {
  const bool namesMayHaveChanged = journal.stage != JournalStage::Begun;
  // Last first: each name goes back in the reverse of the order it changed.
  for (auto e = journal.entries.rbegin(); e != journal.entries.rend(); ++e) {
    const auto name = In(folder, e->name);
    const auto current = namesMayHaveChanged ? NameIdentity(name) : std::nullopt;
    if (namesMayHaveChanged && e->kind != JournalEntry::Kind::New && NameExists(In(folder, e->backup))) {
      const auto backup = In(folder, e->backup);
      try {
        if (current && current == NameIdentity(backup)) {
          // Not yet changed: the kept file is a second name of the old one.
          if (!RemoveFile(backup)) Stuck(*e);
        } else if (e->kind == JournalEntry::Kind::Remove) {
          if (current || !RenameIfAbsent(backup, name)) Stuck(*e);
        } else if (!current || current == e->written) {
          PutBack(backup, name, e->attributes);
        } else {
          Stuck(*e);  // neither the old file nor this run's stands there now
        }
      } catch (const VokError& error) {
        if (error.Code() == ErrorCode::FolderChanged) throw;
        Stuck(*e);
      }
    } else if (namesMayHaveChanged && e->kind == JournalEntry::Kind::New && e->written && current == e->written) {
      if (!RemoveFile(name)) Stuck(*e);
    }
    if (e->kind != JournalEntry::Kind::Remove) RemoveFile(In(folder, e->temporary));
  }
}

std::vector<NativeString> FinishJournal(const NativeString& folder, const Journal& journal) {
  std::vector<NativeString> left;
  for (const JournalEntry& e : journal.entries) {
    auto remove = [&](const NativeString& name) {
      const auto path = In(folder, name);
      if (NameExists(path) && !RemoveFile(path)) left.push_back(name);
    };
    if (e.kind != JournalEntry::Kind::New) remove(e.backup);
    if (e.kind != JournalEntry::Kind::Remove) remove(e.temporary);
  }
  return left;
}

namespace {

// The whole journal, bounded; nothing when it is too long to be one.
std::optional<std::string> ReadAll(File& file) {
  const std::uint64_t size = file.Size();
  if (size > kMaxJournalBytes) return std::nullopt;
  std::string text(static_cast<std::size_t>(size), '\0');
  text.resize(file.Read(text.data(), text.size()));
  return text;
}

// A journal (or its draft) opened with its lock held, and read. Nothing when
// the name went meanwhile (another run settled it); VokError(IoFailed,
// FolderBusy) while a run holds it, or for a file of that name that is no
// journal of this program's.
std::optional<std::pair<File, Journal>> TakeJournal(const std::filesystem::path& path, JournalReading& reading) {
  if (!NameExists(path)) return std::nullopt;
  bool held = false;
  std::optional<File> file = File::OpenToSettle(path, held);
  if (!file) {
    if (!held && !NameExists(path)) return std::nullopt;
    throw VokError(ErrorCode::IoFailed, path, Cause::FolderBusy);
  }
  Journal journal;
  const auto text = ReadAll(*file);
  reading = text ? ParseJournal(*text, journal) : JournalReading::Foreign;
  if (reading == JournalReading::Foreign) throw VokError(ErrorCode::IoFailed, path, Cause::FolderBusy);
  return std::pair(std::move(*file), std::move(journal));
}

}  // namespace

Settlement SettleInterruptedRun(const NativeString& folder) {
  JournalReading reading = JournalReading::Foreign;
  // A draft that a crash left before it took its name: nothing was written
  // yet, so it only goes.
  if (auto draft = TakeJournal(JournalDraftPath(folder), reading)) {
    draft->first = File();
    RemoveFile(JournalDraftPath(folder));
  }
  auto taken = TakeJournal(JournalPath(folder), reading);
  if (!taken) return Settlement::None;
  const Journal& journal = taken->second;
  Settlement settled = Settlement::RolledBack;
  bool clean = true;
  if (reading == JournalReading::Valid && journal.stage == JournalStage::Committed) {
    settled = Settlement::Completed;
    clean = FinishJournal(folder, journal).empty();
  } else if (reading == JournalReading::Valid) {
    UndoJournal(folder, journal);
    for (const JournalEntry& e : journal.entries) {
      if (e.kind != JournalEntry::Kind::Remove && NameExists(In(folder, e.temporary))) clean = false;
    }
  }
  if (journal.stage != JournalStage::Begun) SyncFolder(folder);
  taken->first = File();  // closed before it goes (Windows)
  // A journal that could not be carried out in full stays for the next run.
  if (clean) RemoveFile(JournalPath(folder));
  return settled;
}

Settlement PendingSettlement(const NativeString& folder) {
  const auto path = JournalPath(folder);
  if (!NameExists(path)) return Settlement::None;
  Journal journal;
  try {
    File file = File::OpenRead(path);
    const auto text = ReadAll(file);
    if (!text) return Settlement::None;
    switch (ParseJournal(*text, journal)) {
      case JournalReading::Foreign: return Settlement::None;
      case JournalReading::Torn: return Settlement::RolledBack;
      case JournalReading::Valid: break;
    }
  } catch (const VokError&) {
    return Settlement::None;  // held by a run that is writing, or unreadable: nothing to tell yet
  }
  return journal.stage == JournalStage::Committed ? Settlement::Completed : Settlement::RolledBack;
}

}  // namespace vokram
