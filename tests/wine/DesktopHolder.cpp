// Keeps the Wine desktop of a test run up from the first test to the last.
// Wine closes a desktop about a second after its last program ends and
// starts a new one (a new explorer.exe) for the next program, so with
// short test programs the desktop went down and up again for nearly every
// test, and each program that started raced with a desktop going away.
// This holds it with a message-only window, which no test can see or find,
// until the wineserver is shut down. Prints "ready" once it holds it.
#include <windows.h>

#include <cstdio>

int main() {
  HWND holder = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                nullptr);
  if (!holder) return 1;
  std::puts("ready");
  std::fflush(stdout);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
