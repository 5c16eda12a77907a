#include "MessageBoxes.h"

#include <cwchar>

#include "Text.h"

namespace vokram::ui {
namespace {

MessageBoxFunction showBox = nullptr;

int Show(HWND owner, std::string_view utf8Text, std::string_view utf8Title, UINT type) {
  const std::wstring text = NativeFromUtf8(utf8Text);
  const std::wstring title = NativeFromUtf8(utf8Title);
  if (showBox) return showBox(owner, text.c_str(), title.c_str(), type);
  return MessageBoxW(owner, text.c_str(), title.c_str(), type);
}

BOOL CALLBACK EndQuestion(HWND window, LPARAM owner) {
  wchar_t name[8] = {};
  GetClassNameW(window, name, 8);
  // A message box is a dialog of the system's dialog class.
  if (wcscmp(name, L"#32770") != 0 || GetWindow(window, GW_OWNER) != reinterpret_cast<HWND>(owner)) return TRUE;
  EndDialog(window, IDNO);
  return FALSE;
}

}  // namespace

void SetMessageBoxFunction(MessageBoxFunction function) noexcept { showBox = function; }

void ShowWarning(HWND owner, std::string_view utf8Text) {
  Show(owner, utf8Text, kTitleWarning, MB_OK | MB_ICONEXCLAMATION);
}



void ShowNotice(HWND owner, std::string_view utf8Text) {
  Show(owner, utf8Text, kTitleDone, MB_OK | MB_ICONINFORMATION);
}

void ShowStopped(HWND owner, std::string_view utf8Text) {
  Show(owner, utf8Text, kTitleStopped, MB_OK | MB_ICONINFORMATION);
}

bool AskYesNo(HWND owner, MessageId question) {
  return Show(owner, MessageText(question), kTitleConfirm, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

bool AskToReplace(HWND owner, std::string_view utf8Question) {
  return Show(owner, utf8Question, kTitleConfirm, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDYES;
}

void CloseQuestion(HWND owner) noexcept {
  EnumThreadWindows(GetCurrentThreadId(), EndQuestion, reinterpret_cast<LPARAM>(owner));
}

}  // namespace vokram::ui
