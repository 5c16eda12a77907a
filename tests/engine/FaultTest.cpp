// Every I/O call of split, join and the piece check, made to fail one at a
// time: each failure must be reported as a VokError naming a file, and must
// leave nothing behind that looks finished when it is not.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Check.h"
#include "Error.h"
#include "File.h"
#include "Join.h"
#include "Journal.h"
#include "Split.h"
#include "TestSupport.h"
#include "ZoneMark.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vokram {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::N;

constexpr int kInjectedError = 5;  // EIO on POSIX, ERROR_ACCESS_DENIED on Windows

using Call = test::IoCall;
using test::HookGuard;
using test::OpName;
using test::RecordCalls;

struct Outcome {
  std::optional<Call> failed;    // the call the hook made fail
  std::optional<VokError> error; // what the operation threw
  std::string otherException;    // anything else it threw
  bool returned = false;
};

// Runs the operation with only call number n (from 1) failing.
Outcome RunFailingCall(std::size_t n, const std::function<void()>& operation) {
  Outcome outcome;
  std::size_t seen = 0;
  HookGuard guard([&](io::Op op, const fs::path& path) -> std::optional<int> {
    if (++seen != n) return std::nullopt;
    outcome.failed = Call{op, path};
    return kInjectedError;
  });
  try {
    operation();
    outcome.returned = true;
  } catch (const VokError& e) {
    outcome.error = e;
  } catch (const std::exception& e) {
    outcome.otherException = e.what();
  } catch (...) {
    outcome.otherException = "a non-standard exception";
  }
  return outcome;
}

std::string Describe(std::size_t n, const Call& call) {
  std::ostringstream text;
  text << "failing call " << n << ": " << OpName(call.op) << " " << ToUtf8(call.path);
  return text.str();
}

// Checks what must hold after any injected failure and gives the error back.
const VokError* ExpectFailed(const Outcome& outcome, const Call& expectedCall) {
  EXPECT_FALSE(outcome.returned) << "reported success";
  EXPECT_EQ(outcome.otherException, "") << "threw something other than VokError";
  // The same call fails as was counted: the walk really reaches every call.
  if (outcome.failed) {
    EXPECT_EQ(outcome.failed->op, expectedCall.op);
    EXPECT_EQ(ToUtf8(outcome.failed->path.filename()), ToUtf8(expectedCall.path.filename()));
  } else {
    ADD_FAILURE() << "the operation made fewer calls than when it was counted";
  }
  if (!outcome.error) {
    ADD_FAILURE() << "no VokError";
    return nullptr;
  }
  EXPECT_FALSE(outcome.error->File().empty()) << "the failure names no file";
  return &*outcome.error;
}

// The calls a run makes once its set is committed: a failure there is a
// warning, not a failed run (JournalTest).
bool AfterCommit(const Call& call) { return call.op == io::Op::Remove; }

// Names and contents of the plain files directly in a folder.
std::map<std::string, Bytes> Snapshot(const fs::path& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[ToUtf8(entry.path().filename())] = entry.is_regular_file() ? test::ReadFile(entry.path()) : Bytes{};
  }
  return files;
}

std::vector<std::string> Names(const std::map<std::string, Bytes>& snapshot) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : snapshot) names.push_back(name);
  return names;
}

// A source of a few KiB cut into 1,025-byte pieces, with batch and descriptor,
// into an empty folder or over an earlier split of the same names.
constexpr std::size_t kSourceSize = 4700;
constexpr int kPieces = 5;
const char* const kSourceName = "データ.avi";
const char* const kBaseName = "データ";
// Sources carry a mark where their volume keeps one: the walks then fail
// every call of reading and writing marks as well.
const char* const kMark = "[ZoneTransfer]\r\nZoneId=3\r\n";
const bool kMarksKept = std::getenv(test::kStreamsDirVariable) != nullptr;

struct SplitScene {
  test::TempDir in, out;
  fs::path source = in / kSourceName;
  explicit SplitScene(bool earlierSet = false) {
    if (earlierSet) {
      // Two pieces more than the new set: they go with it.
      test::WriteFile(source, test::RandomBytes(kSourceSize + 2100, 3));
      Run();
    }
    test::WriteFile(source, test::RandomBytes(kSourceSize, 7));
    WriteZoneMark(source, kMark);
  }
  SplitResult Run() const { return RunSplit(in.Path(), out.Path()); }
  static SplitResult RunSplit(const fs::path& in, const fs::path& out) {
    return SplitFile((in / test::U8(kSourceName)).native(), WithTrailingSeparator(out.native()) + N(kBaseName), 1, 1,
                     SplitOptions{true, true, true}, {}, test::Draws({0.5f}));
  }
};

