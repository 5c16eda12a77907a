#include "Text.h"

namespace vokram {

namespace {

bool IsForbiddenNameChar(NativeChar c) noexcept {
  if (static_cast<unsigned long>(c) < 0x20) return true;
  switch (c) {
    case VOKRAM_NATIVE('\\'): case VOKRAM_NATIVE('/'): case VOKRAM_NATIVE(':'): case VOKRAM_NATIVE('*'):
    case VOKRAM_NATIVE('?'): case VOKRAM_NATIVE('"'): case VOKRAM_NATIVE('<'): case VOKRAM_NATIVE('>'):
    case VOKRAM_NATIVE('|'):
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsSeparator(NativeChar c) noexcept {
#ifdef _WIN32
  return c == L'\\' || c == L'/';
#else
  return c == '/';
#endif
}

std::size_t AfterLastSeparator(NativeView text) noexcept {
  for (std::size_t i = text.size(); i > 0; --i) {
    if (IsSeparator(text[i - 1])) return i;
  }
  return 0;
}

NativeString FolderPart(NativeView text) { return NativeString(text.substr(0, AfterLastSeparator(text))); }

NativeString NamePart(NativeView text) { return NativeString(text.substr(AfterLastSeparator(text))); }

NativeString StemOf(NativeView name) {
  const auto dot = name.rfind(VOKRAM_NATIVE('.'));
  return NativeString(dot == NativeView::npos ? name : name.substr(0, dot));
}

NativeString WithTrailingSeparator(NativeView folder) {
  NativeString result(folder);
  if (!result.empty() && !IsSeparator(result.back())) result += std::filesystem::path::preferred_separator;
  return result;
}

NativeString TrimSpaces(NativeView text) {
  const auto first = text.find_first_not_of(VOKRAM_NATIVE(' '));
  if (first == NativeView::npos) return {};
  const auto last = text.find_last_not_of(VOKRAM_NATIVE(' '));
  return NativeString(text.substr(first, last - first + 1));
}

bool IsValidBaseName(NativeView name) noexcept {
  for (NativeChar c : name) {
    if (IsForbiddenNameChar(c)) return false;
  }
  return true;
}

bool IsPlainFileName(NativeView name) noexcept {
  if (name.empty() || name == VOKRAM_NATIVE(".") || name == VOKRAM_NATIVE("..")) return false;
  return IsValidBaseName(name);
}

std::string ToUtf8(const std::filesystem::path& p) {
  const auto u8 = p.u8string();
  return std::string(u8.begin(), u8.end());
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

NativeString NativeFromUtf8(std::string_view utf8) { return PathFromUtf8(utf8).native(); }

}  // namespace vokram
