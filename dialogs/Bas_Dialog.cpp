#include "Bas_Dialog.h"

#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <vector>

#include "platform/UniqueHandle.h"

namespace vokram {

namespace {

// Whether this call began a COM apartment, which it then ends.
using ComApartment = UniqueAny<bool, CoUninitialize>;
// The item list that SHBrowseForFolderW hands over, freed with the shell's
// allocator.
using UniqueItemList = UniqueAny<PIDLIST_ABSOLUTE, CoTaskMemFree>;

// An empty text becomes no pointer: an empty default extension or initial
// folder would otherwise be handed to the dialog as a value.
const wchar_t* OrNull(const std::wstring& text) noexcept { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

std::wstring BrowseFolder(HWND owner) {
  // The shell's folder browser needs a single-threaded apartment. A caller
  // that already chose one keeps it; otherwise one lives for this call.
  const ComApartment com(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)));
  const std::wstring prompt(kBrowseFolderPrompt);
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = nullptr;
  info.lpszTitle = prompt.c_str();
  info.ulFlags = kBrowseFolderFlags;
  static_assert(kBrowseFolderFlags == (BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN));

  const UniqueItemList chosen(SHBrowseForFolderW(&info));
  if (chosen.get() == nullptr) return {};

  // SHGetPathFromIDListW writes at most MAX_PATH characters; a deeper folder
  // would come back as a failure, and so as a cancel.
  std::vector<wchar_t> buffer(static_cast<std::size_t>(kLargestMaxPathLength), L'\0');
  if (!SHGetPathFromIDListEx(chosen.get(), buffer.data(), static_cast<DWORD>(buffer.size()), GPFIDL_DEFAULT)) {
    return {};
  }
  return TrimAtNull(std::wstring_view(buffer.data(), buffer.size()));
}

std::wstring BrowseFile(HWND owner) {
  FileDialogParams request = BrowseFileRequest();
  // Room for any path the system can name, not only MAX_PATH characters.
  request.MaxPathLength = kLargestMaxPathLength;
  const FileDialogParams answer = ShowFileDialog(owner, request);
  return answer.Result != 0 ? answer.FullPath : std::wstring();
}

FileDialogParams ShowFileDialog(HWND owner, FileDialogParams& params) {
  NormaliseFileDialogParams(params);
  const SystemFilter filter = ConvertFilter(params.Filter);

  std::vector<wchar_t> file(static_cast<std::size_t>(params.MaxPathLength), L'\0');
  // The title buffer's size is its text plus the terminating NUL.
  std::vector<wchar_t> fileTitle(params.FileTitle.begin(), params.FileTitle.end());
  fileTitle.push_back(L'\0');

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(OPENFILENAMEW);
  ofn.hwndOwner = owner;
  ofn.hInstance = nullptr;
  ofn.lpstrFilter = filter.Text.c_str();
  ofn.lpstrCustomFilter = nullptr;
  ofn.nMaxCustFilter = 0;
  ofn.nFilterIndex = static_cast<DWORD>(SystemFilterIndex(params.FilterIndex, filter.Segments));
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrFileTitle = fileTitle.data();
  ofn.nMaxFileTitle = static_cast<DWORD>(fileTitle.size());
  ofn.lpstrInitialDir = OrNull(params.InitialDir);
  ofn.lpstrTitle = params.DialogTitle.c_str();
  ofn.Flags = static_cast<DWORD>(params.Flags);
  ofn.lpstrDefExt = OrNull(params.DefaultExt);
  ofn.lCustData = 0;
  ofn.lpfnHook = nullptr;
  ofn.lpTemplateName = nullptr;

  const auto result = static_cast<std::int16_t>(GetSaveFileNameW(&ofn) != FALSE);
  return FileDialogAnswer(params, std::wstring_view(file.data(), file.size()),
                          std::wstring_view(fileTitle.data(), fileTitle.size()), ofn.nFileOffset, result);
}

}  // namespace vokram