// Whatever call fails, the split says so naming that file, and the folder is
// as it was: nothing of this run is left, and an earlier set is whole.
void WalkSplitFailures(bool earlierSet) {
  std::vector<Call> calls;
  {
    const SplitScene scene(earlierSet);
    calls = RecordCalls([&] { EXPECT_EQ(scene.Run().pieceCount, kPieces); });
  }
  // Create and close of every piece at least.
  ASSERT_GE(calls.size(), static_cast<std::size_t>(2 * kPieces));
  for (std::size_t n = 1; n <= calls.size(); ++n) {
    if (AfterCommit(calls[n - 1])) continue;
    SCOPED_TRACE(Describe(n, calls[n - 1]));
    const SplitScene scene(earlierSet);
    const Bytes sourceBefore = test::ReadFile(scene.source);
    const auto before = Snapshot(scene.out.Path());
    const Outcome outcome = RunFailingCall(n, [&] { scene.Run(); });
    const VokError* error = ExpectFailed(outcome, calls[n - 1]);
    if (error && outcome.failed) {
      EXPECT_EQ(error->Code(), ErrorCode::IoFailed);
      EXPECT_EQ(ToUtf8(error->File()), ToUtf8(outcome.failed->path)) << "names another file than the one that failed";
    }
    EXPECT_EQ(test::ReadFile(scene.source), sourceBefore);
    const auto after = Snapshot(scene.out.Path());
    EXPECT_EQ(Names(after), Names(before));
    EXPECT_EQ(after, before);
  }
}

TEST(SplitFaults, EveryFailingCallLeavesAnEmptyFolderEmpty) { WalkSplitFailures(false); }

TEST(SplitFaults, EveryFailingCallKeepsAnEarlierSetWhole) { WalkSplitFailures(true); }

TEST(SplitFaults, AHookThatNeverFailsChangesNothing) {
  const SplitScene plain, hooked;
  const SplitResult expected = plain.Run();
  SplitResult got;
  const auto calls = RecordCalls([&] { got = hooked.Run(); });
  EXPECT_FALSE(calls.empty());
  EXPECT_EQ(got.pieceCount, expected.pieceCount);
  EXPECT_EQ(got.sourceCrc, expected.sourceCrc);
  const auto files = Snapshot(hooked.out.Path());
  EXPECT_EQ(files, Snapshot(plain.out.Path()));
  EXPECT_EQ(files.size(), static_cast<std::size_t>(kPieces + 2));  // pieces, batch, descriptor
  for (int i = 0; i < kPieces; ++i) {
    EXPECT_EQ(ReadZoneMark(hooked.out / (kBaseName + (".00" + std::to_string(i)))) == kMark, kMarksKept) << i;
  }
}

