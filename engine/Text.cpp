#include "Text.h"

#include <algorithm>

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

NativeChar Upper(NativeChar c) noexcept {
  return c >= VOKRAM_NATIVE('a') && c <= VOKRAM_NATIVE('z') ? static_cast<NativeChar>(c - 'a' + 'A') : c;
}

bool EqualsIgnoringAsciiCase(NativeView a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != static_cast<NativeChar>(b[i])) return false;
  }
  return true;
}

// Windows takes these names for devices, whatever follows the first "." and
// in any case: writing "NUL.000" writes nowhere.
bool IsDeviceName(NativeView name) noexcept {
  NativeView stem = name.substr(0, name.find(VOKRAM_NATIVE('.')));
  while (!stem.empty() && stem.back() == VOKRAM_NATIVE(' ')) stem.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualsIgnoringAsciiCase(stem, device)) return true;
  }
  if (stem.size() < 4) return false;
  const bool com = EqualsIgnoringAsciiCase(stem.substr(0, 3), "COM");
  if (!com && !EqualsIgnoringAsciiCase(stem.substr(0, 3), "LPT")) return false;
  // COM1-COM9 and LPT1-LPT9, also with the superscript digits 1, 2 and 3.
  const NativeView n = stem.substr(3);
  return (n.size() == 1 && n[0] >= VOKRAM_NATIVE('1') && n[0] <= VOKRAM_NATIVE('9')) ||
         n == VOKRAM_NATIVE("¹") || n == VOKRAM_NATIVE("²") || n == VOKRAM_NATIVE("³");
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

bool HasForbiddenNameChar(NativeView name) noexcept {
  return std::any_of(name.begin(), name.end(), IsForbiddenNameChar);
}

bool IsValidBaseName(NativeView name) noexcept {
  if (HasForbiddenNameChar(name)) return false;
  // Windows drops a trailing dot or space from a name, so such a name is
  // another file's there.
  if (!name.empty() && (name.back() == VOKRAM_NATIVE('.') || name.back() == VOKRAM_NATIVE(' '))) return false;
  return name.empty() || !IsDeviceName(name);
}

bool IsPlainFileName(NativeView name) noexcept {
  return !name.empty() && IsValidBaseName(name);
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
