// Move-only owners for the few system handles the window keeps, and the
// window's COM pointer.
#pragma once

#include <windows.h>

#include <utility>

#include "platform/UniqueHandle.h"

namespace vokram::ui {

using UniqueFont = UniqueAny<HFONT, DeleteObject>;
// A menu that is not (yet) attached to a window.
using UniqueMenu = UniqueAny<HMENU, DestroyMenu>;
// A kernel object (an event) that is nullptr when absent.
using UniqueKernelHandle = UniqueAny<HANDLE, CloseHandle>;

// A flag that stays raised for as long as its owner lives.
inline void Lower(bool* flag) noexcept { *flag = false; }
using RaisedFlag = UniqueAny<bool*, Lower>;

// A COM interface pointer, released when it goes.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { reset(); }

  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  // For a call that hands out a new reference: the old one goes first.
  T** put() noexcept {
    reset();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace vokram::ui
