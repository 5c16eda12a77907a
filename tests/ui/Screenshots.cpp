// Saves pictures of the split mode, the join mode with a check report, the
// version window and the two pickers opened from the browse buttons, as BMP
// files in the folder given (a Unix path under Wine).
// Fields hold example values so the pictures show the program in use.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "ControlIds.h"
#include "Driver.h"
#include "Split.h"
#include "TestSupport.h"

using namespace vokram::ui;
using vokram::uitest::VokramProcess;
namespace fs = std::filesystem;

namespace {

bool Save(HWND window, const std::wstring& folder, const wchar_t* name) {
  // A window needs a moment to finish painting after a change.
  Sleep(700);
  const std::wstring path = folder + L"\\" + name;
  const bool saved = vokram::uitest::SaveWindowBitmap(window, path);
  std::fwprintf(saved ? stdout : stderr, L"%ls %ls\n", saved ? L"saved" : L"could not save",
                path.c_str());
  return saved;
}

// A picker over the window that opened it: the area holding both.
bool SavePicker(HWND main, HWND picker, const std::wstring& folder, const wchar_t* name) {
  RECT mainRect, pickerRect, both;
  if (!picker || !GetWindowRect(main, &mainRect) || !GetWindowRect(picker, &pickerRect)) {
    std::fwprintf(stderr, L"no picker for %ls\n", name);
    return false;
  }
  UnionRect(&both, &mainRect, &pickerRect);
  Sleep(700);
  const std::wstring path = folder + L"\\" + name;
  const bool saved = vokram::uitest::SaveScreenBitmap(both, path);
  std::fwprintf(saved ? stdout : stderr, L"%ls %ls\n", saved ? L"saved" : L"could not save",
                path.c_str());
  return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: ui_screenshots FOLDER\n", stderr);
    return 2;
  }
  const std::wstring folder = vokram::uitest::FromUnixPath(argv[1]);
  fs::create_directories(folder);

  vokram::test::TempDir dir;
  const fs::path source = dir / "旅行の写真.zip";
  vokram::test::WriteFile(source, vokram::test::RandomBytes(40 * 1024, 9));
  // The pieces where a receiver would have them, so that the picture shows a
  // path a user would have; removed again at the end.
  const fs::path user = L"C:\\Users\\yamada";
  const fs::path pieces = user / L"Downloads" / L"旅行の写真";
  const bool userIsOurs = !fs::exists(user);
  fs::create_directories(pieces);
  vokram::SplitFile(source.native(), (pieces / L"旅行の写真").native(), 8, 12, vokram::SplitOptions{true, false});
  fs::remove(pieces / L"旅行の写真.002");
  struct RemoveUser {
    fs::path path;
    ~RemoveUser() {
      std::error_code ignored;
      if (!path.empty()) fs::remove_all(path, ignored);
    }
  } removeUser{userIsOurs ? user : pieces};

  try {
    VokramProcess app;
    bool ok = true;
    app.SetText(IDC_txtSrcFile, L"C:\\Users\\yamada\\Documents\\旅行の写真.zip");
    app.SetText(IDC_txtDstdir, L"D:\\分割");
    app.SetText(IDC_txtMinSize, L"1000");
    app.SetText(IDC_txtMaxSize, L"1400");
    app.SetText(IDC_txtDstFileName, L"旅行の写真");
    ok &= Save(app.Main(), folder, L"split.bmp");

    app.MenuAndWait(IDM_mnuKetsugou);
    app.SetText(IDC_txtVokFile, (pieces / L"旅行の写真.vok").wstring());
    app.SetText(IDC_txtSaveDir, L"D:\\復元");
    app.ClickAndWait(IDC_cmdChk);
    ok &= Save(app.Main(), folder, L"join.bmp");

    app.Menu(IDM_mnuVer);
    HWND version = app.WaitForWindow(L"バージョン");
    ok &= version && Save(version, folder, L"version.bmp");
    PostMessageW(version, WM_CLOSE, 0, 0);
    for (int i = 0; i < 500 && IsWindow(version); ++i) Sleep(10);

    // The two pickers, as the browse buttons of the split panel open them.
    app.MenuAndWait(IDM_mnuBunkatsu);
    app.Click(IDC_cmdSrcRef0);
    HWND filePicker = app.WaitForDialog();
    ok &= SavePicker(app.Main(), filePicker, folder, L"browse-file.bmp");
    if (filePicker) app.CloseDialog(filePicker, IDCANCEL);
    app.Click(IDC_cmdRef0);
    HWND folderPicker = app.WaitForDialog();
    // Opened on drive C:, so the picture shows the drive's folders rather
    // than whatever the desktop of the build machine holds.
    if (folderPicker) app.SelectFolder(folderPicker, L"C:\\users");
    ok &= SavePicker(app.Main(), folderPicker, folder, L"browse-folder.bmp");
    if (folderPicker) app.CloseDialog(folderPicker, IDCANCEL);
    app.Click(IDC_cmdEnd);
    ok &= app.WaitForExit().has_value();
    return ok ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
