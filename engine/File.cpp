#include "File.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "Error.h"
#include "platform/Platform.h"

namespace vokram {

namespace io {

namespace {
FaultHook& Hook() {
  static FaultHook hook;
  return hook;
}
}  // namespace

void SetFaultHook(FaultHook hook) { Hook() = std::move(hook); }

SpaceHook& Space() {
  static SpaceHook hook;
  return hook;
}

void SetSpaceHook(SpaceHook hook) { Space() = std::move(hook); }

}  // namespace io

namespace {

constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;
constexpr std::uint64_t kWritebackAtClose = std::uint64_t{1} << 20;
// How far behind the writing a large file's bytes are waited for and dropped
// from the page cache: far enough to keep the disk's queue full.
constexpr std::uint64_t kDropLag = std::uint64_t{64} << 20;

// 0, or the error a test's hook injects into this call.
int Injected(io::Op op, const std::filesystem::path& path) {
  const auto& hook = io::Hook();
  if (!hook) return 0;
  const auto code = hook(op, path);
  return code ? *code : 0;
}

[[noreturn]] void Fail(const std::filesystem::path& path, int code) {
  throw VokError(ErrorCode::IoFailed, path, platform::ErrorText(code));
}

}  // namespace

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, kInvalid)),
      path_(std::move(other.path_)),
      written_(std::exchange(other.written_, false)),
      writtenBytes_(std::exchange(other.writtenBytes_, 0)),
      writtenBack_(std::exchange(other.writtenBack_, 0)),
      dropped_(std::exchange(other.dropped_, 0)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) platform::Close(handle_);
    handle_ = std::exchange(other.handle_, kInvalid);
    path_ = std::move(other.path_);
    written_ = std::exchange(other.written_, false);
    writtenBytes_ = std::exchange(other.writtenBytes_, 0);
    writtenBack_ = std::exchange(other.writtenBack_, 0);
    dropped_ = std::exchange(other.dropped_, 0);
  }
  return *this;
}

File::~File() {
  if (IsOpen()) platform::Close(handle_);
}

File File::OpenRead(const std::filesystem::path& path) {
  int error = Injected(io::Op::OpenRead, path);
  platform::Handle handle{};
  if (!error) error = platform::OpenRead(path, handle);
  if (error) Fail(path, error);
  return File(handle, path, false);
}

std::optional<File> File::CreateNew(const std::filesystem::path& path) {
  int error = Injected(io::Op::CreateNew, path);
  platform::Handle handle{};
  bool exists = false;
  if (!error) error = platform::CreateNew(path, handle, exists);
  if (exists) return std::nullopt;
  if (error) Fail(path, error);
  return File(handle, path, true);
}

std::optional<File> File::OpenToSettle(const std::filesystem::path& path, bool& held) {
  held = false;
  platform::Handle handle{};
  if (Injected(io::Op::OpenRead, path) || platform::OpenToSettle(path, handle, held) != 0) return std::nullopt;
  return File(handle, path, false);
}

std::optional<File> File::OpenStream(const std::filesystem::path& file, std::string_view name, bool write) {
  if (!platform::kNamedStreams) return std::nullopt;
  int error = Injected(write ? io::Op::CreateNew : io::Op::OpenRead, file);
  platform::Handle handle{};
  bool absent = false;
  if (!error) error = platform::OpenStream(file, name, write, handle, absent);
  if (absent) return std::nullopt;
  if (error) Fail(file, error);
  return File(handle, file, write);
}

std::size_t File::Read(void* buffer, std::size_t n) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t total = 0;
  while (total < n) {
    int error = Injected(io::Op::Read, path_);
    std::size_t got = 0;
    if (!error) error = platform::Read(handle_, out + total, n - total, got);
    if (error) Fail(path_, error);
    if (got == 0) break;
    total += got;
  }
  return total;
}

bool File::ReadExact(void* buffer, std::size_t n) { return Read(buffer, n) == n; }

