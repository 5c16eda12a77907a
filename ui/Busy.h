// While a split, join or check runs, the window keeps painting but ignores
// the commands that would start another action or close it. The scope also
// shows the wait pointer for the engine calls of the Run command, and puts
// everything back however the operation ends.
#pragma once

#include <windows.h>

#include <utility>

#include "platform/UniqueHandle.h"

namespace vokram::ui {

// The pointer is the default again before any message box shows.
inline void EndBusy(std::pair<bool*, bool*> flags) noexcept {
  auto [busy, waitPointer] = flags;
  if (!*busy) return;
  *busy = false;
  if (*waitPointer) {
    *waitPointer = false;
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  }
}

class BusyScope : public UniqueAny<std::pair<bool*, bool*>, EndBusy> {
 public:
  BusyScope(bool& busy, bool& waitPointer, bool showWaitPointer) noexcept : UniqueHandle({&busy, &waitPointer}) {
    busy = true;
    if (showWaitPointer) {
      waitPointer = true;
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    }
  }
};

}  // namespace vokram::ui
