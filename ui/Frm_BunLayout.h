// The design of Frm_Bun: its controls, their places and its tab order.
#pragma once

#include <span>

#include "Controls.h"

namespace vokram::ui {

// Client area of the window, under the menu bar.
inline constexpr int kFrmBunWidthTwips = 8640;
inline constexpr int kFrmBunHeightTwips = 4170;

inline constexpr wchar_t kCaptionSplit[] = L"Vokram　－　分割";
inline constexpr wchar_t kCaptionJoin[] = L"Vokram　－　結合";

std::span<const ControlDef> FrmBunControls();
std::span<const int> FrmBunTabOrder();

}  // namespace vokram::ui
