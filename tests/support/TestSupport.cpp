#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vokram::test {

namespace {

unsigned long ProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const char* streams = std::getenv(kStreamsDirVariable);
  path_ = (streams ? std::filesystem::path(streams) : std::filesystem::temp_directory_path()) /
          ("vokram-test-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::operator/(std::string_view utf8Name) const { return path_ / U8(utf8Name); }

NativeString TempDir::Folder() const { return WithTrailingSeparator(path_.native()); }

std::filesystem::path U8(std::string_view utf8) { return PathFromUtf8(utf8); }
NativeString N(std::string_view utf8) { return NativeFromUtf8(utf8); }

void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + ToUtf8(path));
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) { WriteFile(path, AsBytes(bytes)); }

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + ToUtf8(path));
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::vector<std::filesystem::path> Listing(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

Bytes Concatenate(const std::vector<std::filesystem::path>& files) {
  Bytes all;
  for (const auto& f : files) {
    const Bytes part = ReadFile(f);
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

bool MakeHidden(const std::filesystem::path& path) {
#ifdef _WIN32
  return SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
#else
  (void)path;
  return false;
#endif
}

const char* OpName(io::Op op) {
  switch (op) {
    case io::Op::OpenRead: return "OpenRead";
    case io::Op::CreateNew: return "CreateNew";
    case io::Op::Read: return "Read";
    case io::Op::Write: return "Write";
    case io::Op::Seek: return "Seek";
    case io::Op::Size: return "Size";
    case io::Op::Identify: return "Identify";
    case io::Op::Stamp: return "Stamp";
    case io::Op::Close: return "Close";
    case io::Op::Rename: return "Rename";
    case io::Op::Link: return "Link";
    case io::Op::Remove: return "Remove";
    case io::Op::Sync: return "Sync";
  }
  return "?";
}

std::vector<IoCall> RecordCalls(const std::function<void()>& operation) {
  std::vector<IoCall> calls;
  HookGuard guard([&](io::Op op, const std::filesystem::path& path) -> std::optional<int> {
    calls.push_back({op, path});
    return std::nullopt;
  });
  operation();
  return calls;
}

}  // namespace vokram::test

namespace vokram {

SplitNames DeriveSplitNames(NativeView sourcePath, NativeView outputBase) {
  const NativeString sourceName = NamePart(sourcePath);
  return {WithTrailingSeparator(FolderPart(outputBase)), NamePart(outputBase), sourceName, StemOf(sourceName)};
}

SplitResult SplitFile(NativeView sourcePath, NativeView outputBase, std::int32_t minimum, std::int32_t maximum,
                      const SplitOptions& options, const Progress& progress, const RandomSource& random) {
  const std::uint64_t length = File::OpenRead(std::filesystem::path(sourcePath)).Size();
  auto draw = DrawSplit(sourcePath, length, FolderPart(outputBase), NamePart(outputBase), minimum, maximum, options,
                        random);
  if (auto* refused = std::get_if<VokError>(&draw)) throw *refused;
  SplitPlan plan = PlanSplit(sourcePath, std::move(std::get<SplitDraw>(draw)), options);
  return SplitFile(plan, options, progress);
}

JoinResult JoinFile(const std::filesystem::path& vokPath, NativeView outputFolder, const Progress& progress,
                    bool replaceExisting) {
  return JoinFile(PlanJoin(vokPath, outputFolder), JoinOptions{replaceExisting}, progress);
}

}  // namespace vokram
