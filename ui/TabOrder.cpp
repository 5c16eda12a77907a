#include "TabOrder.h"

#include <algorithm>

namespace vokram::ui {

std::optional<int> NextTabStop(std::span<const int> order, int current, bool backward,
                               const std::function<bool(int)>& canFocus) {
  const auto n = static_cast<std::ptrdiff_t>(order.size());
  if (n == 0) return std::nullopt;
  const auto found = std::find(order.begin(), order.end(), current);
  // Start one step before the first (or after the last) element, so the first
  // step lands on it.
  std::ptrdiff_t at = found != order.end() ? found - order.begin() : (backward ? n : -1);
  for (std::ptrdiff_t step = 0; step < n; ++step) {
    at = backward ? (at - 1 + n) % n : (at + 1) % n;
    const int id = order[static_cast<std::size_t>(at)];
    if (id != current && canFocus(id)) return id;
  }
  return std::nullopt;
}

}  // namespace vokram::ui
