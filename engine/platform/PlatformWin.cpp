#include <windows.h>

#include <string_view>

#include "Platform.h"

namespace vokram::platform {

namespace {

bool HasWildcard(const std::wstring& s) { return s.find_first_of(L"*?") != std::wstring::npos; }

// "\\?\" takes the name as it stands; "\\.\" names a device.
bool IsVerbatim(std::wstring_view s) { return s.starts_with(LR"(\\?\)") || s.starts_with(LR"(\\.\)"); }

int Open(const std::filesystem::path& path, DWORD access, DWORD disposition, Handle& handle) {
  // Readers share everything so that a piece open elsewhere can still be read.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  handle = CreateFileW(LongPath(path).c_str(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return handle == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0;
}

int Last() { return static_cast<int>(GetLastError()); }

}  // namespace

std::wstring LongPath(const std::filesystem::path& path) {
  const std::wstring& s = path.native();
  if (IsVerbatim(s)) return s;
  // The prefix turns off the system's own clean-up of the name (relative
  // parts, "." and "..", "/", trailing dots and spaces), so that is done here
  // first, exactly as the call without the prefix would have done it.
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(s.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return s;  // empty or malformed: the call itself reports it
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n);  // n counts the terminating NUL here; the folder may also have changed meanwhile
  }
  if (IsVerbatim(full)) return full;  // a device name such as NUL
  if (full.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return LR"(\\?\)" + full;
  return full;
}

int OpenRead(const std::filesystem::path& path, Handle& handle) {
  return Open(path, GENERIC_READ, OPEN_EXISTING, handle);
}

int Create(const std::filesystem::path& path, Handle& handle) {
  return Open(path, GENERIC_WRITE, CREATE_ALWAYS, handle);
}

int CreateNew(const std::filesystem::path& path, Handle& handle, bool& exists) {
  const int error = Open(path, GENERIC_WRITE, CREATE_NEW, handle);
  exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  return error;
}

int Read(Handle handle, void* buffer, std::size_t n, std::size_t& got) {
  const DWORD chunk = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  DWORD done = 0;
  if (!ReadFile(handle, buffer, chunk, &done, nullptr)) return Last();
  got = done;
  return 0;
}

int Write(Handle handle, const void* data, std::size_t n, std::size_t& put) {
  const DWORD chunk = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  DWORD done = 0;
  if (!WriteFile(handle, data, chunk, &done, nullptr)) return Last();
  put = done;
  return 0;
}

int Seek(Handle handle, std::uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) ? 0 : Last();
}

int Size(Handle handle, std::uint64_t& size) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(handle, &length)) return Last();
  size = static_cast<std::uint64_t>(length.QuadPart);
  return 0;
}

int Close(Handle handle) { return CloseHandle(handle) ? 0 : Last(); }

int Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : Last();
}

int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, bool& exists) {
  if (MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(), 0)) return 0;
  const int error = Last();
  exists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
  return error;
}

int Identify(Handle handle, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return Last();
  identity = {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return 0;
}

int Remove(const std::filesystem::path& path) { return DeleteFileW(LongPath(path).c_str()) ? 0 : Last(); }

int InjectedErrorCode() { return ERROR_WRITE_FAULT; }

std::string ErrorText(int code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length ? std::wstring(text, length) : L"エラー " + std::to_wstring(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, message.data(), static_cast<int>(message.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, message.data(), static_cast<int>(message.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  return utf8;
}

bool IsVisibleFile(const std::filesystem::path& path) {
  const std::wstring& s = path.native();
  if (s.empty() || s.back() == L'\\' || s.back() == L'/' || HasWildcard(s)) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(LongPath(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  const DWORD unwanted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return (found.dwFileAttributes & unwanted) == 0;
}

bool IsExistingFolder(const std::filesystem::path& path) {
  const std::wstring& s = path.native();
  if (s.empty() || HasWildcard(s)) return false;
  const DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::uint64_t> FileLength(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(LongPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
  // No access asked: this opens files another program holds, and folders.
  HANDLE h = CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  FileIdentity identity;
  const int error = Identify(h, identity);
  CloseHandle(h);
  if (error) return std::nullopt;
  return identity;
}

bool IsSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  const auto ia = IdentityOf(a);
  return ia && ia == IdentityOf(b);
}

bool Exists(const std::filesystem::path& path) {
  return GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace vokram::platform
