#include "MessageBoxes.h"

#include "Text.h"

namespace vokram::ui {
namespace {

MessageBoxFunction showBox = nullptr;

void Show(HWND owner, std::string_view utf8Text, std::string_view utf8Title, UINT icon) {
  const std::wstring text = NativeFromUtf8(utf8Text);
  const std::wstring title = NativeFromUtf8(utf8Title);
  const UINT type = MB_OK | icon;
  if (showBox) {
    showBox(owner, text.c_str(), title.c_str(), type);
  } else {
    MessageBoxW(owner, text.c_str(), title.c_str(), type);
  }
}

}  // namespace

void SetMessageBoxFunction(MessageBoxFunction function) noexcept { showBox = function; }

void ShowWarning(HWND owner, std::string_view utf8Text) {
  Show(owner, utf8Text, kTitleWarning, MB_ICONEXCLAMATION);
}

void ShowWarning(HWND owner, MessageId id) { ShowWarning(owner, MessageText(id)); }

void ShowDone(HWND owner) { Show(owner, MessageText(MessageId::Done), kTitleDone, MB_ICONINFORMATION); }

}  // namespace vokram::ui
