#include "Console.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/Platform.h"

#ifdef _WIN32
#include <windows.h>
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
  std::string text = "出力を書き込めませんでした。\n";
  if (!lostOutput->empty()) text += *lostOutput + "\n";
  Err(text);
  return false;
}

}  // namespace vokram::cli