// With recovery files computed beside the copy, reads and the volumes'
// writes also come from other threads: whichever write or read fails, on
// whichever thread, the split says so and leaves the folder as it was; so
// does a stop.
TEST(SplitFaults, AFailingCallBesideTheCopyLeavesTheFolderAsItWas) {
  test::TempDir in, out;
  const fs::path source = in / "s.bin";
  test::WriteFile(source, test::RandomBytes(120'000, 9));
  const auto run = [&](const Progress& progress = {}) {
    return SplitFile(source.native(), WithTrailingSeparator(out.Path().native()) + N("s"), 8, 24,
                     SplitOptions{true, false, false, 1}, progress);
  };
  for (const io::Op op : {io::Op::Write, io::Op::Read}) {
    std::atomic<std::size_t> calls{0};
    {
      HookGuard count([&](io::Op o, const fs::path&) -> std::optional<int> {
        if (o == op) ++calls;
        return std::nullopt;
      });
      run();
    }
    ASSERT_GT(calls.load(), 10u);
    for (std::size_t n = 1; n <= calls; n += calls / 7) {
      SCOPED_TRACE(std::string(OpName(op)) + " " + std::to_string(n));
      for (const auto& entry : fs::directory_iterator(out.Path())) fs::remove(entry.path());
      std::atomic<std::size_t> seen{0};
      HookGuard fail([&](io::Op o, const fs::path&) -> std::optional<int> {
        return o == op && ++seen == n ? std::optional<int>(kInjectedError) : std::nullopt;
      });
      try {
        run();
        // Pieces have random sizes, so a run may make fewer calls than the
        // one counted, and then none failed.
        EXPECT_LT(seen.load(), n) << "the failure went unnoticed";
        for (const auto& entry : fs::directory_iterator(out.Path())) fs::remove(entry.path());
      } catch (const VokError& e) {
        EXPECT_TRUE(e.Code() == ErrorCode::IoFailed || e.Code() == ErrorCode::SourceModified) << e.what();
      }
      EXPECT_TRUE(fs::is_empty(out.Path()));
    }
  }
  // So does a stop: at the copy's first step, halfway through it, or once
  // the copy is done and the recovery files are being written (the second
  // half of the progress).
  for (const double when : {0.0, 0.25, 0.5}) {
    SCOPED_TRACE(when);
    std::atomic<bool> stop{false};
    try {
      run({[&](std::uint64_t done, std::uint64_t total) {
             if (static_cast<double>(done) >= when * static_cast<double>(total)) stop = true;
           },
           &stop});
      ADD_FAILURE() << "not stopped";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::Cancelled);
    }
    EXPECT_TRUE(fs::is_empty(out.Path()));
  }
}

// ---------------------------------------------------------------------------
// Join

// Pieces and descriptor in `parts`; the join writes into `out`, or into
// `parts` itself, where an earlier file of the source's name may already lie.
struct JoinScene {
  test::TempDir parts, out;
  bool intoParts;
  Bytes sourceBytes = test::RandomBytes(kSourceSize, 11);
  fs::path vok = parts / "データ.vok";

  JoinScene(bool joinIntoParts, bool outputExists) : intoParts(joinIntoParts) {
    const fs::path source = parts / kSourceName;
    test::WriteFile(source, sourceBytes);
    WriteZoneMark(source, kMark);
    SplitFile(source.native(), parts.Folder() + N(kBaseName), 1, 1, SplitOptions{true, false}, {},
              test::Draws({0.5f}));
    fs::remove(source);
    if (outputExists) test::WriteFile(Folder() / kSourceName, "an earlier, longer file of the same name .....");
  }
  fs::path Folder() const { return intoParts ? parts.Path() : out.Path(); }
  JoinResult Run() const { return JoinFile(vok, Folder().native(), {}, true); }
};

void WalkJoinFailures(bool intoParts, bool outputExists) {
  std::vector<Call> calls;
  {
    const JoinScene scene(intoParts, outputExists);
    calls = RecordCalls([&] {
      const JoinResult result = scene.Run();
      EXPECT_TRUE(result.matchesRecord);
    });
  }
  // The descriptor, every piece and the output at least.
  ASSERT_GE(calls.size(), static_cast<std::size_t>(2 * kPieces + 4));

  for (std::size_t n = 1; n <= calls.size(); ++n) {
    if (AfterCommit(calls[n - 1])) continue;
    SCOPED_TRACE(Describe(n, calls[n - 1]));
    const JoinScene scene(intoParts, outputExists);
    const auto before = Snapshot(scene.Folder());
    const Outcome outcome = RunFailingCall(n, [&] { scene.Run(); });
    const VokError* error = ExpectFailed(outcome, calls[n - 1]);
    if (error && outcome.failed) {
      // The piece is named by its bare name, as the descriptor lists it.
      const bool namesFailedFile =
          error->File() == outcome.failed->path || error->File() == outcome.failed->path.filename();
      EXPECT_TRUE(namesFailedFile) << "names " << ToUtf8(error->File());
      EXPECT_TRUE(error->Code() == ErrorCode::IoFailed || error->Code() == ErrorCode::PieceUnreadable)
          << error->what();
      if (outcome.failed->path == scene.vok) {
        // An unreadable descriptor is not a broken one.
        EXPECT_EQ(error->Code(), ErrorCode::IoFailed);
      }
    }
    // No output under the final name, an earlier one untouched, no temporary left.
    const auto after = Snapshot(scene.Folder());
    EXPECT_EQ(Names(after), Names(before));
    EXPECT_EQ(after, before);
  }
}

TEST(JoinFaults, EveryFailingCallLeavesTheOutputFolderAsItWas) { WalkJoinFailures(false, false); }

TEST(JoinFaults, EveryFailingCallKeepsAnEarlierOutputFile) { WalkJoinFailures(false, true); }

TEST(JoinFaults, EveryFailingCallIntoThePiecesFolderLeavesItAsItWas) { WalkJoinFailures(true, false); }

TEST(JoinFaults, AHookThatNeverFailsChangesNothing) {
  const JoinScene plain(false, true), hooked(false, true);
  const JoinResult expected = plain.Run();
  JoinResult got;
  const auto calls = RecordCalls([&] { got = hooked.Run(); });
  EXPECT_FALSE(calls.empty());
  EXPECT_TRUE(got.matchesRecord);
  EXPECT_EQ(got.size, expected.size);
  EXPECT_EQ(got.crc, expected.crc);
  EXPECT_EQ(test::ReadFile(got.outputPath), hooked.sourceBytes);
  EXPECT_EQ(ReadZoneMark(got.outputPath) == kMark, kMarksKept);
  EXPECT_EQ(Snapshot(hooked.out.Path()), Snapshot(plain.out.Path()));
}

// A large file waits for its writeback some way behind the writing; a disk
// failing there fails the write that waited, not the sync at the very end.
TEST(JoinFaults, AFailingWaitBehindALargeOutputFailsTheWriteThatWaited) {
  test::TempDir dir;
  const fs::path path = dir / "large.bin";
  std::optional<File> file = File::CreateNew(path);
  ASSERT_TRUE(file);
  const Bytes block(std::size_t{8} << 20, 0x5A);
  std::vector<Call> waits;
  const HookGuard guard([&](io::Op op, const fs::path& p) -> std::optional<int> {
    if (op != io::Op::Sync) return std::nullopt;
    waits.push_back(Call{op, p});
    return kInjectedError;
  });
  try {
    for (int i = 0; i < 32; ++i) file->Write(block.data(), block.size());
    ADD_FAILURE() << "256 MiB written without waiting for any";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::IoFailed);
    EXPECT_EQ(e.File(), path);
  }
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_EQ(waits[0].path, path);
}

