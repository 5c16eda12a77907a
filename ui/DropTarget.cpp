#include "DropTarget.h"

#include <commctrl.h>

namespace vokram::ui {
namespace {

FORMATETC FileListFormat() noexcept { return {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

// The medium GetData hands over, released however the reading ends.
struct MediumTraits : ReleasedBy<STGMEDIUM, ReleaseStgMedium> {
  static bool IsValid(const STGMEDIUM& medium) noexcept { return medium.tymed != TYMED_NULL; }
};
using Medium = UniqueHandle<MediumTraits>;

}  // namespace

std::vector<std::wstring> DroppedPaths(HDROP drop) {
  std::vector<std::wstring> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  paths.reserve(count);
  for (UINT i = 0; i < count; ++i) {
    // The length leaves out the terminating NUL; the copy needs room for it.
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(length, L'\0');
    path.resize(DragQueryFileW(drop, i, path.data(), length + 1));
    // A list without paths still counts one empty entry; it names nothing.
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

std::optional<std::vector<std::wstring>> FileListOf(IDataObject* data) {
  if (!data) return std::nullopt;
  FORMATETC format = FileListFormat();
  Medium medium;
  if (FAILED(data->GetData(&format, medium.put())) || medium.get().tymed != TYMED_HGLOBAL) {
    return std::nullopt;
  }
  return DroppedPaths(static_cast<HDROP>(medium.get().hGlobal));
}

PathDropTarget::PathDropTarget(HWND box, DropHandler handler) : box_(box), handler_(std::move(handler)) {}

HRESULT PathDropTarget::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget)) {
    *object = static_cast<IDropTarget*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG PathDropTarget::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG PathDropTarget::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

DWORD PathDropTarget::Effect(DWORD allowed) const noexcept {
  // Only the paths are read; the source keeps its files, so a copy is what
  // the user should be told.
  return offersFiles_ && (allowed & DROPEFFECT_COPY) ? DROPEFFECT_COPY : DROPEFFECT_NONE;
}

HRESULT PathDropTarget::DragEnter(IDataObject* data, DWORD /*keys*/, POINTL /*point*/, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  FORMATETC format = FileListFormat();
  offersFiles_ = data && data->QueryGetData(&format) == S_OK;
  *effect = Effect(*effect);
  return S_OK;
}

HRESULT PathDropTarget::DragOver(DWORD /*keys*/, POINTL /*point*/, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  *effect = Effect(*effect);
  return S_OK;
}

HRESULT PathDropTarget::DragLeave() {
  offersFiles_ = false;
  return S_OK;
}

HRESULT PathDropTarget::Drop(IDataObject* data, DWORD /*keys*/, POINTL /*point*/, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  offersFiles_ = false;
  // Data without a file list leaves the box as it was.
  const auto paths = FileListOf(data);
  *effect = paths ? (*effect & DROPEFFECT_COPY) : DROPEFFECT_NONE;
  if (paths) {
    // The handler belongs to the window; nothing may unwind into OLE.
    try {
      handler_(box_, *paths);
    } catch (...) {
      *effect = DROPEFFECT_NONE;
    }
  }
  return S_OK;
}

BoxDrops::BoxDrops(HWND box, DropHandler handler) : box_(box), handler_(std::move(handler)) {
  auto* target = new PathDropTarget(box_, handler_);
  registered_ = SUCCEEDED(RegisterDragDrop(box_, target));
  target->Release();  // the registration holds its own reference
  subclassed_ = SetWindowSubclass(box_, &BoxDrops::BoxProc, 0, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
  DragAcceptFiles(box_, TRUE);
}

BoxDrops::~BoxDrops() {
  if (!IsWindow(box_)) return;
  if (registered_) RevokeDragDrop(box_);
  if (subclassed_) RemoveWindowSubclass(box_, &BoxDrops::BoxProc, 0);
  DragAcceptFiles(box_, FALSE);
}

LRESULT CALLBACK BoxDrops::BoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR /*id*/, DWORD_PTR selfData) {
  auto* self = reinterpret_cast<BoxDrops*>(selfData);
  switch (message) {
    case WM_DROPFILES: {
      const auto drop = reinterpret_cast<HDROP>(wParam);
      std::vector<std::wstring> paths;
      try {
        paths = DroppedPaths(drop);
      } catch (...) {
        paths.clear();
      }
      DragFinish(drop);
      try {
        self->handler_(hwnd, paths);
      } catch (...) {
      }
      return 0;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, &BoxDrops::BoxProc, 0);
      self->subclassed_ = false;
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace vokram::ui
