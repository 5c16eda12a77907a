// Dragged data as the shell makes it, and an OLE drag from this process onto
// a window of any process.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vokram::uitest {

struct ComRelease {
  void operator()(IUnknown* object) const noexcept { object->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComRelease>;

// The shell's file-drop list (a DROPFILES block with wide paths), as bytes.
std::vector<BYTE> FileListBytes(const std::vector<std::wstring>& paths);
// The same in a movable global block, as a WM_DROPFILES or CF_HDROP carries it.
HGLOBAL NewFileList(const std::vector<std::wstring>& paths);

// Data that offers a file-drop list, or plain text only when files is empty.
ComPtr<IDataObject> NewDataObject(std::optional<std::vector<std::wstring>> files,
                                  std::wstring text = L"");

struct DragOutcome {
  HRESULT result = E_FAIL;         // of DoDragDrop
  DWORD effect = DROPEFFECT_NONE;  // what the target reported at the end
  bool accepted = false;           // the target showed a drop effect on the way
};

// Drags data onto the middle of target and drops it there once the target
// accepts; a target that does not accept within a second gets the drop
// attempted anyway. Needs OLE on the calling thread.
DragOutcome DragOnto(HWND target, IDataObject* data);

}  // namespace vokram::uitest
