// The raw system calls under File. Each returns 0 or the system's error code
// (errno on POSIX, GetLastError() on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Types.h"

namespace vokram::platform {

int OpenRead(const std::filesystem::path& path, Handle& handle);
// `exists` is set when the call failed because the name is taken.
int CreateNew(const std::filesystem::path& path, Handle& handle, bool& exists);
int Read(Handle handle, void* buffer, std::size_t n, std::size_t& got);
int Write(Handle handle, const void* data, std::size_t n, std::size_t& put);
int Seek(Handle handle, std::uint64_t offset);
int Size(Handle handle, std::uint64_t& size);
int Close(Handle handle);
int Flush(Handle handle);
// Starts writing a range of a file to its disk without waiting for it, so
// that the sync at the end finds little left to do.
void StartWriteback(Handle handle, std::uint64_t offset, std::uint64_t length);
// Waits until a range handed to StartWriteback is on its disk, then drops it
// from the page cache; 0 or the error of writing it. Where the file system
// cannot wait for a range, 0: the sync at the end does it.
int DropWrittenBack(Handle handle, std::uint64_t offset, std::uint64_t length);
// Whether every written file is flushed at its close, for want of a call that
// syncs a whole file system.
extern const bool kFlushEachWrittenFile;
int SyncVolume(const std::filesystem::path& folder);
int SyncFolder(const std::filesystem::path& folder);
int Stamp(Handle handle, FileStamp& stamp);
// Puts `from` in the place of `to` in one step, with the old file's look
// (POSIX: owner and permission bits, without setuid and setgid; Windows:
// attributes and access list). A link under `to` is replaced, not followed.
int ReplaceWith(const std::filesystem::path& from, const std::filesystem::path& to);
// Puts a kept old file back under its name, replacing what stands there,
// with the attributes it had (`saved`, from AttributesOf).
int PutBack(const std::filesystem::path& backup, const std::filesystem::path& to, std::uint32_t saved);
// Gives the file (or link) `existing` the second name `name`, only when that
// is free (`exists`); `unsupported` where the file system has no hard links.
int Link(const std::filesystem::path& existing, const std::filesystem::path& name, bool& exists, bool& unsupported);
// The identity of what stands under the name itself: a link's own.
std::optional<FileIdentity> NameIdentity(const std::filesystem::path& path);
// Windows' attributes of a name (0 where there are none, and on POSIX).
std::uint32_t AttributesOf(const std::filesystem::path& path);
// Whether a file is locked against OpenToSettle from the moment it is
// created (Windows: by the sharing of its open), or only from HoldLock on.
extern const bool kLockedFromCreation;
// Makes a file just created the lock of its folder's journal: `held` when
// another process has it.
int LockExclusive(Handle handle, bool& held);
// Opens an existing journal to settle it, taking its lock: `held` when the run
// that wrote it still holds it.
int OpenToSettle(const std::filesystem::path& path, Handle& handle, bool& held);
// Renames only when nothing stands under `to`; `exists` is set when that refused it.
int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, bool& exists);
int Identify(Handle handle, FileIdentity& identity);
// Whether any volume can hold named streams (Windows); without them OpenStream
// is never called.
extern const bool kNamedStreams;
// Opens the named stream `name` (ASCII) of `file` where its volume really
// holds named streams: for reading, or for writing from its start (created
// when missing, emptied once it is known to be the stream). `absent`, with
// nothing opened or created, where the volume holds none, or for reading
// where the file has no such stream.
int OpenStream(const std::filesystem::path& file, std::string_view name, bool write, Handle& handle, bool& absent);
int Remove(const std::filesystem::path& path);

// The error code a failing hook stands for: an I/O error.
int InjectedErrorCode();
// The system's description of an error code, UTF-8.
std::string ErrorText(int code);

bool IsVisibleFile(const std::filesystem::path& path);
bool IsExistingFolder(const std::filesystem::path& path);
std::optional<std::uint64_t> FileLength(const std::filesystem::path& path);
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);
bool Exists(const std::filesystem::path& path);
bool SameName(const NativeString& a, const NativeString& b);
std::vector<NameInFolder> LookUpNames(const NativeString& folder, const std::vector<NativeString>& names);
// The names in a folder (with its trailing separator, or empty for the
// current one) that are not folders; empty when it cannot be listed.
std::vector<NativeString> FileNamesIn(const NativeString& folder);
std::optional<VolumeSpace> SpaceOf(const std::filesystem::path& folder);

#ifdef _WIN32
// The name every call above hands to the system: absolute, then "\\?\C:\..."
// or "\\?\UNC\server\share\...", so that paths beyond MAX_PATH work without
// the system's long-path setting. A name already in "\\?\" or "\\.\" form
// stays as it is.
std::wstring LongPath(const std::filesystem::path& path);
#endif

}  // namespace vokram::platform
