// The engine's file layer. Every byte the engine moves goes through File, so a
// test can make any single call fail (SetFaultHook) without permissions or a
// full disk. Errors are thrown as VokError(IoFailed) naming the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "Text.h"
#include "platform/Types.h"

namespace vokram {

namespace io {

enum class Op { OpenRead, CreateNew, Read, Write, Seek, Size, Identify, Stamp, Close, Rename, Link, Remove, Sync };

// Returns a system error code to make that call fail, or nothing to let it run.
using FaultHook = std::function<std::optional<int>(Op, const std::filesystem::path&)>;
void SetFaultHook(FaultHook hook);
// Returns the space a test makes a folder's volume report, or nothing to ask
// the system.
using SpaceHook = std::function<std::optional<VolumeSpace>(const std::filesystem::path&)>;
void SetSpaceHook(SpaceHook hook);

}  // namespace io

class File {
 public:
  File() noexcept = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();  // closes quietly; call Close() where a failed close matters

  // Other programs may read the file meanwhile, but not write or delete it
  // (Windows), so what is read is what was checked.
  static File OpenRead(const std::filesystem::path& path);
  // Creates only when nothing of that name exists, also no link; nothing if
  // something does. The only way the engine opens a file for writing: no
  // write ever lands in a file that was there before.
  static std::optional<File> CreateNew(const std::filesystem::path& path);
  // Opens a journal to settle it, holding its lock (HoldLock) meanwhile;
  // nothing when it cannot, `held` when that is because another run holds it.
  static std::optional<File> OpenToSettle(const std::filesystem::path& path, bool& held);
  // The named stream `name` of `file` (Windows), for reading or for writing
  // it anew; nothing where the volume holds no streams or, for reading, the
  // file has no such stream, and then nothing is created. Errors and the
  // fault hook name `file`; opening for writing is a CreateNew to the hook.
  static std::optional<File> OpenStream(const std::filesystem::path& file, std::string_view name, bool write);

  bool IsOpen() const noexcept { return handle_ != kInvalid; }
  const std::filesystem::path& Path() const noexcept { return path_; }

  // Up to n bytes; fewer only at the end of the file.
  std::size_t Read(void* buffer, std::size_t n);
  // Reads exactly n bytes or returns false at the end of the file (the bytes
  // read so far are then unspecified).
  bool ReadExact(void* buffer, std::size_t n);
  void Write(const void* data, std::size_t n);
  void Seek(std::uint64_t offset);
  std::uint64_t Size();
  FileIdentity Identity();
  FileStamp Stamp();
  // Puts what was written on stable storage.
  void Sync();
  // Holds the file as a lock that another process's OpenToSettle sees, for as
  // long as it is open (POSIX: an exclusive flock; Windows: the sharing of
  // the open itself).
  void HoldLock();
  // A file this program wrote is flushed to stable storage first where the
  // system has no cheaper way to do that for a whole folder (Windows);
  // elsewhere SyncWrittenFiles does it for all at once.
  void Close();

 private:
  using Handle = platform::Handle;
  static inline const Handle kInvalid = platform::kInvalidHandle;
  File(Handle handle, std::filesystem::path path, bool written) noexcept
      : handle_(handle), path_(std::move(path)), written_(written) {}

  Handle handle_ = kInvalid;
  std::filesystem::path path_;
  bool written_ = false;
  std::uint64_t writtenBytes_ = 0;  // by Write, wherever they went
  std::uint64_t writtenBack_ = 0;   // of those, handed to StartWriteback
  std::uint64_t dropped_ = 0;       // of those, on disk and out of the page cache
};

// Collects small writes (descriptor records, batch lines) into few system calls.
class BufferedWriter {
 public:
  explicit BufferedWriter(File file);
  void Write(const void* data, std::size_t n);
  void Write(std::string_view text) { Write(text.data(), text.size()); }
  void Flush();
  File& Raw() noexcept { return file_; }
  // Flushes and closes.
  void Close();

