// The fixture of the tests that drive Vokram.exe from outside: a fresh
// program and a private folder per test, and the Run command's round trip.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ControlIds.h"
#include "Driver.h"
#include "Split.h"
#include "TestSupport.h"

namespace vokram::uitest {

using namespace vokram::ui;
using test::Bytes;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

inline constexpr wchar_t kWarning[] = L"警告";

inline std::wstring W(const fs::path& path) { return path.wstring(); }

class WindowDriverTest : public ::testing::Test {
 protected:
  WindowDriverTest() = default;
  WindowDriverTest(const std::wstring& exe, const std::wstring& arguments) : app(exe, arguments) {}

  VokramProcess app;
  TempDir dir;

  // Split-mode fields in one call; the rest stay as they are.
  void SplitFields(const std::wstring& src, const std::wstring& dst, const std::wstring& base,
                   const std::wstring& min, const std::wstring& max) {
    app.SetText(IDC_txtSrcFile, src);
    app.SetText(IDC_txtDstdir, dst);
    app.SetText(IDC_txtDstFileName, base);
    app.SetText(IDC_txtMinSize, min);
    app.SetText(IDC_txtMaxSize, max);
  }

  void JoinFields(const std::wstring& vok, bool toChosenFolder, const std::wstring& saveDir) {
    app.MenuAndWait(IDM_mnuKetsugou);
    app.SetText(IDC_txtVokFile, vok);
    app.ClickAndWait(toChosenFolder ? IDC_optSavePath0 : IDC_optSavePath1);
    app.SetText(IDC_txtSaveDir, saveDir);
  }

  // Cuts a file into pieces with the engine itself, as a known starting point.
  fs::path SplitWithEngine(const fs::path& source, const fs::path& folder, const std::wstring& base,
                           int minKb, int maxKb) {
    fs::create_directories(folder);
    SplitFile(source.native(), (folder / base).native(), minKb, maxKb, SplitOptions{true, false});
    return folder / (source.stem().native() + L".vok");
  }

  // Run, one warning box, and nothing after it (no "終了しました。").
  void ExpectRunWarns(const std::wstring& message, int focusAfter = 0) {
    const MessageBoxSeen box = app.RunAndAnswer();
    EXPECT_EQ(box.title, kWarning);
    EXPECT_EQ(box.text, message);
    EXPECT_TRUE(app.NoMessageBox());
    if (focusAfter != 0) {
      EXPECT_EQ(app.FocusedId(), focusAfter);
    }
  }

  void ExpectRunFinishes() {
    const MessageBoxSeen box = app.RunAndAnswer();
    EXPECT_EQ(box.title, L"終了");
    EXPECT_EQ(box.text, L"終了しました。");
    EXPECT_TRUE(app.NoMessageBox());
  }

  // After a question answered Yes: one more box, answered, and nothing after it.
  void ExpectNextBox(const std::wstring& title, const std::wstring& text) {
    const auto box = app.WaitForMessageBox();
    ASSERT_TRUE(box);
    app.PressOk(*box);
    EXPECT_EQ(box->title, title);
    EXPECT_EQ(box->text, text);
    EXPECT_TRUE(app.NoMessageBox());
  }
};

}  // namespace vokram::uitest
