// The Windows file layer hands the system "\\?\" names, which lift MAX_PATH
// without the system's long-path setting; the clean-up the system would have
// done to a plain name must happen first.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "DeepFolder.h"
#include "File.h"
#include "TestSupport.h"
#include "platform/Platform.h"

namespace vokram {
namespace {

using platform::LongPath;
using test::Bytes;
using test::DeepLevels;
namespace fs = std::filesystem;

// Sets the current folder for one test and puts the previous one back.
class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
  ~CurrentFolder() { fs::current_path(previous_); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  fs::path previous_;
};

TEST(LongPath, AbsoluteNamesAreCleanedUpThenPrefixed) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {LR"(C:\a\b.bin)", LR"(\\?\C:\a\b.bin)"},
      {L"C:" + DeepLevels(8) + L"\\x.bin", LR"(\\?\C:)" + DeepLevels(8) + L"\\x.bin"},
      {LR"(C:/a/b/c.bin)", LR"(\\?\C:\a\b\c.bin)"},
      {LR"(C:\a\.\x\..\b.bin)", LR"(\\?\C:\a\b.bin)"},
      // As the plain name would: trailing dots and spaces go, a separator stays.
      {LR"(C:\a\b. .)", LR"(\\?\C:\a\b)"},
      {LR"(C:\a\b\)", LR"(\\?\C:\a\b\)"},
      {LR"(\\server\share\a.bin)", LR"(\\?\UNC\server\share\a.bin)"},
      {LR"(//server/share/x/../a.bin)", LR"(\\?\UNC\server\share\a.bin)"},
      {L"\\\\server\\share" + DeepLevels(8), L"\\\\?\\UNC\\server\\share" + DeepLevels(8)},
      // Already verbatim or a device: taken as it stands, ".." included.
      {LR"(\\?\C:\a\..\b)", LR"(\\?\C:\a\..\b)"},
      {LR"(\\?\UNC\server\share\a)", LR"(\\?\UNC\server\share\a)"},
      {LR"(\\.\pipe\x\..\y)", LR"(\\.\pipe\x\..\y)"},
      {LR"(\\.\NUL)", LR"(\\.\NUL)"},
      // A device name not given as one is a file of that name in its folder.
      {LR"(C:\x\NUL)", LR"(\\?\C:\x\NUL)"},
      {LR"(C:\x\con.txt)", LR"(\\?\C:\x\con.txt)"},
      {LR"(C:/x/y/../COM1.000)", LR"(\\?\C:\x\COM1.000)"},
      // Nothing to resolve: the call itself fails on it, as before.
      {L"", L""},
  };
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(testing::PrintToString(in));
    EXPECT_EQ(LongPath(in), out);
  }
}

TEST(LongPath, RelativeNamesResolveAgainstTheCurrentFolderFirst) {
  test::TempDir dir;
  const CurrentFolder inside(dir.Path());
  const std::wstring here = fs::current_path().wstring();
  ASSERT_EQ(here.substr(1, 2), L":\\");
  const std::wstring parent = here.substr(0, here.rfind(L'\\'));
  EXPECT_EQ(LongPath(L"a.000"), LR"(\\?\)" + here + L"\\a.000");
  EXPECT_EQ(LongPath(L"nul"), LR"(\\?\)" + here + L"\\nul");
  EXPECT_EQ(LongPath(L"sub/../a.000"), LR"(\\?\)" + here + L"\\a.000");
  EXPECT_EQ(LongPath(L"..\\a.000"), LR"(\\?\)" + parent + L"\\a.000");
  EXPECT_EQ(LongPath(L"\\a.000"), LR"(\\?\)" + here.substr(0, 2) + L"\\a.000");  // root of this drive
  const std::wstring deep = DeepLevels(8).substr(1) + L"\\a.000";
  EXPECT_EQ(LongPath(deep), LR"(\\?\)" + here + L"\\" + deep);
}

// Every call of the file layer on a folder deeper than MAX_PATH, by absolute
// and by relative name; the refusals decided on the caller's text still hold.
TEST(LongPath, FileCallsWorkBeyondMaxPath) {
  test::TempDir dir;
  const test::DeepFolder deep(dir.Path(), 8);
  const fs::path& folder = deep.Path();
  ASSERT_GT(folder.native().size(), 300u);
  const fs::path piece = folder / L"片.000", moved = folder / L"片.001";
  const Bytes content = test::RandomBytes(5000);

  File out = *File::CreateNew(piece);
  out.Write(content.data(), content.size());
  out.Close();
  EXPECT_TRUE(IsVisibleFile(piece));
  EXPECT_TRUE(IsExistingFolder(folder));
  EXPECT_TRUE(IsExistingFolder(folder.native() + L"\\"));
  EXPECT_EQ(FileLength(piece), content.size());
  EXPECT_TRUE(NameExists(piece));
  EXPECT_FALSE(File::CreateNew(piece).has_value());

  EXPECT_FALSE(IsVisibleFile(piece.native() + L"\\"));
  EXPECT_FALSE(IsVisibleFile(folder / L"片.00?"));
  EXPECT_FALSE(IsVisibleFile(folder));
  EXPECT_FALSE(FileLength(piece.native() + L"\\"));

  {
    const CurrentFolder inside(dir.Path());
    const fs::path relative = deep.Relative() / L"片.000";
    ASSERT_TRUE(IdentityOf(piece).has_value());
    EXPECT_EQ(IdentityOf(relative), IdentityOf(piece));
    File in = File::OpenRead(relative);
    Bytes back(content.size() + 1);
    EXPECT_EQ(in.Read(back.data(), back.size()), content.size());
    back.pop_back();
    EXPECT_EQ(back, content);
  }

  EXPECT_TRUE(RenameIfAbsent(piece, moved));
  EXPECT_FALSE(NameExists(piece));
  File::CreateNew(piece)->Close();
  EXPECT_FALSE(RenameIfAbsent(moved, piece));
  const fs::path backup = folder / L"片.bak";
  bool unsupported = true;
  EXPECT_TRUE(LinkIfAbsent(piece, backup, unsupported));
  EXPECT_FALSE(unsupported);
  ReplaceWith(moved, piece);
  EXPECT_FALSE(NameExists(moved));
  EXPECT_EQ(FileLength(piece), content.size());
  EXPECT_EQ(FileLength(backup), 0u);
  EXPECT_TRUE(RemoveFile(piece));
  EXPECT_TRUE(RemoveFile(backup));
  EXPECT_FALSE(NameExists(piece));
}

}  // namespace
}  // namespace vokram
