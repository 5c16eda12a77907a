#include "Dpi.h"

namespace vokram::ui {

UINT WindowDpi(HWND window) noexcept {
  const UINT dpi = window ? GetDpiForWindow(window) : GetDpiForSystem();
  return dpi ? dpi : USER_DEFAULT_SCREEN_DPI;
}

UniqueFont CreateMessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
    return UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
  }
  // Older systems: the 96-DPI metrics, scaled by hand.
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                            USER_DEFAULT_SCREEN_DPI);
    return UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
  }
  return UniqueFont();
}

SIZE WindowSizeForClient(int widthTwips, int heightTwips, DWORD style, DWORD exStyle, bool hasMenu,
                         UINT dpi) {
  RECT rect{0, 0, TwipsToPixels(widthTwips, dpi), TwipsToPixels(heightTwips, dpi)};
  AdjustWindowRectExForDpi(&rect, style, hasMenu, exStyle, dpi);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace vokram::ui
