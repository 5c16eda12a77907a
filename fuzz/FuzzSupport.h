// Shared by the fuzz targets: each input becomes a descriptor file in a
// private folder on tmpfs where possible, beside a few real pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace vokram::fuzz {

inline std::filesystem::path Workspace() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    auto d = base / ("vokram-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(d / "out");
    // Pieces the inputs may name: the names a split of "a.bin" with base "a" writes.
    for (int i = 0; i < 3; ++i) {
      std::ofstream(d / ("a.00" + std::to_string(i)), std::ios::binary) << std::string(static_cast<std::size_t>(i + 1) * 7, char('A' + i));
    }
    std::ofstream(d / "a.003", std::ios::binary).flush();  // an empty piece
    return d;
  }();
  return dir;
}

inline std::filesystem::path WriteInput(const std::uint8_t* data, std::size_t size) {
  const auto path = Workspace() / "input.vok";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

}  // namespace vokram::fuzz
