// Windows only: a folder whose path is longer than MAX_PATH, made below a
// parent and removed with its contents at the end. The runtime's own
// recursive removal lists folders within MAX_PATH and would leave it behind.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/Platform.h"

namespace vokram::test {

// n nested names of 40 characters, each after a "\".
inline std::wstring DeepLevels(int n) {
  std::wstring path;
  for (int i = 0; i < n; ++i) path += L"\\" + std::wstring(39, static_cast<wchar_t>(L'a' + i)) + L"_";
  return path;
}

class DeepFolder {
 public:
  DeepFolder(const std::filesystem::path& parent, int levels)
      : relative_(DeepLevels(levels).substr(1)), path_(parent / relative_) {
    std::filesystem::path level = parent;
    for (const auto& name : relative_) {
      level /= name;
      CreateDirectoryW(platform::LongPath(level).c_str(), nullptr);
    }
    top_ = parent / *relative_.begin();
  }
  ~DeepFolder() { RemoveTree(platform::LongPath(top_)); }
  DeepFolder(const DeepFolder&) = delete;
  DeepFolder& operator=(const DeepFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The folder below its parent.
  const std::filesystem::path& Relative() const { return relative_; }

 private:
  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName, child = folder + L"\\" + name;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(child);
        } else {
          DeleteFileW(child.c_str());
        }
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
  }

  std::filesystem::path relative_, path_, top_;
};

}  // namespace vokram::test
