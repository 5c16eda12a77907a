#include "Taskbar.h"

namespace vokram::ui {

void TaskbarProgress::Start(HWND window) {
  window_ = window;
  state_ = TBPF_NORMAL;
  percent_ = 0;
  Apply();
}

void TaskbarProgress::Set(int percent) {
  percent_ = percent;
  if (list_) list_->SetProgressValue(window_, static_cast<ULONGLONG>(percent_), 100);
}

void TaskbarProgress::Failed() {
  state_ = TBPF_ERROR;
  Apply();
}

void TaskbarProgress::Clear() {
  state_ = TBPF_NOPROGRESS;
  Apply();
}

void TaskbarProgress::ButtonCreated() {
  // The list spoke to the taskbar that is gone; a new one finds the new one.
  list_.reset();
  if (state_ != TBPF_NOPROGRESS) Apply();
}

void TaskbarProgress::Apply() {
  // Asked for once there is something to show: the button exists by then.
  if (!list_ && window_) {
    ComPtr<ITaskbarList3> list;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(list.put()))) &&
        SUCCEEDED(list->HrInit())) {
      list_ = std::move(list);
    }
  }
  if (!list_) return;
  // A value given without progress would switch the button to normal.
  if (state_ != TBPF_NOPROGRESS) list_->SetProgressValue(window_, static_cast<ULONGLONG>(percent_), 100);
  list_->SetProgressState(window_, state_);
}

}  // namespace vokram::ui
