// Moving the focus along an explicit tab order. The window's controls sit in
// two panels, so the dialog manager's z-order walk cannot give the designed
// order (the result box comes after the buttons below the panels).
#pragma once

#include <functional>
#include <optional>
#include <span>

namespace vokram::ui {

// The control after (or before) `current` in `order` that `canFocus`
// accepts, wrapping around; from a control not in the order, the first (or
// last) one. Nothing when no control accepts.
std::optional<int> NextTabStop(std::span<const int> order, int current, bool backward,
                               const std::function<bool(int)>& canFocus);

}  // namespace vokram::ui
