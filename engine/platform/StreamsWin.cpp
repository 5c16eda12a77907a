// Named streams on Windows. Where a volume has no named streams (Wine on a
// Unix file system), "x:Zone.Identifier" is an ordinary file name, so a stream
// is touched only once the volume is known to hold streams.
#include <windows.h>

#include <string>

#include "Platform.h"
#include "UniqueHandle.h"

namespace vokram::platform {

namespace {

// Others may hold the file; Wine also checks sharing per Unix file, and a
// stream shares its file's.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct FileTraits : ReleasedBy<HANDLE, CloseHandle> {
  static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};
using UniqueFile = UniqueHandle<FileTraits>;

UniqueFile Open(const std::wstring& name, DWORD access, DWORD disposition) {
  return UniqueFile(CreateFileW(name.c_str(), access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

int Last() { return static_cast<int>(GetLastError()); }

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
  FileIdentity identity;
  if (Identify(handle, identity) != 0) return std::nullopt;
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
int Examine(const std::wstring& name, Volume& volume) {
  const UniqueFile file = Open(name, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  if (!file) return Last();
  DWORD flags = 0;
  // Asking for no serial: Wine fails the whole call on an ntfs-3g mount otherwise.
  if (GetVolumeInformationByHandleW(file.get(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
      (flags & FILE_NAMED_STREAMS) != 0) {
    volume.streams = Streams::Declared;
    return 0;
  }
  const std::optional<FileIdentity> identity = IdentityOfHandle(file.get());
  if (!identity) return 0;
  const UniqueFile unnamed = Open(name + L":", FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  if (unnamed && IdentityOfHandle(unnamed.get()) == identity) volume = {Streams::Probed, *identity};
  return 0;
}

// Where streams were only probed, an opened stream must be part of its file.
bool IsStreamOf(const Volume& volume, HANDLE stream) {
  return volume.streams == Streams::Declared || IdentityOfHandle(stream) == volume.identity;
}

}  // namespace

const bool kNamedStreams = true;

int OpenStream(const std::filesystem::path& file, std::string_view name, bool write, Handle& handle, bool& absent) {
  const std::wstring fileName = LongPath(file);
  const std::wstring streamName = fileName + L":" + std::wstring(name.begin(), name.end());
  Volume volume;
  if (const int error = Examine(fileName, volume)) return error;
  absent = volume.streams == Streams::None;
  if (absent) return 0;
  // Opened without truncating: nothing is changed before it is known to be the stream.
  UniqueFile stream = Open(streamName, write ? GENERIC_WRITE : GENERIC_READ, write ? OPEN_ALWAYS : OPEN_EXISTING);
  if (!stream) {
    const int error = Last();
    absent = !write && error == ERROR_FILE_NOT_FOUND;
    return absent ? 0 : error;
  }
  const bool created = write && GetLastError() != ERROR_ALREADY_EXISTS;
  if (!IsStreamOf(volume, stream.get())) {
    stream.reset();
    if (created) DeleteFileW(streamName.c_str());
    absent = true;
    return 0;
  }
  if (write && !SetEndOfFile(stream.get())) return Last();
  handle = stream.release();
  return 0;
}

}  // namespace vokram::platform
