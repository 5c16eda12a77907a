// Long operations in the window: it answers while the engine works (also
// while one read blocks), shows the percentage in its caption, and stops on
// request, asking first. The file layer's test seam makes the engine slow.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "File.h"
#include "FrmBunFixture.h"
#include "Split.h"

namespace vokram::ui {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// From another thread, as another program would: WM_NULL round trips and the
// caption, every few milliseconds, until stopped.
class Watcher {
 public:
  explicit Watcher(HWND window) : thread_([this, window] {
    while (!stop_) {
      const auto start = Clock::now();
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
      longest_ = std::max(longest_, Clock::now() - start);
      wchar_t text[128] = {};
      SendMessageTimeoutW(window, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 10000, &ignored);
      captions_.emplace_back(text);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    finished_ = true;
  }) {}
  ~Watcher() { Stop(); }
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;
  // Called on the window's thread, which keeps answering until the watcher
  // has seen its last answer.
  void Stop() {
    stop_ = true;
    while (!finished_) {
      PumpPendingMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (thread_.joinable()) thread_.join();
  }
  Clock::duration Longest() const { return longest_; }
  const std::vector<std::wstring>& Captions() const { return captions_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  Clock::duration longest_{};
  std::vector<std::wstring> captions_;
  std::thread thread_;
};

void PressEscape() {
  PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
  PostMessageW(GetFocus(), WM_KEYUP, VK_ESCAPE, 1 | (3u << 30));
}

std::size_t FilesIn(const fs::path& folder) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Each read of the source blocks for a second: the window must not wait for it.
TEST_F(FrmBunTest, AnswersAndShowsProgressWhileAReadBlocks) {
  PrepareSplit(2 * 1024 * 1024);
  Set(IDC_txtMinSize, L"1024");
  Set(IDC_txtMaxSize, L"1024");
  const SlowCalls slow(io::Op::Read, std::chrono::milliseconds(1000));
  Watcher watcher(form->Handle());
  Click(IDC_cmdRun);
  watcher.Stop();

  const auto longestMs = std::chrono::duration_cast<std::chrono::milliseconds>(watcher.Longest()).count();
  RecordProperty("longest_round_trip_ms", static_cast<int>(longestMs));
  EXPECT_LT(longestMs, 500) << "the window waited for the engine";
  const std::wregex withPercent(L"Vokram　－　分割　[0-9]{1,3}%");
  EXPECT_TRUE(std::any_of(watcher.Captions().begin(), watcher.Captions().end(),
                          [&](const std::wstring& c) { return std::regex_match(c, withPercent); }));
  wchar_t caption[64] = {};
  GetWindowTextW(form->Handle(), caption, 64);
  EXPECT_STREQ(caption, L"Vokram　－　分割");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"終了しました。");
}

TEST_F(FrmBunTest, EscAsksAndYesStopsTheSplitAndTakesBackItsFiles) {
  PrepareSplit(3000);
  const SlowCalls slow(io::Op::Write, std::chrono::milliseconds(50));
  questionAnswer = IDYES;
  PressEscape();
  Click(IDC_cmdRun);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, L"処理を中止しますか？");
  EXPECT_EQ(boxes[0].title, L"確認");
  EXPECT_EQ(boxes[0].type, kQuestion);
  EXPECT_EQ(boxes[1].text, L"分割を中止しました。");
  EXPECT_EQ(boxes[1].title, L"中止");
  EXPECT_EQ(boxes[1].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(boxes[1].pointer, ArrowPointer());
  EXPECT_EQ(FilesIn(dir / "out"), 0u);
  wchar_t caption[64] = {};
  GetWindowTextW(form->Handle(), caption, 64);
  EXPECT_STREQ(caption, L"Vokram　－　分割");

  // No goes on; Esc with nothing running asks nothing.
  boxes.clear();
  questionAnswer = IDNO;
  PressEscape();
  Click(IDC_cmdRun);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, L"終了しました。");
  EXPECT_EQ(FilesIn(dir / "out"), 4u);  // three pieces and the descriptor
  PressEscape();
  PumpPendingMessages();
  EXPECT_EQ(boxes.size(), 2u);
}

// Closing during a join asks; Yes stops, removes the temporary, keeps an
// older output, and closes without another message.
TEST_F(FrmBunTest, CloseDuringAJoinAsksAndYesStopsAndCloses) {
  test::WriteFile(dir / "src.bin", test::RandomBytes(5000));
  SplitFile((dir / "src.bin").native(), (dir / "p").native(), 1, 1, SplitOptions{true, false});
  fs::create_directories(dir / "restore");
  test::WriteFile(dir / "restore/src.bin", test::AsBytes("older"));
  Menu(IDM_mnuKetsugou);
  Set(IDC_txtVokFile, (dir / "src.vok").wstring());
  Set(IDC_txtSaveDir, (dir / "restore").wstring());
  const SlowCalls slow(io::Op::Read, std::chrono::milliseconds(50));
  questionAnswer = IDYES;
  PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
  Click(IDC_cmdRun);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"処理を中止して終了しますか？");
  EXPECT_FALSE(IsWindow(form->Handle()));
  EXPECT_EQ(FilesIn(dir / "restore"), 1u);
  EXPECT_EQ(test::ReadFile(dir / "restore/src.bin"), test::AsBytes("older"));
}

}  // namespace
}  // namespace vokram::ui
