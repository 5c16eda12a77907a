// The four path boxes: their browse buttons, the files dropped on them and
// the tidy-up each does when it gains the focus.
#include <algorithm>
#include <iterator>

#include "ControlIds.h"
#include "Controls.h"
#include "Frm_Bun.h"
#include "PathFields.h"
#include "Pickers.h"

namespace vokram::ui {
namespace {

constexpr int kPathBoxes[] = {IDC_txtSrcFile, IDC_txtDstdir, IDC_txtVokFile, IDC_txtSaveDir};

}  // namespace

bool Frm_Bun::IsPathBox(int id) noexcept {
  return std::find(std::begin(kPathBoxes), std::end(kPathBoxes), id) != std::end(kPathBoxes);
}

void Frm_Bun::AcceptDropsOnPathBoxes() {
  // The other text boxes stay unregistered: a drag over them shows the
  // no-drop pointer and a drop there does nothing.
  for (int id : kPathBoxes) {
    drops_.push_back(std::make_unique<BoxDrops>(
        Control(id), [this](HWND box, const std::vector<std::wstring>& paths) {
          txtPath_OLEDragDrop(box, paths);
        }));
  }
}

void Frm_Bun::txtPath_OLEDragDrop(HWND box, const std::vector<std::wstring>& paths) {
  // The whole text, untrimmed; a file and a folder alike. The focus stays
  // where it is, so the tidy-up does not run.
  if (const auto first = FirstDroppedPath(paths)) SetText(box, *first);
}

void Frm_Bun::txtPath_GotFocus(int id) {
  // Writing the text back must not start another tidy-up of the same box.
  if (tidying_) return;
  tidying_ = true;
  const RaisedFlag done(&tidying_);
  HWND box = Control(id);
  SetText(box, TidyPathField(GetText(box)));
  SendMessageW(box, EM_SETSEL, 0, -1);
}

void Frm_Bun::KeepFocusOn(int buttonId) {
  // A mouse click has already focused the button; a click sent by a program
  // has not. Either way the focus must come back to the button when the
  // picker closes, not to a path box, whose tidy-up would then run.
  HWND button = Control(buttonId);
  if (IsWindowVisible(button)) SetFocus(button);
}

void Frm_Bun::cmdSrcRef_Click(int index) {
  KeepFocusOn(index == 0 ? IDC_cmdSrcRef0 : IDC_cmdSrcRef1);
  // A file path goes in as the picker gives it; a cancel clears the box.
  const std::wstring path = PickFile(Handle());
  SetText(Control(index == 0 ? IDC_txtSrcFile : IDC_txtVokFile), path);
}

void Frm_Bun::cmdRef_Click(int index) {
  KeepFocusOn(index == 0 ? IDC_cmdRef0 : IDC_cmdRef1);
  const std::wstring folder = TidyPathField(PickFolder(Handle()));
  SetText(Control(index == 0 ? IDC_txtDstdir : IDC_txtSaveDir), folder);
}

}  // namespace vokram::ui
