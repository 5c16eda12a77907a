// Vokram's window in a program of its own whose engine takes the given
// number of milliseconds longer for every read and write, so that a driver
// can press keys, close and end the session while an operation runs.
//   SlowVokram.exe MILLISECONDS
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

#include "File.h"
#include "Frm_Bun.h"
#include "MessageLoop.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR commandLine, int showCommand) {
  const DWORD delay = static_cast<DWORD>(std::wcstoul(commandLine, nullptr, 10));
  vokram::io::SetFaultHook([delay](vokram::io::Op op, const std::filesystem::path&) -> std::optional<int> {
    if (op == vokram::io::Op::Read || op == vokram::io::Op::Write) Sleep(delay);
    return std::nullopt;
  });
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  vokram::ui::Frm_Bun window;
  if (!window.Create(showCommand)) return 1;
  return vokram::ui::RunMessageLoop();
}
