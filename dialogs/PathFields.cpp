#include "PathFields.h"

namespace vokram {

std::wstring TidyPathField(std::wstring text) {
  const auto first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return {};
  text.erase(text.find_last_not_of(L' ') + 1);
  text.erase(0, first);
  return text;
}

std::optional<std::wstring> FirstDroppedPath(const std::vector<std::wstring>& paths) {
  if (paths.empty()) return std::nullopt;
  return paths.front();
}

}  // namespace vokram
