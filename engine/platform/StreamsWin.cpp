// The Zone.Identifier stream on Windows. Where a volume has no named streams
// (Wine on a Unix file system), "x:Zone.Identifier" is an ordinary file name,
// so the stream is touched only once the volume is known to hold streams.
#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "../Error.h"
#include "../ZoneMark.h"
#include "Platform.h"

namespace vokram {

namespace {

constexpr wchar_t kStreamSuffix[] = L":Zone.Identifier";
// Others may hold the file; Wine also checks sharing per Unix file, and a
// stream shares its file's.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class UniqueFile {
 public:
  explicit UniqueFile(HANDLE handle) noexcept : handle_(handle) {}
  UniqueFile(UniqueFile&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  UniqueFile& operator=(UniqueFile&&) = delete;
  UniqueFile(const UniqueFile&) = delete;
  UniqueFile& operator=(const UniqueFile&) = delete;
  ~UniqueFile() {
    if (IsOpen()) CloseHandle(handle_);
  }
  bool IsOpen() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const noexcept { return handle_; }
  // Closes now, for a close whose failure matters.
  bool Close() noexcept { return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0; }

 private:
  HANDLE handle_;
};

UniqueFile Open(const std::wstring& name, DWORD access, DWORD disposition) {
  return UniqueFile(CreateFileW(name.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

[[noreturn]] void Fail(const std::filesystem::path& file, DWORD code) {
  throw VokError(ErrorCode::IoFailed, file, platform::ErrorText(static_cast<int>(code)));
}

std::optional<FileIdentity> IdentityOf(const UniqueFile& handle) {
  FileIdentity identity;
  if (platform::Identify(handle.Get(), identity) != 0) return std::nullopt;
  return identity;
}

enum class Streams {
  None,      // a name with ":" would be a file of its own
  Declared,  // the volume says it holds streams
  Probed,    // the file's unnamed stream opened as the file itself
};

struct Volume {
  Streams streams = Streams::None;
  FileIdentity identity;  // of the file, where streams were probed
};

// Windows says whether a volume holds streams. Wine says no even for NTFS
// under ntfs-3g (and cannot query it by path), yet passes names on to it, where
// ntfs-3g takes "x:" as the unnamed stream of x. A stream that opens as its
// own file proves streams without creating anything; on a Unix file system
// "x:" is not found, or is someone's ordinary file.
Volume Examine(const std::filesystem::path& file, const std::wstring& name) {
  const UniqueFile handle = Open(name, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  if (!handle.IsOpen()) Fail(file, GetLastError());
  DWORD flags = 0;
  // Asking for no serial: Wine fails the whole call on an ntfs-3g mount otherwise.
  if (GetVolumeInformationByHandleW(handle.Get(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
      (flags & FILE_NAMED_STREAMS) != 0) {
    return {Streams::Declared, {}};
  }
  const std::optional<FileIdentity> identity = IdentityOf(handle);
  if (!identity) return {};
  const UniqueFile unnamed = Open(name + L":", FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  if (!unnamed.IsOpen() || IdentityOf(unnamed) != identity) return {};
  return {Streams::Probed, *identity};
}

// Where streams were only probed, an opened stream must be part of its file.
bool IsStreamOf(const Volume& volume, const UniqueFile& stream) {
  return volume.streams == Streams::Declared || IdentityOf(stream) == volume.identity;
}

}  // namespace

std::optional<std::string> ReadZoneMark(const std::filesystem::path& file) {
  const std::wstring name = platform::LongPath(file);
  const Volume volume = Examine(file, name);
  if (volume.streams == Streams::None) return std::nullopt;
  const UniqueFile stream = Open(name + kStreamSuffix, GENERIC_READ, OPEN_EXISTING);
  if (!stream.IsOpen()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
    Fail(file, error);
  }
  if (!IsStreamOf(volume, stream)) return std::nullopt;
  // One byte past the longest mark: a longer stream is known as one by its
  // length, never handed on cut short as if it were whole.
  std::string mark(kMaxMarkBytes + 1, '\0');
  std::size_t size = 0;
  while (size < mark.size()) {
    DWORD got = 0;
    if (!ReadFile(stream.Get(), mark.data() + size, static_cast<DWORD>(mark.size() - size), &got, nullptr)) {
      Fail(file, GetLastError());
    }
    if (got == 0) break;
    size += got;
  }
  mark.resize(size);
  return mark;
}

void WriteZoneMark(const std::filesystem::path& file, std::string_view mark) {
  const std::wstring name = platform::LongPath(file);
  const std::wstring streamName = name + kStreamSuffix;
  const std::string text = MarkToWrite(mark);
  const Volume volume = Examine(file, name);
  if (volume.streams == Streams::None) return;
  // Opened without truncating: nothing is changed before it is known to be the stream.
  UniqueFile stream = Open(streamName, GENERIC_WRITE, OPEN_ALWAYS);
  if (!stream.IsOpen()) Fail(file, GetLastError());
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  if (!IsStreamOf(volume, stream)) {
    stream.Close();
    if (created) DeleteFileW(streamName.c_str());
    return;
  }
  if (!SetEndOfFile(stream.Get())) Fail(file, GetLastError());
  for (std::string_view rest = text; !rest.empty();) {
    DWORD put = 0;
    if (!WriteFile(stream.Get(), rest.data(), static_cast<DWORD>(rest.size()), &put, nullptr)) {
      Fail(file, GetLastError());
    }
    if (put == 0) Fail(file, ERROR_WRITE_FAULT);
    rest.remove_prefix(put);
  }
  if (!FlushFileBuffers(stream.Get())) Fail(file, GetLastError());
  if (!stream.Close()) Fail(file, GetLastError());
}

}  // namespace vokram
