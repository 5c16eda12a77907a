// Path text as the front ends hold it: std::wstring on Windows, UTF-8
// std::string elsewhere. Folder separators are "\" and "/" on Windows, "/"
// elsewhere.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Types.h"

// A literal of the native character type: L"..." on Windows, "..." elsewhere.
#ifdef _WIN32
#define VOKRAM_NATIVE(s) L##s
#else
#define VOKRAM_NATIVE(s) s
#endif

namespace vokram {

bool IsSeparator(NativeChar c) noexcept;

// Position just after the last separator (0 when there is none).
std::size_t AfterLastSeparator(NativeView text) noexcept;

// The text up to and including its last separator; empty when it has none.
NativeString FolderPart(NativeView text);
// The text after its last separator; the whole text when it has none.
NativeString NamePart(NativeView text);
// A name cut before its last "."; the whole name when it holds none.
NativeString StemOf(NativeView name);

// A folder with a separator appended unless it already ends in one.
// An empty folder stays empty: names are then relative to the current folder.
NativeString WithTrailingSeparator(NativeView folder);

// Leading and trailing ASCII spaces removed; inner spaces stay. For text of
// either width (the pickers hold UTF-16 on every system).
template <class Char>
std::basic_string<Char> TrimSpaces(std::basic_string_view<Char> text) {
  const auto first = text.find_first_not_of(Char(' '));
  if (first == text.npos) return {};
  return std::basic_string<Char>(text.substr(first, text.find_last_not_of(Char(' ')) - first + 1));
}
inline NativeString TrimSpaces(NativeView text) { return TrimSpaces<NativeChar>(text); }

// A name that can stand in a folder on any system the program serves: not
// empty, no control character and none of \ / : * ? " < > |, not ending in
// "." or " " (so neither "." nor ".."), and no device name of Windows (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, with any extension, any case).
bool IsPlainFileName(NativeView name) noexcept;
// The same rules, but an empty base name is allowed (".000" pieces).
bool IsValidBaseName(NativeView name) noexcept;
// A control character or one of \ / : * ? " < > | in the name.
bool HasForbiddenNameChar(NativeView name) noexcept;

std::string ToUtf8(const std::filesystem::path& p);
std::filesystem::path PathFromUtf8(std::string_view utf8);
NativeString NativeFromUtf8(std::string_view utf8);

}  // namespace vokram
