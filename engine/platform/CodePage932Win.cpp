#include <windows.h>

#include "../CodePage932.h"

namespace vokram {

namespace {
// Given explicitly, never CP_ACP: descriptors must read the same on any system.
constexpr UINT kCodePage = 932;
}  // namespace

std::optional<std::string> EncodeCp932(const std::filesystem::path& name) {
  const std::wstring& wide = name.native();
  if (wide.empty()) return std::string();
  BOOL usedDefault = FALSE;
  const int bytes = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                                        static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
  if (bytes <= 0 || usedDefault) return std::nullopt;
  std::string result(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      result.data(), bytes, nullptr, &usedDefault);
  if (usedDefault) return std::nullopt;
  // Some characters map one way only; a name must read back as itself.
  const auto back = DecodeCp932(result);
  if (!back || back->native() != wide) return std::nullopt;
  return result;
}

std::optional<std::filesystem::path> DecodeCp932(std::string_view bytes) {
  if (bytes.empty()) return std::filesystem::path();
  const int chars = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                        static_cast<int>(bytes.size()), nullptr, 0);
  if (chars <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                      wide.data(), chars);
  return std::filesystem::path(wide);
}

}  // namespace vokram
