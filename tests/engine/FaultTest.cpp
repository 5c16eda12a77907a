// Every I/O call of split, join and the piece check, made to fail one at a
// time: each failure must be reported as a VokError naming a file, and must
// leave nothing behind that looks finished when it is not.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Check.h"
#include "Error.h"
#include "File.h"
#include "Join.h"
#include "Split.h"
#include "TestSupport.h"

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
bool AfterCommit(const Call& call) {
  return call.op == io::Op::Remove || (call.op == io::Op::Close && call.path.filename() == "~vok.journal");
}

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

struct SplitScene {
  test::TempDir in, out;
  fs::path source = in / kSourceName;
  explicit SplitScene(bool earlierSet = false) {
    if (earlierSet) {
      test::WriteFile(source, test::RandomBytes(kSourceSize - 1500, 3));
      Run();
    }
    test::WriteFile(source, test::RandomBytes(kSourceSize, 7));
  }
  NativeString OutputBase() const { return out.Folder() + N(kBaseName); }
  SplitResult Run() const {
    return SplitFile(source.native(), OutputBase(), 1, 1, SplitOptions{true, true, true}, {}, test::Draws({0.5f}));
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
