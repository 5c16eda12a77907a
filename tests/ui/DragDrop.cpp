#include "DragDrop.h"

#include <shlobj.h>

#include <cstring>

namespace vokram::uitest {
namespace {

FORMATETC Format(CLIPFORMAT format) { return {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

HGLOBAL CopyToGlobal(const void* bytes, std::size_t size) {
  HGLOBAL block = GlobalAlloc(GHND, size);
  if (!block) return nullptr;
  std::memcpy(GlobalLock(block), bytes, size);
  GlobalUnlock(block);
  return block;
}

class DataObject final : public IDataObject {
 public:
  DataObject(std::optional<std::vector<std::wstring>> files, std::wstring text)
      : files_(std::move(files)), text_(std::move(text)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
      *object = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    const HRESULT offered = QueryGetData(format);
    if (offered != S_OK) return offered;
    *medium = {};
    medium->tymed = TYMED_HGLOBAL;
    if (format->cfFormat == CF_HDROP) {
      medium->hGlobal = NewFileList(*files_);
    } else {
      medium->hGlobal = CopyToGlobal(text_.c_str(), (text_.size() + 1) * sizeof(wchar_t));
    }
    return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    if (!format || !(format->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    if (format->cfFormat == CF_HDROP && files_) return S_OK;
    if (format->cfFormat == CF_UNICODETEXT) return S_OK;
    return DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override {
    if (direction != DATADIR_GET) return E_NOTIMPL;
    std::vector<FORMATETC> list{Format(CF_UNICODETEXT)};
    if (files_) list.insert(list.begin(), Format(CF_HDROP));
    return SHCreateStdEnumFmtEtc(static_cast<UINT>(list.size()), list.data(), formats);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  ~DataObject() = default;
  LONG refs_ = 1;
  std::optional<std::vector<std::wstring>> files_;
  std::wstring text_;
};

// Plays the user's hand. The system tracks the pointer only when it moves,
// so the source nudges it by a pixel until the target has answered, and lets
// go once a drop effect is shown.
class DropSource final : public IDropSource {
 public:
  explicit DropSource(POINT at) : at_(at), start_(GetTickCount64()) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropSource)) {
      *object = static_cast<IDropSource*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Lives on the caller's stack for the whole drag.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL /*escape*/, DWORD /*keys*/) override {
    if (accepted_) return DRAGDROP_S_DROP;
    const ULONGLONG elapsed = GetTickCount64() - start_;
    if (elapsed > 1000 && feedbacks_ > 2) return DRAGDROP_S_DROP;
    if (elapsed > 5000) return DRAGDROP_S_CANCEL;
    nudge_ = !nudge_;
    SetCursorPos(at_.x + (nudge_ ? 1 : 0), at_.y);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD effect) override {
    ++feedbacks_;
    if (effect != DROPEFFECT_NONE) accepted_ = true;
    return DRAGDROP_S_USEDEFAULTCURSORS;
  }

  bool Accepted() const { return accepted_; }

 private:
  POINT at_;
  ULONGLONG start_;
  bool nudge_ = false;
  bool accepted_ = false;
  int feedbacks_ = 0;
};

}  // namespace

std::vector<BYTE> FileListBytes(const std::vector<std::wstring>& paths) {
  DROPFILES header{};
  header.pFiles = sizeof header;
  header.fWide = TRUE;
  std::wstring list;
  for (const auto& path : paths) {
    list += path;
    list += L'\0';
  }
  // The list ends with an empty entry; a list of none is two NULs.
  if (paths.empty()) list += L'\0';
  list += L'\0';
  std::vector<BYTE> bytes(sizeof header + list.size() * sizeof(wchar_t));
  std::memcpy(bytes.data(), &header, sizeof header);
  std::memcpy(bytes.data() + sizeof header, list.data(), list.size() * sizeof(wchar_t));
  return bytes;
}

HGLOBAL NewFileList(const std::vector<std::wstring>& paths) {
  const std::vector<BYTE> bytes = FileListBytes(paths);
  return CopyToGlobal(bytes.data(), bytes.size());
}

ComPtr<IDataObject> NewDataObject(std::optional<std::vector<std::wstring>> files, std::wstring text) {
  return ComPtr<IDataObject>(new DataObject(std::move(files), std::move(text)));
}

DragOutcome DragOnto(HWND target, IDataObject* data) {
  RECT rect;
  GetWindowRect(target, &rect);
  const POINT middle{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  SetCursorPos(middle.x, middle.y);
  DropSource source(middle);
  DragOutcome outcome;
  outcome.result = DoDragDrop(data, &source, DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK,
                              &outcome.effect);
  outcome.accepted = source.Accepted();
  return outcome;
}

}  // namespace vokram::uitest