// ---------------------------------------------------------------------------
// Crashes: the process ends at once at one call, with no clean-up at all, as
// under a kill or a power cut. The next run into the folder settles it, and
// the folder is then wholly as it was or wholly as the run would have left it.

constexpr int kKilled = 86;

// The child's side: ends the process at call n.
void KillAtCall(std::size_t n) {
  auto seen = std::make_shared<std::size_t>(0);
  io::SetFaultHook([seen, n](io::Op, const fs::path&) -> std::optional<int> {
    if (++*seen == n) std::_Exit(kKilled);
    return std::nullopt;
  });
}

#ifdef _WIN32
// Windows has no fork: the test runs itself again with the call and folders
// in its environment, and the child runs only the operation.
std::optional<std::size_t> CrashChildCall() {
  const char* n = std::getenv("VOKRAM_CRASH_AT");
  return n ? std::optional<std::size_t>(std::stoul(n)) : std::nullopt;
}

int RunKilledAt(std::size_t n, const fs::path& a, const fs::path& b) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string(info->test_suite_name()) + "." + info->name();
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_filter=" + N(filter);
  SetEnvironmentVariableW(L"VOKRAM_CRASH_AT", std::to_wstring(n).c_str());
  SetEnvironmentVariableW(L"VOKRAM_CRASH_A", a.c_str());
  SetEnvironmentVariableW(L"VOKRAM_CRASH_B", b.c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  DWORD code = static_cast<DWORD>(-1);
  if (CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  SetEnvironmentVariableW(L"VOKRAM_CRASH_AT", nullptr);
  return static_cast<int>(code);
}

// Under Wine each child costs a start of the program: the walk kills only at
// the calls that change names, where a crash hurts most.
bool WorthKilling(const Call& call) {
  return call.op == io::Op::Rename || call.op == io::Op::Link || call.op == io::Op::Remove;
}
#else
std::optional<std::size_t> CrashChildCall() { return std::nullopt; }

int RunKilledAt(std::size_t n, const fs::path& a, const fs::path& b,
                const std::function<void(const fs::path&, const fs::path&)>& operation) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    KillAtCall(n);
    try {
      operation(a, b);
    } catch (...) {
      std::_Exit(1);
    }
    std::_Exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WorthKilling(const Call&) { return true; }
#endif

// Kills `operation(a, b)` at every call in turn (Windows: at the calls that
// change names); after each, the next run settles the folder, which must then
// hold `before` or `after` exactly, and nothing of this program's.
template <typename Scene>
void WalkCrashes(const std::function<Scene()>& makeScene,
                 const std::function<void(const fs::path&, const fs::path&)>& operation,
                 const std::function<fs::path(const Scene&)>& folderOf,
                 const std::function<std::pair<fs::path, fs::path>(const Scene&)>& foldersOf,
                 const std::function<void(const std::map<std::string, Bytes>& killed,
                                          const std::map<std::string, Bytes>& after)>& beforeSettling = {},
                 const std::function<void(const fs::path&)>& nextRun = [](const fs::path& folder) {
                   SettleInterruptedRun(WithTrailingSeparator(folder.native()));
                 }) {
  if (const auto n = CrashChildCall()) {
    KillAtCall(*n);
    try {
      operation(fs::path(std::getenv("VOKRAM_CRASH_A")), fs::path(std::getenv("VOKRAM_CRASH_B")));
    } catch (...) {
      std::_Exit(1);
    }
    std::_Exit(0);
  }
  std::vector<Call> calls;
  std::map<std::string, Bytes> after;
  {
    const Scene scene = makeScene();
    const auto [a, b] = foldersOf(scene);
    calls = RecordCalls([&] { operation(a, b); });
    after = Snapshot(folderOf(scene));
  }
  std::size_t killed = 0, old = 0;
  for (std::size_t n = 1; n <= calls.size(); ++n) {
    if (!WorthKilling(calls[n - 1])) continue;
    SCOPED_TRACE(Describe(n, calls[n - 1]));
    const Scene scene = makeScene();
    const auto before = Snapshot(folderOf(scene));
    const auto [a, b] = foldersOf(scene);
#ifdef _WIN32
    const int code = RunKilledAt(n, a, b);
#else
    const int code = RunKilledAt(n, a, b, operation);
#endif
    ASSERT_EQ(code, kKilled) << "the run did not reach the call it was to be killed at";
    ++killed;
    if (beforeSettling) beforeSettling(Snapshot(folderOf(scene)), after);
    EXPECT_NO_THROW(nextRun(folderOf(scene)));
    const auto settled = Snapshot(folderOf(scene));
    EXPECT_TRUE(settled == before || settled == after) << "neither old nor new: " << ::testing::PrintToString(Names(settled));
    if (settled == before) ++old;
  }
  EXPECT_GT(killed, 0u);
  EXPECT_GT(old, 0u) << "no kill left the old files";
}

// The next run here is a join from that folder into another: it settles the
// pieces' folder before it reads anything, and joins whichever set is there.
TEST(Crashes, ASplitOverAnEarlierSetKilledAtAnyCallIsSettledWhollyOldOrNew) {
  WalkCrashes<std::unique_ptr<SplitScene>>(
      [] { return std::make_unique<SplitScene>(true); },
      [](const fs::path& in, const fs::path& out) { SplitScene::RunSplit(in, out); },
      [](const std::unique_ptr<SplitScene>& s) { return s->out.Path(); },
      [](const std::unique_ptr<SplitScene>& s) { return std::pair(s->in.Path(), s->out.Path()); }, {},
      [](const fs::path& folder) {
        const test::TempDir elsewhere;
        EXPECT_TRUE(JoinFile(folder / test::U8("データ.vok"), elsewhere.Folder()).matchesRecord);
      });
}

// Before any later run: a descriptor or batch file stands only beside every
// piece it names, whole.
TEST(Crashes, AFirstSplitKilledAtAnyCallLeavesNoDescriptorOrBatchFileOfMissingPieces) {
  WalkCrashes<std::unique_ptr<SplitScene>>(
      [] { return std::make_unique<SplitScene>(false); },
      [](const fs::path& in, const fs::path& out) { SplitScene::RunSplit(in, out); },
      [](const std::unique_ptr<SplitScene>& s) { return s->out.Path(); },
      [](const std::unique_ptr<SplitScene>& s) { return std::pair(s->in.Path(), s->out.Path()); },
      [](const std::map<std::string, Bytes>& killed, const std::map<std::string, Bytes>& after) {
        if (!killed.contains("データ.bat") && !killed.contains("データ.vok")) return;
        for (const auto& [name, bytes] : after) {
          if (name.ends_with(".bat") || name.ends_with(".vok")) continue;
          const auto it = killed.find(name);
          EXPECT_TRUE(it != killed.end() && it->second == bytes) << name << " missing or not whole";
        }
      });
}

TEST(Crashes, AJoinOverAnOlderFileKilledAtAnyCallIsSettledWhollyOldOrNew) {
  WalkCrashes<std::unique_ptr<JoinScene>>(
      [] { return std::make_unique<JoinScene>(false, true); },
      [](const fs::path& parts, const fs::path& out) {
        JoinFile(parts / test::U8("データ.vok"), out.native(), {}, true);
      },
      [](const std::unique_ptr<JoinScene>& s) { return s->out.Path(); },
      [](const std::unique_ptr<JoinScene>& s) { return std::pair(s->parts.Path(), s->out.Path()); });
}

// A rollback whose own renames fail names what still holds new content and
// where the old file is; the journal stays, and the next run puts it back.
TEST(Crashes, ARollbackThatCannotPutAFileBackSaysWhereItIsAndTheNextRunDoes) {
  const SplitScene scene(true);
  const auto before = Snapshot(scene.out.Path());
  std::size_t renames = 0;
  {
    const SplitScene counted(true);
    for (const Call& call : RecordCalls([&] { counted.Run(); })) renames += call.op == io::Op::Rename ? 1 : 0;
  }
  // The last rename of the run (the descriptor's) and every one after it fail.
  std::size_t seen = 0;
  std::optional<VokError> error;
  {
    const HookGuard guard([&](io::Op op, const fs::path&) -> std::optional<int> {
      return op == io::Op::Rename && ++seen >= renames ? std::optional<int>(kInjectedError) : std::nullopt;
    });
    try {
      scene.Run();
    } catch (const VokError& e) {
      error = e;
    }
  }
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->Code(), ErrorCode::FolderChanged);
  EXPECT_EQ(ToUtf8(error->File()), "データ.bat");
  EXPECT_TRUE(IsTemporaryName(N(error->Reason()))) << error->Reason();
  EXPECT_TRUE(fs::exists(scene.out / error->Reason()));
  EXPECT_EQ(PendingSettlement(scene.out.Folder()), Settlement::RolledBack);
  EXPECT_EQ(SettleInterruptedRun(scene.out.Folder()), Settlement::RolledBack);
  EXPECT_EQ(Snapshot(scene.out.Path()), before);
}

