// The taskbar button's progress, where the shell offers it (ITaskbarList3).
// Where it does not, every call does nothing: the window's caption carries
// the same percentage anyway.
#pragma once

#include <windows.h>

struct ITaskbarList3;

namespace vokram::ui {

class TaskbarProgress {
 public:
  TaskbarProgress() noexcept = default;
  ~TaskbarProgress();
  TaskbarProgress(const TaskbarProgress&) = delete;
  TaskbarProgress& operator=(const TaskbarProgress&) = delete;

  void Start(HWND window);
  void Set(int percent);
  // The error state, while the failure's message shows.
  void Failed();
  void Clear();

 private:
  HWND window_ = nullptr;
  ITaskbarList3* list_ = nullptr;
};

}  // namespace vokram::ui
