#include "Requests.h"

#include <charconv>
#include <cmath>

#include "File.h"

namespace vokram {

namespace {

class RealDisk final : public FileSystemView {
 public:
  bool IsExistingFile(NativeView path) const override { return IsVisibleFile(std::filesystem::path(path)); }
  bool IsExistingFolder(NativeView path) const override {
    return vokram::IsExistingFolder(std::filesystem::path(path));
  }
  std::optional<std::uint64_t> FileLength(NativeView path) const override {
    return vokram::FileLength(std::filesystem::path(path));
  }
};

// Full-width digits, signs, point and exponent letters as ASCII; input
// methods type them in Japanese mode.
std::string NarrowNumberText(NativeView text) {
  const std::string utf8 = ToUtf8(std::filesystem::path(NativeString(text)));
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == 0xEF && i + 2 < utf8.size()) {
      const auto b1 = static_cast<unsigned char>(utf8[i + 1]);
      const auto b2 = static_cast<unsigned char>(utf8[i + 2]);
      const unsigned code = 0xF000u | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);  // U+FFxx
      if (code >= 0xFF01 && code <= 0xFF5E) {
        const char ascii = static_cast<char>(code - 0xFF01 + 0x21);
        if ((ascii >= '0' && ascii <= '9') || ascii == '+' || ascii == '-' || ascii == '.' || ascii == 'e' ||
            ascii == 'E') {
          out += ascii;
          i += 2;
          continue;
        }
      }
    }
    out += static_cast<char>(c);
  }
  return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// sign? (digits ("." digits?)? | "." digits) (("e"|"E") sign? digits)?
bool IsDecimalNotation(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t mantissaDigits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++mantissaDigits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == s.size();
}

Rejection Refuse(ErrorCode code, Focus focus = Focus::Unchanged) { return {VokError(code, {}), focus}; }

// The engine's refusal, with the field where the user can mend it.
Rejection RefuseFor(const VokError& error) {
  switch (error.Code()) {
    case ErrorCode::SizeOutOfRange:
    case ErrorCode::TooManyPieces: return {error, Focus::MinSize};
    case ErrorCode::RecoveryTooLarge: return {error, Focus::MaxSize};
    // A base name is fixed in its field; a source name is not the user's to edit there.
    case ErrorCode::BadBaseName:
    case ErrorCode::ReservedBaseName:
    case ErrorCode::NameNotEncodable: return {error, error.File().empty() ? Focus::DstFileName : Focus::Unchanged};
    default: return {error, Focus::Unchanged};
  }
}

}  // namespace

const FileSystemView& RealFileSystem() {
  static const RealDisk disk;
  return disk;
}

std::optional<double> ParseNumberField(NativeView text) {
  std::string s = NarrowNumberText(TrimSpaces(text));
  if (!IsDecimalNotation(s)) return std::nullopt;
  if (s[0] == '+') s.erase(0, 1);  // from_chars takes no plus sign
  double value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too large, or too small to represent: the exponent's sign tells which.
    const auto e = s.find_first_of("eE");
    if (e != std::string::npos && s[e + 1] == '-') return 0.0;
    return s[0] == '-' ? -HUGE_VAL : HUGE_VAL;
  }
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

std::optional<std::int32_t> SizeInRange(double value) {
  const double rounded = std::nearbyint(value);  // halves to even in the default mode
  if (!(rounded >= 0 && rounded <= kMaxSizeKb)) return std::nullopt;
  return static_cast<std::int32_t>(rounded);
}

