// The pickers behind the window's browse buttons. Each blocks until its
// dialog closes and returns empty text after a cancel.
#pragma once

#include <windows.h>

#include <string>

#include "FileDialogRules.h"

namespace vokram {

// The shell's folder browser, owned by owner: the chosen folder's path.
// A folder without a file-system path counts as a cancel.
std::wstring BrowseFolder(HWND owner);

// The save-style file dialog set up for any one file: its full path.
std::wstring BrowseFile(HWND owner);

// Normalises params in place, runs the save-style file dialog and returns a
// copy of params with FullPath, FolderPath, FileTitle and Result filled in.
FileDialogParams ShowFileDialog(HWND owner, FileDialogParams& params);

}  // namespace vokram
