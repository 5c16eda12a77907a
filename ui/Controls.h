// Controls described as data: class, style, caption and place in twips
// relative to the parent (the window or a panel). Creating them in table
// order sets their z-order; laying them out again serves DPI changes.
#pragma once

#include <windows.h>

#include <span>
#include <string>

namespace vokram::ui {

// The class of the panels: a plain container whose controls hide with it and
// whose commands reach the top-level window.
inline constexpr wchar_t kPanelClass[] = L"VokramPanel";

struct ControlDef {
  int id;
  int parentId;  // 0: the top-level window
  const wchar_t* className;
  DWORD style;  // WS_CHILD is added
  DWORD exStyle;
  const wchar_t* text;
  int left, top, width, height;  // twips
};

// Creates every control, parents first; returns false if one fails.
bool CreateControls(HWND window, std::span<const ControlDef> defs);
// Gives every control the font and places it for the DPI. The caller deletes
// the font the controls held before only after this.
void LayoutControls(HWND window, std::span<const ControlDef> defs, UINT dpi, HFONT font);

// A control anywhere under the window, found by its (unique) ID.
HWND FindControl(HWND window, int id) noexcept;

std::wstring GetText(HWND control);
void SetText(HWND control, const std::wstring& text);
// Adds text at the end of a text box, without rebuilding its whole text.
void AppendText(HWND textBox, const std::wstring& text);

}  // namespace vokram::ui
