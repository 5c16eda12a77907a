#include "ZoneMark.h"

#include <algorithm>
#include <climits>

#include "File.h"

namespace vokram {

namespace {

constexpr std::string_view kStream = "Zone.Identifier";
constexpr int kZoneInternet = 3;
constexpr int kZoneRestricted = 4;

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) noexcept {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The system reads these texts as profile files: names ignore case.
bool NameIs(std::string_view s, std::string_view lowerName) noexcept {
  return s.size() == lowerName.size() &&
         std::equal(s.begin(), s.end(), lowerName.begin(), [](char a, char b) { return Lower(a) == b; });
}

std::optional<int> ParseZone(std::string_view digits) noexcept {
  if (digits.empty()) return std::nullopt;
  long long value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > INT_MAX) return std::nullopt;
  }
  return static_cast<int>(value);
}

// A text too long to be a mark was cut when it was read: what it seems to say
// is not what the whole says.
std::optional<int> ReadableZone(std::string_view mark) {
  if (mark.size() > kMaxMarkBytes) return std::nullopt;
  return ZoneIdOf(mark);
}

// Readable zones rank at 2 * zone + 1; an unreadable mark ranks between the
// trusted zone and internet: above every zone safer than internet, below a
// mark that says internet outright. Unknown zones rank as restricted.
int RankOf(const std::string& mark) {
  const std::optional<int> zone = ReadableZone(mark);
  if (!zone) return 2 * kZoneInternet;
  return 2 * std::min(*zone, kZoneRestricted) + 1;
}

}  // namespace

std::optional<int> ZoneIdOf(std::string_view mark) {
  if (mark.starts_with("\xEF\xBB\xBF")) mark.remove_prefix(3);
  bool inZoneTransfer = false;
  while (!mark.empty()) {
    const std::size_t end = mark.find('\n');
    std::string_view line = mark.substr(0, end);
    mark.remove_prefix(end == std::string_view::npos ? mark.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = Trim(line);
    if (line.starts_with('[')) {
      const std::size_t close = line.find(']');
      inZoneTransfer = close != std::string_view::npos && NameIs(Trim(line.substr(1, close - 1)), "zonetransfer");
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inZoneTransfer || equals == std::string_view::npos) continue;
    // The first ZoneId decides, as with the system's profile reader.
    if (NameIs(Trim(line.substr(0, equals)), "zoneid")) return ParseZone(Trim(line.substr(equals + 1)));
  }
  return std::nullopt;
}

std::optional<std::string> MostRestrictiveMark(const std::vector<std::optional<std::string>>& marks) {
  const std::string* best = nullptr;
  int bestRank = -1;
  for (const auto& mark : marks) {
    if (!mark) continue;
    const int rank = RankOf(*mark);
    if (rank > bestRank) {
      best = &*mark;
      bestRank = rank;
    }
  }
  if (!best) return std::nullopt;
  return *best;
}

std::string MarkToWrite(std::string_view mark) {
  if (ReadableZone(mark)) return std::string(mark);
  return "[ZoneTransfer]\r\nZoneId=3\r\n";
}

std::optional<std::string> ReadZoneMark(const std::filesystem::path& file) {
  std::optional<File> stream = File::OpenStream(file, kStream, false);
  if (!stream) return std::nullopt;
  // One byte past the longest mark: a longer stream is known as one by its
  // length, never handed on cut short as if it were whole.
  std::string mark(kMaxMarkBytes + 1, '\0');
  mark.resize(stream->Read(mark.data(), mark.size()));
  return mark;
}

void WriteZoneMark(const std::filesystem::path& file, std::string_view mark) {
  const std::string text = MarkToWrite(mark);
  std::optional<File> stream = File::OpenStream(file, kStream, true);
  if (!stream) return;
  stream->Write(text.data(), text.size());
  // Synced at its close, as every written file is where a whole volume cannot be.
  stream->Close();
}

}  // namespace vokram
