// The message loops of the program: the main one, the modal one of the
// version window, and the pump the window's thread runs while an operation's
// worker thread works.
// All give keyboard messages to the navigation of the window they are for.
#pragma once

#include <windows.h>

namespace vokram::ui {

void TranslateAndDispatch(MSG& msg);

// Handles every message already waiting and returns; a WM_QUIT met on the
// way is posted again for the main loop, and the answer is then false.
bool PumpPendingMessages();

// Waits until `object` is signalled, handling only sent and paint messages
// meanwhile: the window answers other programs and the system and keeps
// painting, but no click or key starts anything. A WM_QUIT stays queued.
void WaitAnsweringSentMessages(HANDLE object);

// Until WM_QUIT; returns its exit code.
int RunMessageLoop();

// Until `window` is destroyed.
void RunModalLoop(HWND window);

}  // namespace vokram::ui
