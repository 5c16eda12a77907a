// Every message the window shows goes through here: problems under "警告"
// with the exclamation mark, completion under "終了" with the information
// icon, each with one OK button; the question before a stop.
#pragma once

#include <windows.h>

#include <string_view>

#include "Messages.h"

namespace vokram::ui {

// Shows one box and waits for it; MessageBoxW unless a test records instead.
using MessageBoxFunction = int (*)(HWND owner, const wchar_t* text, const wchar_t* title, UINT type);
void SetMessageBoxFunction(MessageBoxFunction function) noexcept;

void ShowWarning(HWND owner, std::string_view utf8Text);
// A notice under "終了" with the information icon.
void ShowNotice(HWND owner, std::string_view utf8Text);
// A stopped operation's message under "中止", information icon.
void ShowStopped(HWND owner, std::string_view utf8Text);
// A question under "確認" with Yes and No, No as default; true for Yes.
bool AskYesNo(HWND owner, MessageId question);
// Before replacing files: the same, with the exclamation mark.
bool AskToReplace(HWND owner, std::string_view utf8Question);
// Closes the box this thread shows over owner as if No were pressed, when
// what it asks about has gone by.
void CloseQuestion(HWND owner) noexcept;

}  // namespace vokram::ui
