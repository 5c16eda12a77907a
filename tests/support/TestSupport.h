// Helpers shared by the engine tests: a private folder per test, whole-file
// reads and writes, native-string literals, and the file layer's fault hook.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "File.h"
#include "Join.h"
#include "Split.h"
#include "Text.h"

namespace vokram::test {

using Bytes = std::vector<std::uint8_t>;

// Names a folder on a volume with named streams (tests/wine/on_ntfs.sh); the
// tests' folders are then made there, and files there keep marks of the web.
inline constexpr char kStreamsDirVariable[] = "VOKRAM_TEST_STREAMS_DIR";

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(std::string_view utf8Name) const;
  // The folder with a trailing separator, as the window passes folders.
  NativeString Folder() const;

 private:
  std::filesystem::path path_;
};

std::filesystem::path U8(std::string_view utf8);
NativeString N(std::string_view utf8);

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);
Bytes ReadFile(const std::filesystem::path& path);
// Deterministic pseudo-random content.
Bytes RandomBytes(std::size_t n, std::uint32_t seed = 1);
Bytes AsBytes(std::string_view text);
// The names in a folder, sorted.
std::vector<std::filesystem::path> Listing(const std::filesystem::path& folder);
// Concatenation of files in order.
Bytes Concatenate(const std::vector<std::filesystem::path>& files);

// A random source that returns the given values in turn, then repeats the last.
class Draws {
 public:
  explicit Draws(std::vector<float> values) : values_(std::move(values)) {}
  float operator()() {
    const float v = values_[next_ < values_.size() ? next_ : values_.size() - 1];
    ++next_;
    return v;
  }
  std::size_t Count() const { return next_; }

 private:
  std::vector<float> values_;
  std::size_t next_ = 0;
};

// Marks a file hidden where the system has such an attribute.
bool MakeHidden(const std::filesystem::path& path);

// One call the file layer made, for the walks that fail every call in turn.
struct IoCall {
  io::Op op;
  std::filesystem::path path;
};
const char* OpName(io::Op op);

// Installs a fault hook for one run and removes it however the run ends.
class HookGuard {
 public:
  explicit HookGuard(io::FaultHook hook) { io::SetFaultHook(std::move(hook)); }
  ~HookGuard() { io::SetFaultHook({}); }
  HookGuard(const HookGuard&) = delete;
  HookGuard& operator=(const HookGuard&) = delete;
};

// Every call an operation makes, with a hook that lets all of them run.
std::vector<IoCall> RecordCalls(const std::function<void()>& operation);

}  // namespace vokram::test

namespace vokram {

// The tests' shorthand for a whole run. outputBase is the output folder and
// the base name in one path.
SplitNames DeriveSplitNames(NativeView sourcePath, NativeView outputBase);
// Draws, plans and runs a split.
SplitResult SplitFile(NativeView sourcePath, NativeView outputBase, std::int32_t minimum, std::int32_t maximum,
                      const SplitOptions& options, const Progress& progress = {}, const RandomSource& random = {});
// Plans and runs a join.
JoinResult JoinFile(const std::filesystem::path& vokPath, NativeView outputFolder, const Progress& progress = {},
                    bool replaceExisting = false);

}  // namespace vokram
