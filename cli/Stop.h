// Ctrl-C and SIGTERM (Ctrl-C and Ctrl-Break in a Windows console) ask the
// running operation to stop at its next buffer; it then removes what it
// created, and the program exits with 128 + the signal's number. A second
// signal ends the program at once.
#pragma once

#include <atomic>

namespace vokram::cli {

void InstallStopHandlers();
// Read by the engine once per buffer.
const std::atomic<bool>& StopRequested();
// 130 after SIGINT, 143 after SIGTERM.
int StoppedExitStatus();

}  // namespace vokram::cli
