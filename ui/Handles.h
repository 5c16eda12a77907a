// The kinds of UniqueHandle the window keeps: system handles, a raised flag,
// COM interface pointers.
#pragma once

#include <windows.h>

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
void ReleaseInterface(T* p) noexcept {
  p->Release();
}
template <typename T>
using ComPtr = UniqueAny<T*, ReleaseInterface<T>>;

}  // namespace vokram::ui