void File::Write(const void* data, std::size_t n) {
  const auto* in = static_cast<const unsigned char*>(data);
  std::size_t total = 0;
  while (total < n) {
    int error = Injected(io::Op::Write, path_);
    std::size_t put = 0;
    if (!error) error = platform::Write(handle_, in + total, std::min(n - total, kWriteChunk), put);
    if (error) Fail(path_, error);
    if (put == 0) Fail(path_, platform::InjectedErrorCode());  // no progress: treat as a failure
    total += put;
  }
  // Writeback in the background as the file grows: the sync before success
  // then waits for the last few mebibytes, not the whole file.
  writtenBytes_ += n;
  if (writtenBytes_ - writtenBack_ >= kWritebackStep) {
    platform::StartWriteback(handle_, writtenBack_, writtenBytes_ - writtenBack_);
    writtenBack_ = writtenBytes_;
    // A file of gigabytes then holds 64-128 MiB of the page cache at a time
    // instead of pushing everything else out of it, and its pace is the
    // disk's from the first byte. On a virtual machine whose host takes back
    // free memory it matters twice: every page the file would take anew costs
    // the host's fault; these are reused while still backed.
    // A failing disk shows first in this wait: the run stops here rather
    // than writing on to the end.
    if (writtenBack_ >= dropped_ + 2 * kDropLag) {
      int error = Injected(io::Op::Sync, path_);
      if (!error) error = platform::DropWrittenBack(handle_, dropped_, writtenBack_ - kDropLag - dropped_);
      if (error) Fail(path_, error);
      dropped_ = writtenBack_ - kDropLag;
    }
  }
}

void File::Seek(std::uint64_t offset) {
  int error = Injected(io::Op::Seek, path_);
  if (!error) error = platform::Seek(handle_, offset);
  if (error) Fail(path_, error);
}

std::uint64_t File::Size() {
  int error = Injected(io::Op::Size, path_);
  std::uint64_t size = 0;
  if (!error) error = platform::Size(handle_, size);
  if (error) Fail(path_, error);
  return size;
}

FileIdentity File::Identity() {
  int error = Injected(io::Op::Identify, path_);
  FileIdentity identity;
  if (!error) error = platform::Identify(handle_, identity);
  if (error) Fail(path_, error);
  return identity;
}

FileStamp File::Stamp() {
  int error = Injected(io::Op::Stamp, path_);
  FileStamp stamp;
  if (!error) error = platform::Stamp(handle_, stamp);
  if (error) Fail(path_, error);
  return stamp;
}

void File::Sync() {
  int error = Injected(io::Op::Sync, path_);
  if (!error) error = platform::Flush(handle_);
  if (error) Fail(path_, error);
}

void File::HoldLock() {
  bool held = false;
  (void)platform::LockExclusive(handle_, held);  // just created: no one else holds it
}

void File::Close() {
  if (!IsOpen()) return;
  // The rest of a file of some size; small files are left to the one sync
  // at the end, which writes thousands of them in few requests.
  if (written_ && writtenBytes_ >= kWritebackAtClose && writtenBytes_ > writtenBack_) {
    platform::StartWriteback(handle_, writtenBack_, writtenBytes_ - writtenBack_);
  }
  if (written_ && platform::kFlushEachWrittenFile) Sync();
  const int injected = Injected(io::Op::Close, path_);
  const int error = platform::Close(std::exchange(handle_, kInvalid));
  if (injected || error) Fail(path_, injected ? injected : error);
}

BufferedWriter::BufferedWriter(File file)
    : file_(std::move(file)), buffer_(std::make_unique<unsigned char[]>(kBufferSize)) {}

void BufferedWriter::Write(const void* data, std::size_t n) {
  if (used_ + n > kBufferSize) {
    Flush();
    if (n >= kBufferSize) {
      file_.Write(data, n);
      return;
    }
  }
  std::memcpy(buffer_.get() + used_, data, n);
  used_ += n;
}

