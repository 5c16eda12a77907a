// Shared by the fuzz targets: each input becomes a descriptor file in a
// private folder on tmpfs where possible, beside a fixed set of real pieces:
// the pieces a split of "a.bin" with base "a" writes (one of them empty), a
// piece with a Japanese name, one longer than the copy buffer, and where the
// system has them a symbolic and a hard link to other pieces.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "File.h"

namespace vokram::fuzz {

// Name and content of every regular piece of the set.
inline const std::map<std::string, std::string>& Pieces() {
  static const std::map<std::string, std::string> pieces = [] {
    std::map<std::string, std::string> p;
    for (int i = 0; i < 3; ++i) p["a.00" + std::to_string(i)] = std::string(static_cast<std::size_t>(i + 1) * 7, char('A' + i));
    p["a.003"] = "";  // an empty piece
    p["表.000"] = "hyou";
    p["big.000"] = std::string(kCopyBufferSize + 100, 'B');
    return p;
  }();
  return pieces;
}

inline std::string Contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string bytes(in ? static_cast<std::size_t>(in.tellg()) : 0, '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

inline void Write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The links of the set, made (again, when a run replaced one of their names).
inline void MakeLinks(const std::filesystem::path& d) {
  std::error_code ignored;
  if (!std::filesystem::is_symlink(d / "link.000", ignored)) {
    std::filesystem::remove(d / "link.000", ignored);
    std::filesystem::create_symlink("a.001", d / "link.000", ignored);
  }
  if (!std::filesystem::equivalent(d / "a.002", d / "hard.000", ignored)) {
    std::filesystem::remove(d / "hard.000", ignored);
    std::filesystem::create_hard_link(d / "a.002", d / "hard.000", ignored);
  }
}

inline std::filesystem::path Workspace() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    auto d = base / ("vokram-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(d / "out");
    for (const auto& [name, bytes] : Pieces()) Write(d / std::filesystem::u8path(name), bytes);
    MakeLinks(d);
    return d;
  }();
  // Gone when the fuzzer ends normally; kept after a crash, for a look.
  // Registered after `dir` is made, so it runs before `dir` is destroyed.
  static const bool removedAtExit = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }) == 0;
  (void)removedAtExit;
  return dir;
}

// Writes back any piece a run changed, so every run starts from the same set.
inline void RestorePieces() {
  for (const auto& [name, bytes] : Pieces()) {
    const auto path = Workspace() / std::filesystem::u8path(name);
    std::error_code error;
    if (std::filesystem::file_size(path, error) != bytes.size() || error || Contents(path) != bytes) Write(path, bytes);
  }
  MakeLinks(Workspace());
}

inline std::filesystem::path WriteInput(const std::uint8_t* data, std::size_t size) {
  const auto path = Workspace() / "input.vok";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

}  // namespace vokram::fuzz
