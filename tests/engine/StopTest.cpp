// A stop asked for at each moment a split, join or check looks for one: the
// operation ends with Cancelled and leaves the disk as it was before it began
// (a join's older output untouched, a split's outputs gone).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "Check.h"
#include "Error.h"
#include "Join.h"
#include "Split.h"
#include "TestSupport.h"

namespace vokram {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// Asks for a stop at the n-th look (counting from 1); 0 never.
struct StopAt {
  int at;
  int looks = 0;
  std::atomic<bool> stop{false};
  Progress Make() {
    return Progress{[this](std::uint64_t, std::uint64_t) {
                      if (++looks == at) stop = true;
                    },
                    &stop};
  }
};

// Pieces of 1.5 MiB and 0.5 MiB: the stop comes between pieces and inside one.
constexpr std::size_t kSourceSize = 3 * (std::size_t{1} << 20) + 1000;

// Into an empty folder or over an earlier set (replacing agreed to): the
// folder is as it was, file for file.
TEST(Stop, ASplitStoppedAtAnyMomentTakesBackWhatItWroteAndKeepsAnEarlierSet) {
  test::TempDir dir;
  const Bytes data = test::RandomBytes(kSourceSize);
  test::WriteFile(dir / "s.bin", data);
  fs::create_directory(dir / "out");
  test::WriteFile(dir / "out/unrelated.txt", test::AsBytes("stays"));
  const NativeString base = WithTrailingSeparator((dir / "out").native()) + test::N("s");
  const std::vector<float> draws = {0.5f, 0.0f};
  auto contents = [&] {
    std::vector<std::pair<fs::path, Bytes>> files;
    for (const auto& name : test::Listing(dir / "out")) files.emplace_back(name, test::ReadFile(dir / "out" / name));
    return files;
  };
  const auto alone = contents();

  StopAt never{0};
  test::Draws all(draws);
  SplitFile((dir / "s.bin").native(), base, 1024, 2048, {true, true}, never.Make(), std::ref(all));
  ASSERT_GE(never.looks, 4);
  const auto earlier = contents();
  ASSERT_GT(earlier.size(), alone.size());
  for (int at = 1; at <= never.looks; ++at) {
    for (const bool overEarlier : {false, true}) {
      SCOPED_TRACE("stop at look " + std::to_string(at) + (overEarlier ? " over the earlier set" : ""));
      for (const auto& name : test::Listing(dir / "out")) {
        if (name != "unrelated.txt") fs::remove(dir / "out" / name);
      }
      if (overEarlier) {
        for (const auto& [name, bytes] : earlier) test::WriteFile(dir / "out" / name, bytes);
      }
      StopAt stop{at};
      test::Draws same(draws);
      try {
        SplitFile((dir / "s.bin").native(), base, 1024, 2048, {true, true, true}, stop.Make(), std::ref(same));
        ADD_FAILURE() << "not stopped";
      } catch (const VokError& e) {
        EXPECT_EQ(e.Code(), ErrorCode::Cancelled);
      }
      EXPECT_EQ(contents(), overEarlier ? earlier : alone);
      EXPECT_EQ(test::ReadFile(dir / "s.bin"), data);
    }
  }
}

TEST(Stop, AJoinStoppedAtAnyMomentLeavesNoTemporaryAndTheOlderOutput) {
  test::TempDir dir;
  const Bytes data = test::RandomBytes(kSourceSize);
  test::WriteFile(dir / "s.bin", data);
  fs::create_directory(dir / "out");
  test::Draws draws({0.5f, 0.0f});
  SplitFile((dir / "s.bin").native(), WithTrailingSeparator((dir / "out").native()) + test::N("s"), 1024, 2048,
            {true, false}, {}, std::ref(draws));
  fs::create_directory(dir / "restore");
  const Bytes older = test::AsBytes("an older file of the same name");
  test::WriteFile(dir / "restore/s.bin", older);

  StopAt never{0};
  JoinFile(dir / "out/s.vok", (dir / "restore").native(), never.Make(), true);
  ASSERT_GE(never.looks, 4);
  for (int at = 1; at <= never.looks; ++at) {
    SCOPED_TRACE("stop at look " + std::to_string(at));
    test::WriteFile(dir / "restore/s.bin", older);
    StopAt stop{at};
    try {
      JoinFile(dir / "out/s.vok", (dir / "restore").native(), stop.Make(), true);
      ADD_FAILURE() << "not stopped";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::Cancelled);
    }
    EXPECT_EQ(test::Listing(dir / "restore"), std::vector<fs::path>{"s.bin"});
    EXPECT_EQ(test::ReadFile(dir / "restore/s.bin"), older);
  }
}

TEST(Stop, ACheckStoppedBetweenPiecesKeepsTheLinesItReported) {
  test::TempDir dir;
  test::WriteFile(dir / "c.bin", test::RandomBytes(5000));
  SplitFile((dir / "c.bin").native(), WithTrailingSeparator(dir.Path().native()) + test::N("c"), 1, 1, {true, false});
  StopAt stop{3};
  int reported = 0;
  EXPECT_THROW(CheckPieces(dir / "c.vok", [&](const PieceReport&) { ++reported; }, stop.Make()), VokError);
  EXPECT_EQ(reported, 2);
}

}  // namespace
}  // namespace vokram
