// Measures how long Vokram.exe takes at most to answer a WM_NULL while it
// splits and joins a large file: the figure for BENCHMARKS.md, not a test.
//   ui_latency_probe FOLDER MIB     (FOLDER a Unix path under Wine)
// Makes FOLDER/source.bin of MIB mebibytes (sparse), splits it into pieces of
// 20-60 MB through the window, joins them, then splits a file into 4,000
// pieces of 1 KiB and does it again over them (the question before replacing
// answered Yes), and prints for each operation the time it took, the longest
// and the median round trip, and the captions seen.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ControlIds.h"
#include "Driver.h"

using namespace vokram::ui;
using vokram::uitest::Utf8;
using vokram::uitest::VokramProcess;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Clicks Run and sends WM_NULL every 10 ms until the end's message box shows;
// a question before replacing files is answered Yes on the way.
void Measure(VokramProcess& app, const char* what) {
  std::vector<double> trips;
  std::set<std::wstring> captions;
  const auto start = Clock::now();
  app.Click(IDC_cmdRun);
  for (;;) {
    const auto sent = Clock::now();
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(app.Main(), WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored);
    trips.push_back(Ms(Clock::now() - sent));
    captions.insert(app.Caption());
    if (auto box = app.WaitForMessageBox(10)) {
      if (box->title == L"確認") {
        std::printf("  asked after %.0f ms: \"%s\"\n", Ms(Clock::now() - start), Utf8(box->text).c_str());
        app.PressOk(*box, IDYES);
        continue;
      }
      const double total = Ms(Clock::now() - start);
      std::sort(trips.begin(), trips.end());
      std::printf("%s: %.0f ms, %zu round trips, longest %.1f ms, median %.1f ms, box \"%s\"\n", what, total,
                  trips.size(), trips.back(), trips[trips.size() / 2], Utf8(box->text).c_str());
      app.PressOk(*box);
      break;
    }
  }
  std::printf("  captions:");
  for (const auto& c : captions) std::printf(" [%s]", Utf8(c).c_str());
  std::printf("\n  caption now: [%s]\n", Utf8(app.Caption()).c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: ui_latency_probe FOLDER MIB\n", stderr);
    return 2;
  }
  const fs::path folder = vokram::uitest::FromUnixPath(argv[1]);
  const auto bytes = std::stoull(argv[2]) * 1024 * 1024;
  fs::create_directories(folder / "parts");
  fs::create_directories(folder / "restore");
  const fs::path source = folder / "source.bin";
  { std::FILE* f = _wfopen(source.c_str(), L"wb"); std::fputc(1, f); std::fclose(f); }
  fs::resize_file(source, bytes);

  VokramProcess app;
  app.SetText(IDC_txtSrcFile, source.wstring());
  app.SetText(IDC_txtDstdir, (folder / "parts").wstring());
  app.SetText(IDC_txtMinSize, L"20000");
  app.SetText(IDC_txtMaxSize, L"60000");
  Measure(app, "split");
  app.MenuAndWait(IDM_mnuKetsugou);
  app.SetText(IDC_txtVokFile, (folder / "parts" / "source.vok").wstring());
  app.SetText(IDC_txtSaveDir, (folder / "restore").wstring());
  Measure(app, "join");

  // Thousands of outputs that exist already: looked up off the window's thread.
  const fs::path many = folder / "many.bin";
  {
    std::FILE* f = _wfopen(many.c_str(), L"wb");
    for (int i = 0; i < 4000 * 1025; ++i) std::fputc(i & 0xFF, f);
    std::fclose(f);
  }
  fs::create_directories(folder / "many");
  app.MenuAndWait(IDM_mnuBunkatsu);
  app.SetText(IDC_txtSrcFile, many.wstring());
  app.SetText(IDC_txtDstdir, (folder / "many").wstring());
  app.SetText(IDC_txtDstFileName, L"");
  app.SetText(IDC_txtMinSize, L"1");
  app.SetText(IDC_txtMaxSize, L"1");
  Measure(app, "split into 4,000 pieces");
  Measure(app, "split again over them");
  return 0;
}
