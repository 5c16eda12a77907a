// Output that shows Japanese correctly: UTF-8 on POSIX and in pipes, UTF-16
// through the console API in a Windows console.
#pragma once

#include <string_view>

namespace vokram::cli {

void Out(std::string_view utf8);
void Err(std::string_view utf8);

}  // namespace vokram::cli
