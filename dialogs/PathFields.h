// The text rules of the window's four path boxes, apart from the window.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vokram {

// The text a path box keeps when it gains the focus: leading and trailing
// ASCII spaces removed, inner spaces kept. Selecting it is the window's part.
std::wstring TidyPathField(std::wstring text);

// The path a drop puts into a box: the first entry of the shell's list,
// exactly as the list holds it; nothing when the list is empty.
std::optional<std::wstring> FirstDroppedPath(const std::vector<std::wstring>& paths);

}  // namespace vokram
