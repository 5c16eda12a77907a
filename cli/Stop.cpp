#include "Stop.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vokram::cli {

namespace {

std::atomic<bool> stopRequested{false};
volatile std::sig_atomic_t stopSignal = 0;
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (stopRequested.load()) return FALSE;  // the second one ends the program
  stopSignal = SIGINT;
  stopRequested.store(true);
  return TRUE;
}
#else
extern "C" void OnStopSignal(int signal) {
  stopSignal = signal;
  stopRequested.store(true);
}
#endif

}  // namespace

void InstallStopHandlers() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = static_cast<int>(SA_RESETHAND);  // the default again for a second signal
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

const std::atomic<bool>& StopRequested() { return stopRequested; }

int StoppedExitStatus() { return 128 + static_cast<int>(stopSignal); }

}  // namespace vokram::cli
