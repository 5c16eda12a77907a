// The pickers behind the browse buttons. The window calls them through here
// so that its in-process tests can answer in place of a user.
#pragma once

#include <windows.h>

#include <string>

namespace vokram::ui {

// Shows a picker owned by owner and returns its result (empty after a cancel).
using PickerFunction = std::wstring (*)(HWND owner);
// nullptr restores the system's picker.
void SetPickerFunctions(PickerFunction file, PickerFunction folder) noexcept;

std::wstring PickFile(HWND owner);
std::wstring PickFolder(HWND owner);

}  // namespace vokram::ui
