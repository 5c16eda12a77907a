// Geometry is designed in twips (1/1440 inch); these turn it into pixels for
// the DPI of the monitor a window is on, and give the system's message font
// at that DPI.
#pragma once

#include <windows.h>

#include "Handles.h"
#include "Twips.h"

namespace vokram::ui {

// 96 when the system cannot tell (a window not yet on a monitor).
UINT WindowDpi(HWND window) noexcept;

// The font the system uses for message boxes (the Japanese UI font on a
// Japanese system), sized for the given DPI.
UniqueFont CreateMessageFont(UINT dpi);

// The outer size of a window whose client area is the given twips.
SIZE WindowSizeForClient(int widthTwips, int heightTwips, DWORD style, DWORD exStyle, bool hasMenu,
                         UINT dpi);

}  // namespace vokram::ui