void BufferedWriter::Flush() {
  if (used_ == 0) return;
  const std::size_t n = std::exchange(used_, 0);
  file_.Write(buffer_.get(), n);
}

void BufferedWriter::Close() {
  Flush();
  file_.Close();
}

bool IsVisibleFile(const std::filesystem::path& path) { return platform::IsVisibleFile(path); }

bool IsExistingFolder(const std::filesystem::path& path) { return platform::IsExistingFolder(path); }

std::optional<std::uint64_t> FileLength(const std::filesystem::path& path) {
  return platform::FileLength(path);
}

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) { return platform::IdentityOf(path); }

bool SameName(const std::filesystem::path& a, const std::filesystem::path& b) {
  return platform::SameName(a.native(), b.native());
}

bool NameExists(const std::filesystem::path& path) { return platform::Exists(path); }

bool RenameIfAbsent(const std::filesystem::path& from, const std::filesystem::path& to) {
  int error = Injected(io::Op::Rename, to);
  bool exists = false;
  if (!error) error = platform::RenameNoReplace(from, to, exists);
  if (exists) return false;
  if (error) Fail(to, error);
  return true;
}

void ReplaceWith(const std::filesystem::path& from, const std::filesystem::path& to) {
  int error = Injected(io::Op::Rename, to);
  if (!error) error = platform::ReplaceWith(from, to);
  if (error) Fail(to, error);
}

void PutBack(const std::filesystem::path& backup, const std::filesystem::path& to, std::uint32_t saved) {
  int error = Injected(io::Op::Rename, to);
  if (!error) error = platform::PutBack(backup, to, saved);
  if (error) Fail(to, error);
}

bool LinkIfAbsent(const std::filesystem::path& existing, const std::filesystem::path& name, bool& unsupported) {
  int error = Injected(io::Op::Link, name);
  bool exists = false;
  unsupported = false;
  if (!error) error = platform::Link(existing, name, exists, unsupported);
  if (exists || unsupported) return false;
  if (error) Fail(name, error);
  return true;
}

std::optional<FileIdentity> NameIdentity(const std::filesystem::path& path) { return platform::NameIdentity(path); }

std::uint32_t AttributesOf(const std::filesystem::path& path) { return platform::AttributesOf(path); }

bool RemoveFile(const std::filesystem::path& path) {
  if (Injected(io::Op::Remove, path)) return false;
  return platform::Remove(path) == 0 || !platform::Exists(path);
}

std::vector<NativeString> FileNamesIn(const NativeString& folder) { return platform::FileNamesIn(folder); }

std::vector<NameInFolder> LookUpNames(const NativeString& folder, const std::vector<NativeString>& names) {
  return platform::LookUpNames(folder, names);
}

void RefuseWhatCannotFit(const NativeString& folder, std::uint64_t bytes, std::uint64_t largestFile) {
  std::optional<VolumeSpace> space;
  if (const auto& hook = io::Space()) space = hook(std::filesystem::path(folder));
  if (!space) space = platform::SpaceOf(std::filesystem::path(folder));
  if (!space) return;
  constexpr std::uint64_t kFatLimit = std::uint64_t{1} << 32;  // FAT sizes are 32 bits
  if (space->fat && largestFile >= kFatLimit) throw VokError(ErrorCode::TooLargeForVolume, std::filesystem::path(folder));
  if (bytes > space->freeBytes) throw VokError(ErrorCode::NoSpace, std::filesystem::path(folder), bytes);
}

void SyncWrittenFiles(const NativeString& folder) {
  const std::filesystem::path path(folder);
  int error = Injected(io::Op::Sync, path);
  if (!error) error = platform::SyncVolume(path);
  if (error) Fail(path, error);
}

void SyncFolder(const NativeString& folder) {
  const std::filesystem::path path(folder);
  int error = Injected(io::Op::Sync, path);
  if (!error) error = platform::SyncFolder(path);
  if (error) Fail(path, error);
}

void RemoveQuietly(const std::filesystem::path& path) noexcept { platform::Remove(path); }

}  // namespace vokram