 private:
  static constexpr std::size_t kBufferSize = std::size_t{64} * 1024;
  File file_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t used_ = 0;
};

// A plain directory listing's view: true for a file that is neither hidden nor
// system (always so on POSIX). Folders, wildcards and a trailing separator are
// not found.
bool IsVisibleFile(const std::filesystem::path& path);
// True for an existing folder, written with or without a trailing separator.
bool IsExistingFolder(const std::filesystem::path& path);
// Length of a file by its path; nothing when it cannot be read.
std::optional<std::uint64_t> FileLength(const std::filesystem::path& path);
// The identity of the file a path leads to (through links); nothing when it
// leads to nothing.
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);
// Whether two names are one name to the system: without regard to case on
// Windows. Compares the names only, not what they lead to.
bool SameName(const std::filesystem::path& a, const std::filesystem::path& b);
// Whether anything stands under that name: a file (hidden or not), a folder,
// a link, also one that leads nowhere.
bool NameExists(const std::filesystem::path& path);
// What stands under each name in a folder (empty: the current folder), in
// one look at the folder or one cheap call per name; no file is opened.
// Windows matches names as it does: without regard to case, short names too.
std::vector<NameInFolder> LookUpNames(const NativeString& folder, const std::vector<NativeString>& names);
// The names of what is no folder in a folder; empty when it cannot be listed.
std::vector<NativeString> FileNamesIn(const NativeString& folder);
// Puts `from` in the place of `to` in one step, with the old file's look
// (owner and permission bits without setuid and setgid on POSIX; attributes
// and access list on Windows). A link under `to` is replaced itself, never
// followed.
void ReplaceWith(const std::filesystem::path& from, const std::filesystem::path& to);
// Puts a kept old file back under its name, replacing what stands there.
void PutBack(const std::filesystem::path& backup, const std::filesystem::path& to, std::uint32_t saved);
// Gives `existing` (a file or a link itself) the second name `name`. False,
// with nothing done, when that name is taken, or (`unsupported`) when the
// file system holds no hard links.
bool LinkIfAbsent(const std::filesystem::path& existing, const std::filesystem::path& name, bool& unsupported);
// The identity of what stands under the name itself (a link's own); nothing
// when nothing does.
std::optional<FileIdentity> NameIdentity(const std::filesystem::path& path);
// Windows' attributes of a name; 0 on POSIX and where there is none.
std::uint32_t AttributesOf(const std::filesystem::path& path);
// Removes a file; true when it is gone (also when it was not there).
bool RemoveFile(const std::filesystem::path& path);
// Renames only when nothing stands under `to`; false, with `from` left in
// place, when something does.
bool RenameIfAbsent(const std::filesystem::path& from, const std::filesystem::path& to);
// Before anything is written: refuses with VokError(TooLargeForVolume) a file
// of `largestFile` bytes a FAT volume cannot hold, and with
// VokError(NoSpace, folder, bytes) what the volume has no room for. Where the
// system cannot tell, the run goes on (and fails cleanly if the disk fills).
void RefuseWhatCannotFit(const NativeString& folder, std::uint64_t bytes, std::uint64_t largestFile);
// Every file written in the folder's file system and closed is on stable
// storage (POSIX: one syncfs; on Windows each was flushed at its close).
void SyncWrittenFiles(const NativeString& folder);
// The folder's own entries (new names, renames) are on stable storage.
void SyncFolder(const NativeString& folder);
// Best effort, for clean-up after a failure.
void RemoveQuietly(const std::filesystem::path& path) noexcept;

// The buffer size of every copy loop: large enough to amortise system calls,
// small enough to stay in cache.
inline constexpr std::size_t kCopyBufferSize = 1 << 20;

// The most one system call writes. The page cache takes a write in folios as
// large as the call, so large calls need large blocks of contiguous free
// memory. A virtual machine that returns free memory to its host has mostly
// handed such blocks back, and the first touch of them costs several times the
// copy. Measured on one: a 1 GiB split took 1.6 s in 1 MiB calls and 0.3 s in
// 128 KiB calls (GNU split 0.54 s); right after cat had written 1 GiB, a join
// took 0.9-2.5 s in 128 KiB calls and 0.3 s in 64 KiB calls (cat 0.41 s).
// 64 KiB calls cost nothing measurable where memory is plentiful.
inline constexpr std::size_t kWriteChunk = std::size_t{64} * 1024;

namespace detail {
inline constexpr std::align_val_t kPageAlignment{4096};
struct PageAlignedDelete {
  void operator()(std::uint8_t* p) const noexcept { ::operator delete[](p, kPageAlignment); }
};
}  // namespace detail

// A copy loop's buffer. Page-aligned, so the kernel's copies to and from the
// page cache run on whole, aligned pages.
using CopyBuffer = std::unique_ptr<std::uint8_t[], detail::PageAlignedDelete>;
inline CopyBuffer MakeCopyBuffer() {
  return CopyBuffer(static_cast<std::uint8_t*>(::operator new[](kCopyBufferSize, detail::kPageAlignment)));
}

}  // namespace vokram
