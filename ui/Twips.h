// Design geometry is in twips (1/1440 inch). Plain arithmetic, free of
// <windows.h>, and tested on its own (ui_layout_test).
#pragma once

namespace vokram::ui {

// Rounded to the nearest pixel, halves away from zero; 15 twips are one pixel
// at 96 DPI.
constexpr int TwipsToPixels(int twips, unsigned dpi) noexcept {
  const long long scaled = static_cast<long long>(twips) * dpi;
  return static_cast<int>(scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 720) / 1440));
}

}  // namespace vokram::ui
