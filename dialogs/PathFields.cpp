#include "PathFields.h"

#include "Text.h"

namespace vokram {

std::wstring TidyPathField(std::wstring text) { return TrimSpaces<wchar_t>(text); }

std::optional<std::wstring> FirstDroppedPath(const std::vector<std::wstring>& paths) {
  if (paths.empty()) return std::nullopt;
  return paths.front();
}

}  // namespace vokram
