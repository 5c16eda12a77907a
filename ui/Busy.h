// While a split, join or check runs, the window keeps painting but ignores
// the commands that would start another action or close it. The scope also
// shows the wait pointer for the engine calls of the Run command, and puts
// everything back however the operation ends.
#pragma once

#include <windows.h>

namespace vokram::ui {

class BusyScope {
 public:
  BusyScope(bool& busy, bool& waitPointer, bool showWaitPointer) noexcept
      : busy_(busy), waitPointer_(waitPointer) {
    busy_ = true;
    if (showWaitPointer) {
      waitPointer_ = true;
      SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    }
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
  ~BusyScope() { End(); }

  // Before a message box: the pointer is the default again when it shows.
  void End() noexcept {
    if (!busy_) return;
    busy_ = false;
    if (waitPointer_) {
      waitPointer_ = false;
      SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
  }

 private:
  bool& busy_;
  bool& waitPointer_;
};

}  // namespace vokram::ui
