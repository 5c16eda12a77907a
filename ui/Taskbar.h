// The taskbar button's progress, where the shell offers it (ITaskbarList3).
// Where it does not, every call does nothing: the window's caption carries
// the same percentage anyway.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "Handles.h"

namespace vokram::ui {

class TaskbarProgress {
 public:
  TaskbarProgress() noexcept = default;
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  void Start(HWND window);
  void Set(int percent);
  // The error state, while the failure's message shows.
  void Failed();
  void Clear();
  // The shell has made the button anew (it restarted): the button shows
  // nothing until it is told the current state again.
  void ButtonCreated();

 private:
  // Shows state_ and percent_ on the button.
  void Apply();

  HWND window_ = nullptr;
  ComPtr<ITaskbarList3> list_;
  TBPFLAG state_ = TBPF_NOPROGRESS;
  int percent_ = 0;
};

}  // namespace vokram::ui
