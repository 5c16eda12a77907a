// The value types the file layer and the system calls under it share, below
// both: path text, file handles, and what a look at a file or volume finds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace vokram {

using NativeString = std::filesystem::path::string_type;
using NativeChar = NativeString::value_type;
using NativeView = std::basic_string_view<NativeChar>;

// What a volume can take: its free space for this user, and whether it is a
// FAT volume, which holds no file of 4 GiB or more.
struct VolumeSpace {
  std::uint64_t freeBytes = 0;
  bool fat = false;
};

// What makes two names one file: device and inode on POSIX, volume serial
// and file index on Windows. Hard links, symbolic links, case-only aliases and
// short names all lead to the same identity.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// Enough to tell that a file changed: its length and its time of last write.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// What stands under one name of a folder, as one look at it sees it.
struct NameInFolder {
  bool exists = false;
  bool folder = false;                   // a folder, not a link to one
  std::optional<FileIdentity> identity;  // of the file it leads to, where it leads to one
};

namespace platform {

#ifdef _WIN32
using Handle = void*;
inline Handle const kInvalidHandle = reinterpret_cast<Handle>(-1);  // INVALID_HANDLE_VALUE
#else
using Handle = int;
inline constexpr Handle kInvalidHandle = -1;
#endif

}  // namespace platform

}  // namespace vokram
