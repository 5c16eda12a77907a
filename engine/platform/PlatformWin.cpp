#include <windows.h>
#include <aclapi.h>

#include <map>
#include <string_view>

#include "Platform.h"

namespace vokram::platform {

namespace {

bool HasWildcard(const std::wstring& s) { return s.find_first_of(L"*?") != std::wstring::npos; }

// "\\?\" takes the name as it stands; "\\.\" names a device.
bool IsVerbatim(std::wstring_view s) { return s.starts_with(LR"(\\?\)") || s.starts_with(LR"(\\.\)"); }

int Open(const std::filesystem::path& path, DWORD access, DWORD disposition, Handle& handle) {
  // Others may read, but no one may write or delete a file while it is read
  // or written here: a source or piece cannot change under an operation.
  const DWORD share = FILE_SHARE_READ;
  handle = CreateFileW(LongPath(path).c_str(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return handle == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0;
}

int Last() { return static_cast<int>(GetLastError()); }

// The full form of a name as GetFullPathNameW gives it; empty when it fails.
std::wstring FullPath(const std::wstring& s) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(s.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return {};
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);  // n counts the terminating NUL here; the folder may also have changed meanwhile
  }
}

std::wstring Upper(std::wstring s) {
  if (!s.empty()) CharUpperBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

}  // namespace

std::wstring LongPath(const std::filesystem::path& path) {
  const std::wstring& s = path.native();
  if (IsVerbatim(s)) return s;
  // The prefix turns off the system's own clean-up of the name (relative
  // parts, "." and "..", "/", trailing dots and spaces), so that is done here
  // first, exactly as the call without the prefix would have done it.
  std::wstring full = FullPath(s);
  if (full.empty()) return s;  // empty or malformed: the call itself reports it
  if (IsVerbatim(full)) {
    // A device name such as NUL or CON.txt: the clean-up made "\\.\NUL" of
    // it. Only a name given as a device may mean one; this one is a file of
    // that name in its folder.
    const std::size_t cut = s.find_last_of(L"\\/");
    const std::wstring folder = FullPath(cut == std::wstring::npos ? std::wstring(L".") : s.substr(0, cut + 1));
    if (folder.empty() || IsVerbatim(folder)) return s;
    full = folder + (folder.back() == L'\\' ? L"" : L"\\") + s.substr(cut == std::wstring::npos ? 0 : cut + 1);
  }
  if (full.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return LR"(\\?\)" + full;
  return full;
}

int OpenRead(const std::filesystem::path& path, Handle& handle) {
  return Open(path, GENERIC_READ, OPEN_EXISTING, handle);
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

int Flush(Handle handle) { return FlushFileBuffers(handle) ? 0 : Last(); }

// The cache manager writes behind on its own; FlushFileBuffers waits for the rest.
void StartWriteback(Handle, std::uint64_t, std::uint64_t) {}
int DropWrittenBack(Handle, std::uint64_t, std::uint64_t) { return 0; }

// Windows has no call that syncs a folder's files for a user: each written
// file is flushed before it is closed.
const bool kFlushEachWrittenFile = true;

int SyncVolume(const std::filesystem::path&) { return 0; }

// Renames are written through (MOVEFILE_WRITE_THROUGH) and the file system's
// journal keeps the folder's entries.
int SyncFolder(const std::filesystem::path&) { return 0; }

int Stamp(Handle handle, FileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return Last();
  stamp = {(static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
           static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                     info.ftLastWriteTime.dwLowDateTime)};
  return 0;
}

namespace {

// What of a file's attributes a replacement takes over.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The file's own access list onto another file; best effort, as the system's
// own replace does it (a file system without ACLs has nothing to carry).
void CopyAccessList(const std::wstring& from, const std::wstring& to) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  DWORD what = DACL_SECURITY_INFORMATION;
  if (GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED) != 0) {
    what |= PROTECTED_DACL_SECURITY_INFORMATION;
  } else {
    what |= UNPROTECTED_DACL_SECURITY_INFORMATION;
  }
  (void)SetNamedSecurityInfoW(const_cast<wchar_t*>(to.c_str()), SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
  LocalFree(descriptor);
}

}  // namespace

int ReplaceWith(const std::filesystem::path& from, const std::filesystem::path& to) {
  const std::wstring target = LongPath(to), replacement = LongPath(from);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool plainFile = attributes != INVALID_FILE_ATTRIBUTES &&
                         (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
  if (plainFile) {
    // A rename keeps the new file's own look; the old file's is carried over
    // here, read-only last, once the new file is in place.
    const DWORD carried = attributes & kCarriedAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (!SetFileAttributesW(replacement.c_str(), carried ? carried : FILE_ATTRIBUTE_NORMAL)) return Last();
    CopyAccessList(target, replacement);
    // A read-only file refuses to be replaced.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        !SetFileAttributesW(target.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
      return Last();
    }
  }
  if (!MoveFileExW(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const int error = Last();
    if (plainFile && (attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesW(target.c_str(), attributes);
    return error;
  }
  if (plainFile && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(target.c_str(), attributes & kCarriedAttributes);
  }
  return 0;
}

int PutBack(const std::filesystem::path& backup, const std::filesystem::path& to, std::uint32_t saved) {
  const std::wstring target = LongPath(to), kept = LongPath(backup);
  // The new file may have been made read-only like the old one.
  const DWORD now = GetFileAttributesW(target.c_str());
  if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(target.c_str(), now & ~DWORD{FILE_ATTRIBUTE_READONLY});
  }
  if (!MoveFileExW(kept.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return Last();
  if (saved != 0 && (saved & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0) {
    SetFileAttributesW(target.c_str(), saved & kCarriedAttributes ? saved & kCarriedAttributes : FILE_ATTRIBUTE_NORMAL);
  }
  return 0;
}

int Link(const std::filesystem::path& existing, const std::filesystem::path& name, bool& exists, bool& unsupported) {
  exists = unsupported = false;
  if (CreateHardLinkW(LongPath(name).c_str(), LongPath(existing).c_str(), nullptr)) return 0;
  const int error = Last();
  exists = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
  unsupported = error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION || error == ERROR_TOO_MANY_LINKS;
  return error;
}

namespace {

// No access asked: this opens files another program holds, and folders.
std::optional<FileIdentity> IdentityOpening(const std::filesystem::path& path, DWORD flags) {
  HANDLE h = CreateFileW(LongPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  FileIdentity identity;
  const int error = Identify(h, identity);
  CloseHandle(h);
  if (error) return std::nullopt;
  return identity;
}

}  // namespace

std::optional<FileIdentity> NameIdentity(const std::filesystem::path& path) {
  return IdentityOpening(path, FILE_FLAG_OPEN_REPARSE_POINT);
}

std::uint32_t AttributesOf(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
}

// The journal's writer holds it open for writing, sharing only reading: that
// is the lock.
const bool kLockedFromCreation = true;

int LockExclusive(Handle /*handle*/, bool& held) {
  held = false;
  return 0;
}

int OpenToSettle(const std::filesystem::path& path, Handle& handle, bool& held) {
  held = false;
  // Write access, though nothing is written: a second settler, or the
  // journal's writer, is then shut out until this one is done.
  handle = CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const int error = Last();
    held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    return error;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(handle);
    handle = kInvalidHandle;
    return ERROR_INVALID_FUNCTION;
  }
  return 0;
}

int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, bool& exists) {
  if (MoveFileExW(LongPath(from).c_str(), LongPath(to).c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
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
  // Without the system's words, the number alone: no language of our own here.
  std::wstring message = length ? std::wstring(text, length) : L"(" + std::to_wstring(code) + L")";
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

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) { return IdentityOpening(path, 0); }

bool Exists(const std::filesystem::path& path) {
  return GetFileAttributesW(LongPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<VolumeSpace> SpaceOf(const std::filesystem::path& folder) {
  const std::wstring name = LongPath(folder.empty() ? std::filesystem::path(L".") : folder);
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(name.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  VolumeSpace space{available.QuadPart, false};
  // FAT and FAT32 hold no file of 4 GiB or more; exFAT and the others do.
  std::wstring root(name.size() + 1, L'\0');
  wchar_t system[MAX_PATH + 1] = {};
  if (GetVolumePathNameW(name.c_str(), root.data(), static_cast<DWORD>(root.size())) &&
      GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1)) {
    space.fat = std::wstring_view(system) == L"FAT" || std::wstring_view(system) == L"FAT32";
  }
  return space;
}

bool SameName(const NativeString& a, const NativeString& b) { return a.size() == b.size() && Upper(a) == Upper(b); }

std::vector<NativeString> FileNamesIn(const NativeString& folder) {
  std::vector<NativeString> names;
  std::wstring pattern = LongPath(folder.empty() ? std::filesystem::path(L".") : std::filesystem::path(folder));
  if (!pattern.ends_with(L'\\')) pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::vector<NameInFolder> LookUpNames(const NativeString& folder, const std::vector<NativeString>& names) {
  std::vector<NameInFolder> found(names.size());
  if (names.empty()) return found;
  // One listing of the folder gives every entry's long and short name,
  // attributes and file index, instead of an open per name.
  HANDLE dir = CreateFileW(LongPath(folder.empty() ? std::filesystem::path(L".") : std::filesystem::path(folder)).c_str(),
                           FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION folderInfo;
  if (dir == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(dir, &folderInfo)) {
    if (dir != INVALID_HANDLE_VALUE) CloseHandle(dir);
    // Not listable: one attribute call per name still tells what is there.
    for (std::size_t i = 0; i < names.size(); ++i) {
      const DWORD attributes = GetFileAttributesW(LongPath(std::filesystem::path(folder + names[i])).c_str());
      found[i].exists = attributes != INVALID_FILE_ATTRIBUTES;
      found[i].folder = found[i].exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (found[i].exists) found[i].identity = IdentityOf(std::filesystem::path(folder + names[i]));
    }
    return found;
  }
  struct Entry {
    DWORD attributes;
    std::uint64_t index;
  };
  std::map<std::wstring, Entry> entries;
  alignas(8) static thread_local unsigned char buffer[64 * 1024];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(dir, kind, buffer, sizeof buffer)) {
    kind = FileIdBothDirectoryInfo;
    for (std::size_t offset = 0;;) {
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
      const Entry entry{info->FileAttributes, static_cast<std::uint64_t>(info->FileId.QuadPart)};
      entries.emplace(Upper(std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t))), entry);
      if (info->ShortNameLength > 0) {
        entries.emplace(Upper(std::wstring(info->ShortName, static_cast<unsigned char>(info->ShortNameLength) / sizeof(wchar_t))), entry);
      }
      if (info->NextEntryOffset == 0) break;
      offset += info->NextEntryOffset;
    }
  }
  CloseHandle(dir);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto it = entries.find(Upper(names[i]));
    if (it == entries.end()) continue;
    found[i].exists = true;
    found[i].folder = (it->second.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A file system without file indexes in its listing (FAT) gives 0.
    found[i].identity = it->second.index != 0
                            ? std::optional(FileIdentity{folderInfo.dwVolumeSerialNumber, it->second.index})
                            : IdentityOf(std::filesystem::path(folder + names[i]));
  }
  return found;
}

}  // namespace vokram::platform
