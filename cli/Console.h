// Output that shows Japanese correctly: UTF-8 on POSIX; in a Windows console
// UTF-16 through the console API, and redirected to a file or a pipe the
// console's code page (932 on a Japanese system, UTF-8 after chcp 65001).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vokram::cli {

void Out(std::string_view utf8);
void Err(std::string_view utf8);

// Closes stdout at the end of the run. False, after saying so on stderr with
// the system's reason, when anything written to it was lost (a full disk):
// output that never arrived must not pass for success.
bool CloseOut();

// True when a person can answer: stdin and stderr are both a terminal (a
// console window on Windows).
bool CanAsk();
// One line typed on stdin, in UTF-8 and without its line break; nothing at
// the end of input.
std::optional<std::string> ReadAnswer();

}  // namespace vokram::cli
