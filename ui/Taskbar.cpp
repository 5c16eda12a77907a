#include "Taskbar.h"

#include <shobjidl.h>

namespace vokram::ui {

TaskbarProgress::~TaskbarProgress() {
  if (list_) list_->Release();
}

void TaskbarProgress::Start(HWND window) {
  window_ = window;
  // Asked for when an operation starts: the button exists by then.
  if (!list_) {
    ITaskbarList3* list = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&list)))) {
      if (SUCCEEDED(list->HrInit())) {
        list_ = list;
      } else {
        list->Release();
      }
    }
  }
  if (list_) list_->SetProgressState(window_, TBPF_NORMAL);
}

void TaskbarProgress::Set(int percent) {
  if (list_) list_->SetProgressValue(window_, static_cast<ULONGLONG>(percent), 100);
}

void TaskbarProgress::Failed() {
  if (list_) list_->SetProgressState(window_, TBPF_ERROR);
}

void TaskbarProgress::Clear() {
  if (list_) list_->SetProgressState(window_, TBPF_NOPROGRESS);
}

}  // namespace vokram::ui
