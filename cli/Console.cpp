#include "Console.h"

#include <cerrno>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>

#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vokram::cli {

namespace {

// The system's reason for the first write to stdout that failed; empty when
// it gave none. Nothing while all went through.
std::optional<std::string> lostOutput;

void ClearLastError() {
  errno = 0;
#ifdef _WIN32
  SetLastError(0);
#endif
}

// Only stdout counts: stderr is where a loss would be reported.
void NoteLoss(std::FILE* stream) {
  if (stream != stdout || lostOutput) return;
#ifdef _WIN32
  const int code = static_cast<int>(GetLastError());
#else
  const int code = errno;
#endif
  lostOutput = code != 0 ? platform::ErrorText(code) : std::string();
}

// Writes and flushes, so that a failure is seen at the write that had it.
void PutBytes(std::FILE* stream, std::string_view bytes) {
  ClearLastError();
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size() || std::fflush(stream) != 0) {
    NoteLoss(stream);
  }
}

void Write(std::FILE* stream, std::string_view utf8) {
#ifdef _WIN32
  HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    std::fflush(stream);
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    DWORD written = 0;
    ClearLastError();
    if (!WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) NoteLoss(stream);
    return;
  }
  // Redirected: the console's code page, which `type` and Notepad read on a
  // Japanese system (932), or UTF-8 after chcp 65001.
  UINT codePage = GetConsoleOutputCP();
  if (codePage == 0) codePage = GetACP();
  if (codePage != CP_UTF8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    const int bytes = WideCharToMultiByte(codePage, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string local(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), n, local.data(), bytes, nullptr, nullptr);
    PutBytes(stream, local);
    return;
  }
#endif
  PutBytes(stream, utf8);
}

}  // namespace

void Out(std::string_view utf8) { Write(stdout, utf8); }
void Err(std::string_view utf8) { Write(stderr, utf8); }

bool CloseOut() {
  if (std::ferror(stdout) && !lostOutput) lostOutput.emplace();
  ClearLastError();
  // A stdout closed before the start (">&-") that was never written to has lost nothing.
  if (std::fclose(stdout) != 0 && errno != EBADF) NoteLoss(stdout);
  if (!lostOutput) return true;
  std::string text = "出力を書き込めませんでした。出力先の空き容量を確かめてください。\n";
  if (!lostOutput->empty()) text += *lostOutput + "\n";
  Err(text);
  return false;
}

bool CanAsk() {
#ifdef _WIN32
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 &&
         GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
  return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1;
#endif
}

std::optional<std::string> ReadAnswer() {
#ifdef _WIN32
  // The console's own line input, in UTF-16 whatever the code page.
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring line;
  wchar_t buffer[256];
  DWORD got = 0;
  while (ReadConsoleW(input, buffer, static_cast<DWORD>(std::size(buffer)), &got, nullptr) && got > 0) {
    line.append(buffer, got);
    if (line.back() == L'\n') break;
  }
  if (line.empty()) return std::nullopt;
  while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) line.pop_back();
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
#else
  // Byte by byte, so that nothing after the line is taken from the terminal.
  std::string line;
  char c = 0;
  ssize_t got = 0;
  while ((got = ::read(STDIN_FILENO, &c, 1)) == 1 && c != '\n') line += c;
  if (got != 1 && line.empty()) return std::nullopt;  // the end of input, or a signal
  return line;
#endif
}

}  // namespace vokram::cli
