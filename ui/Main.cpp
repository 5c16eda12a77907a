// Vokram.exe: no command line, no settings; the main window in its design
// state, until it is closed.
#include <windows.h>
#include <commctrl.h>

#include "Frm_Bun.h"
#include "MessageLoop.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int showCommand) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  vokram::ui::Frm_Bun window;
  if (!window.Create(showCommand)) return 1;
  return vokram::ui::RunMessageLoop();
}
