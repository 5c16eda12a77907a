// Vokram.exe's window with every read and write of the engine the given
// milliseconds slower, so a driver can act while an operation runs.
#include <windows.h>

#include <cwchar>

#include "File.h"
#include "Frm_Bun.h"
#include "MessageLoop.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int showCommand) {
  const auto delay = static_cast<DWORD>(std::wcstoul(commandLine, nullptr, 10));
  vokram::io::SetFaultHook([delay](vokram::io::Op op, const std::filesystem::path&) -> std::optional<int> {
    if (op == vokram::io::Op::Read || op == vokram::io::Op::Write) Sleep(delay);
    return std::nullopt;
  });
  vokram::ui::Frm_Bun window;
  return window.Create(showCommand) ? vokram::ui::RunMessageLoop() : 1;
}
