#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "Platform.h"

namespace vokram::platform {

namespace {

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

int Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  return std::rename(from.c_str(), to.c_str()) != 0 ? errno : 0;
}

// The folder itself, for the calls that take one: "." for the current folder.
std::string FolderName(const std::filesystem::path& folder) {
  return folder.empty() ? std::string(".") : folder.native();
}

}  // namespace

int OpenRead(const std::filesystem::path& path, Handle& handle) {
  handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) return errno;
  // Every file is read once from start to end: a longer read-ahead helps a
  // source that is not in the page cache. Only a hint; failure is harmless.
  (void)::posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
  return 0;
}

int CreateNew(const std::filesystem::path& path, Handle& handle, bool& exists) {
  handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  exists = handle < 0 && errno == EEXIST;
  return handle < 0 ? errno : 0;
}

int Read(Handle handle, void* buffer, std::size_t n, std::size_t& got) {
  for (;;) {
    const ssize_t r = ::read(handle, buffer, n);
    if (r >= 0) {
      got = static_cast<std::size_t>(r);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int Write(Handle handle, const void* data, std::size_t n, std::size_t& put) {
  for (;;) {
    const ssize_t r = ::write(handle, data, n);
    if (r >= 0) {
      put = static_cast<std::size_t>(r);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int Seek(Handle handle, std::uint64_t offset) {
  return ::lseek(handle, static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

int Size(Handle handle, std::uint64_t& size) {
  struct stat st {};
  if (::fstat(handle, &st) != 0) return errno;
  size = static_cast<std::uint64_t>(st.st_size);
  return 0;
}

int Close(Handle handle) { return ::close(handle) != 0 ? errno : 0; }

int Flush(Handle handle) { return ::fsync(handle) != 0 ? errno : 0; }

void StartWriteback(Handle handle, std::uint64_t offset, std::uint64_t length) {
  // Only a hint: where the file system cannot, the sync does it all.
  (void)::sync_file_range(handle, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

int DropWrittenBack(Handle handle, std::uint64_t offset, std::uint64_t length) {
  if (::sync_file_range(handle, static_cast<off_t>(offset), static_cast<off_t>(length),
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER) != 0) {
    const int error = errno;
    return error == EINVAL || error == ESPIPE || error == ENOSYS || error == EOPNOTSUPP ? 0 : error;
  }
  // Only a hint, and only clean pages go.
  (void)::posix_fadvise(handle, static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_DONTNEED);
  return 0;
}

// One syncfs at the end costs less than an fsync per piece, which would wait
// for each piece's writeback before reading on.
const bool kFlushEachWrittenFile = false;

// Opens the folder, makes the call on it and closes it; 0 or the error.
int OnFolder(const std::filesystem::path& folder, int (*call)(int)) {
  const int fd = ::open(FolderName(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int error = call(fd) != 0 ? errno : 0;
  ::close(fd);
  return error;
}

int SyncVolume(const std::filesystem::path& folder) { return OnFolder(folder, ::syncfs); }

int SyncFolder(const std::filesystem::path& folder) {
  const int error = OnFolder(folder, ::fsync);
  // Some file systems cannot sync a folder; their entries are then as safe as they get.
  return error == EINVAL || error == EROFS ? 0 : error;
}

int Stamp(Handle handle, FileStamp& stamp) {
  struct stat st {};
  if (::fstat(handle, &st) != 0) return errno;
  stamp = {static_cast<std::uint64_t>(st.st_size),
           static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  return 0;
}

int ReplaceWith(const std::filesystem::path& from, const std::filesystem::path& to) {
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    // The new file takes the place of the old one with its owner and
    // permissions; only root can give it the owner, and others need not. A
    // setuid or setgid bit was given to the old content, not to this one.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::chown(from.c_str(), st.st_uid, st.st_gid);
    if (::chmod(from.c_str(), st.st_mode & 01777) != 0) return errno;
  }
  return Rename(from, to);
}

int PutBack(const std::filesystem::path& backup, const std::filesystem::path& to, std::uint32_t /*saved*/) {
  return Rename(backup, to);
}

int Link(const std::filesystem::path& existing, const std::filesystem::path& name, bool& exists, bool& unsupported) {
  exists = unsupported = false;
  // linkat without AT_SYMLINK_FOLLOW names a link itself, never what it leads to.
  if (::linkat(AT_FDCWD, existing.c_str(), AT_FDCWD, name.c_str(), 0) == 0) return 0;
  const int error = errno;
  exists = error == EEXIST;
  unsupported = error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
  return error;
}

std::optional<FileIdentity> NameIdentity(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::uint32_t AttributesOf(const std::filesystem::path& /*path*/) { return 0; }

const bool kLockedFromCreation = false;

int LockExclusive(Handle handle, bool& held) {
  held = false;
  if (::flock(handle, LOCK_EX | LOCK_NB) == 0) return 0;
  held = errno == EWOULDBLOCK;
  return errno;
}

int OpenToSettle(const std::filesystem::path& path, Handle& handle, bool& held) {
  held = false;
  handle = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (handle < 0) return errno;
  struct stat st {};
  int error = ::fstat(handle, &st) != 0 ? errno : (S_ISREG(st.st_mode) ? 0 : EINVAL);
  if (!error) error = LockExclusive(handle, held);
  if (error) {
    ::close(handle);
    handle = kInvalidHandle;
  }
  return error;
}

int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to, bool& exists) {
  exists = false;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno == EEXIST) {
    exists = true;
    return EEXIST;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a hard link is just as exclusive.
  if (::link(from.c_str(), to.c_str()) == 0) return ::unlink(from.c_str()) != 0 ? errno : 0;
  if (errno == EEXIST) {
    exists = true;
    return EEXIST;
  }
  // Nor hard links (FAT): test, then rename, which leaves a short window.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) {
    exists = true;
    return EEXIST;
  }
  return Rename(from, to);
}

int Identify(Handle handle, FileIdentity& identity) {
  struct stat st {};
  if (::fstat(handle, &st) != 0) return errno;
  identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return 0;
}

// POSIX file systems have no named streams: "x:Zone.Identifier" is an
// ordinary file here, and nobody's mark.
const bool kNamedStreams = false;

int OpenStream(const std::filesystem::path&, std::string_view, bool, Handle&, bool& absent) {
  absent = true;
  return 0;
}

int Remove(const std::filesystem::path& path) { return ::unlink(path.c_str()) != 0 ? errno : 0; }

int InjectedErrorCode() { return EIO; }

std::string ErrorText(int code) { return std::strerror(code); }

bool IsVisibleFile(const std::filesystem::path& path) {
  const std::string& s = path.native();
  if (s.empty() || s.back() == '/' || HasWildcard(s)) return false;
  struct stat st {};
  return ::stat(s.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsExistingFolder(const std::filesystem::path& path) {
  const std::string& s = path.native();
  if (s.empty() || HasWildcard(s)) return false;
  struct stat st {};
  return ::stat(s.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::uint64_t> FileLength(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool Exists(const std::filesystem::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::optional<VolumeSpace> SpaceOf(const std::filesystem::path& folder) {
  struct statfs fs {};
  if (::statfs(FolderName(folder).c_str(), &fs) != 0) return std::nullopt;
  constexpr unsigned long kMsdosMagic = 0x4d44;  // vfat and msdos
  const auto unit = static_cast<std::uint64_t>(fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize);
  return VolumeSpace{static_cast<std::uint64_t>(fs.f_bavail) * unit,
                     static_cast<unsigned long>(fs.f_type) == kMsdosMagic};
}

bool SameName(const NativeString& a, const NativeString& b) { return a == b; }

std::vector<NativeString> FileNamesIn(const NativeString& folder) {
  std::vector<NativeString> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || entry->d_type == DT_DIR) continue;
    names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

std::vector<NameInFolder> LookUpNames(const NativeString& folder, const std::vector<NativeString>& names) {
  std::vector<NameInFolder> found(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string path = folder + names[i];
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    found[i].exists = true;
    found[i].folder = S_ISDIR(st.st_mode);
    // Only a link needs a second look, at what it leads to.
    if (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) continue;
    found[i].identity = FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  }
  return found;
}

}  // namespace vokram::platform
