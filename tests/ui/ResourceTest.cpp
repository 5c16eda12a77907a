// What Vokram.exe carries besides code: the version block, the icon and the
// application manifest, read from the built file as the system reads them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "Driver.h"

namespace vokram::uitest {
namespace {

std::wstring ExePath() {
  const std::string path = VOKRAM_EXE;
  return FromUnixPath(std::wstring(path.begin(), path.end()));
}

class VersionBlockTest : public ::testing::Test {
 protected:
  std::vector<BYTE> block;
  void SetUp() override {
    const DWORD size = GetFileVersionInfoSizeW(ExePath().c_str(), nullptr);
    ASSERT_GT(size, 0u);
    block.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(ExePath().c_str(), 0, size, block.data()));
  }
  std::wstring String(const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\041104b0\\") + name;
    if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) {
      return L"<missing>";
    }
    return std::wstring(value);
  }
};

TEST_F(VersionBlockTest, NumericVersionsAre0100) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00000001u);  // 0.1
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);  // .0.0
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);
}

TEST_F(VersionBlockTest, StringsForJapaneseInUnicode) {
  EXPECT_EQ(String(L"FileVersion"), L"0.01");
  EXPECT_EQ(String(L"ProductVersion"), L"0.01");
  EXPECT_EQ(String(L"InternalName"), L"Vokram");
  EXPECT_EQ(String(L"OriginalFilename"), L"Vokram.exe");

  WORD* translation = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);  // exactly one language and code page
  EXPECT_EQ(translation[0], 0x0411);
  EXPECT_EQ(translation[1], 1200);
}

class ExeResourcesTest : public ::testing::Test {
 protected:
  HMODULE exe = nullptr;
  void SetUp() override {
    exe = LoadLibraryExW(ExePath().c_str(), nullptr,
                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr);
  }
  void TearDown() override { FreeLibrary(exe); }
  std::string Resource(LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(exe, name, type);
    if (!found) return {};
    const auto* data = static_cast<const char*>(LockResource(LoadResource(exe, found)));
    return std::string(data, SizeofResource(exe, found));
  }
};

#pragma pack(push, 2)
struct IconDirEntry {
  BYTE width, height, colours, reserved;
  WORD planes, bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ExeResourcesTest, OneIconOf32By32In16Colours) {
  const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
  ASSERT_GE(group.size(), 6u + sizeof(IconDirEntry));
  const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
  ASSERT_EQ(count, 1);
  const auto* entry = reinterpret_cast<const IconDirEntry*>(group.data() + 6);
  EXPECT_EQ(entry->width, 32);
  EXPECT_EQ(entry->height, 32);
  EXPECT_EQ(entry->colours, 16);
  EXPECT_EQ(entry->bitCount, 4);
}

TEST_F(ExeResourcesTest, ManifestAsksForCommonControls6PerMonitorDpiAndLongPaths) {
  const std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  EXPECT_NE(manifest.find(">PerMonitorV2<"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm<"), std::string::npos);
  EXPECT_NE(manifest.find("<longPathAware"), std::string::npos);
}

}  // namespace
}  // namespace vokram::uitest
