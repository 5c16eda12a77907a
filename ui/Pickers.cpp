#include "Pickers.h"

#include "Bas_Dialog.h"

namespace vokram::ui {
namespace {

PickerFunction pickFile = nullptr;
PickerFunction pickFolder = nullptr;

}  // namespace

void SetPickerFunctions(PickerFunction file, PickerFunction folder) noexcept {
  pickFile = file;
  pickFolder = folder;
}

std::wstring PickFile(HWND owner) { return pickFile ? pickFile(owner) : BrowseFile(owner); }

std::wstring PickFolder(HWND owner) { return pickFolder ? pickFolder(owner) : BrowseFolder(owner); }

}  // namespace vokram::ui
