#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Platform.h"

namespace vokram::platform {

namespace {

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

}  // namespace

int OpenRead(const std::filesystem::path& path, Handle& handle) {
  handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) return errno;
  // Every file is read once from start to end: a longer read-ahead helps a
  // source that is not in the page cache. Only a hint; failure is harmless.
  (void)::posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
  return 0;
}

int Create(const std::filesystem::path& path, Handle& handle) {
  handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return handle < 0 ? errno : 0;
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

int Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  return std::rename(from.c_str(), to.c_str()) != 0 ? errno : 0;
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

bool IsSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  const auto ia = IdentityOf(a);
  return ia && ia == IdentityOf(b);
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

}  // namespace vokram::platform