SplitValidation ValidateSplit(const SplitFields& fields, const SplitOptions& options,
                              const FileSystemView& fs, const RandomSource& random) {
  SplitValidation v{std::nullopt, Refuse(ErrorCode::SourceBlank)};
  const NativeString source = TrimSpaces(fields.srcFile);
  const NativeString dstDir = TrimSpaces(fields.dstDir);
  NativeString base = TrimSpaces(fields.dstFileName);
  const NativeString minText = TrimSpaces(fields.minSize);
  const NativeString maxText = TrimSpaces(fields.maxSize);

  if (source.empty()) return v;
  if (!fs.IsExistingFile(source)) return v.outcome = Refuse(ErrorCode::SourceMissing), v;
  if (dstDir.empty()) return v.outcome = Refuse(ErrorCode::DstDirBlank), v;
  if (!fs.IsExistingFolder(dstDir)) return v.outcome = Refuse(ErrorCode::FolderMissing), v;
  if (base.empty()) {
    base = StemOf(NamePart(source));
    v.derivedBaseName = base;
  }
  if (minText.empty()) return v.outcome = Refuse(ErrorCode::MinSizeBlank, Focus::MinSize), v;
  if (maxText.empty()) return v.outcome = Refuse(ErrorCode::MaxSizeBlank, Focus::MaxSize), v;
  const auto minValue = ParseNumberField(minText);
  if (!minValue) return v.outcome = Refuse(ErrorCode::NotNumeric, Focus::MinSize), v;
  const auto maxValue = ParseNumberField(maxText);
  if (!maxValue) return v.outcome = Refuse(ErrorCode::NotNumeric, Focus::MaxSize), v;
  const auto minimum = SizeInRange(*minValue);
  if (!minimum) return v.outcome = Refuse(ErrorCode::SizeOutOfRange, Focus::MinSize), v;
  const auto maximum = SizeInRange(*maxValue);
  if (!maximum) return v.outcome = Refuse(ErrorCode::SizeOutOfRange, Focus::MaxSize), v;

  SplitOptions withRecovery = options;
  withRecovery.recovery = 0;  // the field says
  if (fields.recovery) {
    const auto count = ParseNumberField(*fields.recovery);
    if (!count) return v.outcome = Refuse(ErrorCode::NotNumeric, Focus::Recovery), v;
    const double rounded = std::nearbyint(*count);
    if (!(rounded >= 1 && rounded <= kMaxRecovery)) {
      return v.outcome = Refuse(ErrorCode::RecoveryOutOfRange, Focus::Recovery), v;
    }
    withRecovery.recovery = static_cast<std::uint32_t>(rounded);
  }

  const auto length = fs.FileLength(source);
  if (!length) return v.outcome = Refuse(ErrorCode::SourceMissing), v;
  auto draw = DrawSplit(source, *length, dstDir, base, *minimum, *maximum, withRecovery, random);
  if (auto* refused = std::get_if<VokError>(&draw)) return v.outcome = RefuseFor(*refused), v;
  v.outcome = SplitRequest{source, *minimum, *maximum, std::move(std::get<SplitDraw>(draw))};
  return v;
}

std::variant<Rejection, JoinRequest> ValidateJoin(const JoinFields& fields, const FileSystemView& fs) {
  const NativeString vok = TrimSpaces(fields.vokFile);
  if (vok.empty()) return Refuse(ErrorCode::SourceBlank);
  if (!fs.IsExistingFile(vok)) return Refuse(ErrorCode::SourceMissing);
  if (!fields.saveToChosenFolder) return JoinRequest{vok, FolderPart(vok)};
  const NativeString saveDir = TrimSpaces(fields.saveDir);
  if (saveDir.empty()) return Refuse(ErrorCode::SaveDirBlank);
  if (!fs.IsExistingFolder(saveDir)) return Refuse(ErrorCode::FolderMissing);
  return JoinRequest{vok, saveDir};
}

std::optional<Rejection> ValidateCheck(NativeView vokFile, const FileSystemView& fs) {
  const NativeString vok = TrimSpaces(vokFile);
  if (vok.empty()) return Refuse(ErrorCode::SourceBlank);
  if (!fs.IsExistingFile(vok)) return Refuse(ErrorCode::SourceMissing);
  return std::nullopt;
}

}  // namespace vokram
