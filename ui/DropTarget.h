// Files dropped on a path box. Explorer drags through OLE, so each box is a
// registered drop target; the older WM_DROPFILES message is taken as well.
// Either way the box's owner receives the shell's list of paths and nothing
// else of the dragged data.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/UniqueHandle.h"

namespace vokram::ui {

using DropHandler = std::function<void(HWND box, const std::vector<std::wstring>& paths)>;

// Every path of a shell file-drop list, in its order; empty entries are left out.
std::vector<std::wstring> DroppedPaths(HDROP drop);

// The file-drop list the data offers; nothing when it offers none.
std::optional<std::vector<std::wstring>> FileListOf(IDataObject* data);

// One box's OLE drop target. It accepts data that offers a file-drop list,
// shows the copy pointer for it and hands the list to the handler on drop.
class PathDropTarget final : public IDropTarget {
 public:
  PathDropTarget(HWND box, DropHandler handler);
  PathDropTarget(const PathDropTarget&) = delete;
  PathDropTarget& operator=(const PathDropTarget&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD keys, POINTL point,
                                      DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragOver(DWORD keys, POINTL point, DWORD* effect) override;
  HRESULT STDMETHODCALLTYPE DragLeave() override;
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD keys, POINTL point,
                                 DWORD* effect) override;

 private:
  ~PathDropTarget() = default;
  DWORD Effect(DWORD allowed) const noexcept;

  LONG references_ = 1;
  HWND box_;
  DropHandler handler_;
  bool offersFiles_ = false;
};

// Whether OleInitialize started OLE for the calling thread, which then ends
// with the owner.
using OleSession = UniqueAny<bool, OleUninitialize>;

// Makes a box take dropped files both ways until destroyed, which must happen
// while the box still exists. Needs OLE on the box's thread.
class BoxDrops {
 public:
  BoxDrops(HWND box, DropHandler handler);
  ~BoxDrops();
  BoxDrops(const BoxDrops&) = delete;
  BoxDrops& operator=(const BoxDrops&) = delete;

  // False when the system refused the OLE registration.
  bool Registered() const noexcept { return registered_; }

 private:
  static LRESULT CALLBACK BoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                  UINT_PTR id, DWORD_PTR self);

  HWND box_;
  DropHandler handler_;
  bool registered_ = false;
  bool subclassed_ = false;
};

}  // namespace vokram::ui