// Kept old files that cannot be removed after success are named; the next
// run removes them.
TEST(Crashes, AKeptFileThatCannotBeRemovedIsNamedAndTheNextRunRemovesIt) {
  const SplitScene plain(true), scene(true);
  plain.Run();
  SplitResult result;
  {
    const HookGuard guard([](io::Op op, const fs::path&) -> std::optional<int> {
      return op == io::Op::Remove ? std::optional<int>(kInjectedError) : std::nullopt;
    });
    result = scene.Run();
  }
  ASSERT_FALSE(result.notRemoved.empty());
  for (const fs::path& left : result.notRemoved) EXPECT_TRUE(fs::exists(left)) << ToUtf8(left);
  EXPECT_EQ(PendingSettlement(scene.out.Folder()), Settlement::Completed);
  EXPECT_EQ(SettleInterruptedRun(scene.out.Folder()), Settlement::Completed);
  EXPECT_EQ(Snapshot(scene.out.Path()), Snapshot(plain.out.Path()));
}

// A journal is a stranger's file: names outside the folder, or temporaries
// not of this program's form, make it foreign, and a foreign one is never
// obeyed; the folder is refused instead.
TEST(Crashes, AJournalThatNamesAnythingButPlainNamesIsNeverObeyed) {
  Journal journal;
  const std::string hexParent = "2e2e2f78";  // "../x"
  const std::string hexTemp = "7e766f6b303030302e746d70";  // "~vok0000.tmp"
  const std::string hexPlain = "612e303030";  // "a.000"
  EXPECT_EQ(ParseJournal("VOKRAM-JOURNAL 1\nN " + hexTemp + " " + hexPlain + "\nBEGUN\n", journal),
            JournalReading::Valid);
  EXPECT_EQ(ParseJournal("VOKRAM-JOURNAL 1\nN " + hexTemp + " " + hexParent + "\nBEGUN\n", journal),
            JournalReading::Foreign);
  EXPECT_EQ(ParseJournal("VOKRAM-JOURNAL 1\nN " + hexPlain + " " + hexPlain + "\nBEGUN\n", journal),
            JournalReading::Foreign);
  EXPECT_EQ(ParseJournal("VOKRAM-JOURNAL 1\nD " + hexPlain + " " + hexPlain + "\nBEGUN\n", journal),
            JournalReading::Foreign);
  EXPECT_EQ(ParseJournal("VOKRAM-JOURNAL 1\nN " + hexTemp, journal), JournalReading::Torn);
  EXPECT_EQ(ParseJournal("VOKRAM-JOU", journal), JournalReading::Torn);

  const SplitScene scene(true);
  const auto before = Snapshot(scene.out.Path());
  test::WriteFile(scene.out / "~vok.journal", "VOKRAM-JOURNAL 1\nD 646174612e303030 " + hexTemp + "\nQ\nBEGUN\n");
  const auto foreign = Snapshot(scene.out.Path());
  try {
    scene.Run();
    ADD_FAILURE() << "ran beside a stranger's journal";
  } catch (const VokError& e) {
    EXPECT_EQ(e.Code(), ErrorCode::IoFailed);
    EXPECT_EQ(e.Cause(), Cause::FolderBusy);
  }
  EXPECT_EQ(Snapshot(scene.out.Path()), foreign);
  EXPECT_EQ(PendingSettlement(scene.out.Folder()), Settlement::None);
}

