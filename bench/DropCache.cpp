// Evicts from the page cache every file under a folder except the ones named
// after --keep, so each timed command starts from the same memory: its inputs
// cached, nothing else of earlier rounds. Files must be written back first
// (sync): the kernel drops only clean pages.
//   drop_cache FOLDER [--keep FILE...]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>

int main(int argc, char** argv) {
  if (argc < 2 || (argc > 2 && std::string_view(argv[2]) != "--keep")) {
    std::fprintf(stderr, "usage: drop_cache FOLDER [--keep FILE...]\n");
    return 2;
  }
  std::set<std::filesystem::path> keep;
  for (int i = 3; i < argc; ++i) keep.insert(std::filesystem::weakly_canonical(argv[i]));
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1], ec)) {
    if (!entry.is_regular_file(ec) || keep.count(std::filesystem::weakly_canonical(entry.path(), ec))) continue;
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
  return 0;
}