// ---------------------------------------------------------------------------
// Piece check

std::vector<PieceReport> CheckAll(const fs::path& vok) {
  std::vector<PieceReport> reports;
  CheckPieces(vok, [&](const PieceReport& r) { reports.push_back(r); });
  return reports;
}

TEST(CheckFaults, AnUnreadablePieceIsDamagedAndAnUnreadableDescriptorStopsTheCheck) {
  std::vector<Call> calls;
  {
    const JoinScene scene(false, false);
    calls = RecordCalls([&] {
      const auto reports = CheckAll(scene.vok);
      ASSERT_EQ(reports.size(), static_cast<std::size_t>(kPieces));
      for (const auto& r : reports) EXPECT_EQ(r.status, PieceStatus::Sound);
    });
  }
  ASSERT_GE(calls.size(), static_cast<std::size_t>(2 * kPieces + 2));

  for (std::size_t n = 1; n <= calls.size(); ++n) {
    SCOPED_TRACE(Describe(n, calls[n - 1]));
    const JoinScene scene(false, false);
    const auto before = Snapshot(scene.parts.Path());
    std::vector<PieceReport> reports;
    const Outcome outcome = RunFailingCall(n, [&] { reports = CheckAll(scene.vok); });
    ASSERT_TRUE(outcome.failed.has_value());
    EXPECT_EQ(outcome.otherException, "");
    if (outcome.failed->path == scene.vok) {
      ASSERT_TRUE(outcome.error.has_value()) << "an unreadable descriptor was not reported";
      EXPECT_EQ(outcome.error->Code(), ErrorCode::IoFailed);
      EXPECT_EQ(ToUtf8(outcome.error->File()), ToUtf8(scene.vok));
    } else {
      ASSERT_TRUE(outcome.returned) << (outcome.error ? outcome.error->what() : "");
      ASSERT_EQ(reports.size(), static_cast<std::size_t>(kPieces));
      for (const auto& r : reports) {
        const bool failedOne = r.name == outcome.failed->path.filename();
        EXPECT_EQ(r.status, failedOne ? PieceStatus::Damaged : PieceStatus::Sound) << ToUtf8(r.name);
      }
    }
    EXPECT_EQ(Snapshot(scene.parts.Path()), before) << "the check changed a file";
  }
}

TEST(CheckFaults, AHookThatNeverFailsChangesNothing) {
  const JoinScene scene(false, false);
  const auto expected = CheckAll(scene.vok);
  std::vector<PieceReport> got;
  const auto calls = RecordCalls([&] { got = CheckAll(scene.vok); });
  EXPECT_FALSE(calls.empty());
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(ToUtf8(got[i].name), ToUtf8(expected[i].name));
    EXPECT_EQ(got[i].status, PieceStatus::Sound);
  }
}

}  // namespace
}  // namespace vokram
