// Random splits, seeded and repeatable: whatever the sizes, names and options,
// the pieces put together are the source, the check finds them sound, and a
// changed byte or a lost piece is found.
#include <gtest/gtest.h>

#include <random>

#include "Check.h"
#include "Descriptor.h"
#include "Error.h"
#include "Join.h"
#include "Split.h"
#include "TestSupport.h"

namespace vokram {
namespace {

using test::Bytes;
using test::N;

const char* const kNames[] = {"data", "表示ソフト", "日本語 ファイル", ".profile", "a+b (1)", "x", "能力%"};

struct Case {
  std::size_t length;
  int minimum, maximum;
  std::string sourceName, base;
  SplitOptions options;
};

Case Draw(std::mt19937& g) {
  Case c;
  // Mostly small sources, now and then a few MiB.
  c.length = (g() % 10 == 0) ? 1 + g() % (3 << 20) : 1 + g() % 40'000;
  c.minimum = static_cast<int>(g() % 48);
  c.maximum = static_cast<int>(g() % 48);
  c.sourceName = std::string(kNames[g() % std::size(kNames)]) + ((g() % 3) ? ".bin" : "");
  c.base = (g() % 4 == 0) ? "" : kNames[g() % std::size(kNames)];
  c.options = {g() % 5 != 0, g() % 2 == 0};
  return c;
}

std::string Describe(const Case& c) {
  return std::to_string(c.length) + " bytes, " + std::to_string(c.minimum) + ".." + std::to_string(c.maximum) +
         " KiB, source '" + c.sourceName + "', base '" + c.base + "', vok " + std::to_string(c.options.writeVok) +
         " bat " + std::to_string(c.options.writeBat);
}

// 300 rounds in three shards: under Wine, where every file call is a round
// trip to the server, one test of all 300 came near the run's time limit on
// a busy machine. Each round draws from its own seed, so a shard is
// repeatable alone.
constexpr int kRoundsPerShard = 100;

class SplitProperties : public testing::TestWithParam<int> {};

TEST_P(SplitProperties, RandomSplitsCheckAndJoinBackToTheSource) {
  int withDescriptor = 0;
  const int first = GetParam() * kRoundsPerShard;
  for (int round = first; round < first + kRoundsPerShard; ++round) {
    std::seed_seq seed{20261207, round};
    std::mt19937 g(seed);
    const Case c = Draw(g);
    SCOPED_TRACE("round " + std::to_string(round) + ": " + Describe(c));
    test::TempDir dir;
    const Bytes data = test::RandomBytes(c.length, static_cast<std::uint32_t>(round));
    const auto source = dir / c.sourceName;
    test::WriteFile(source, data);
    std::filesystem::create_directory(dir / "out");
    const NativeString base = WithTrailingSeparator((dir / "out").native()) + N(c.base);

    const auto drawSeed = static_cast<std::uint32_t>(g());
    std::mt19937 draws(drawSeed);
    const RandomSource random = [&] { return UnitInterval(draws()); };
    // The pieces these draws make, counted apart from the split.
    std::mt19937 counter(drawSeed);
    std::size_t needed = 0;
    for (std::uint64_t left = c.length; left > 0; ++needed) {
      const float r = UnitInterval(counter());
      left -= std::min<std::uint64_t>(left, static_cast<std::uint64_t>(DrawnPieceSize(r, c.minimum, c.maximum)) + 1);
    }
    if (needed > static_cast<std::size_t>(kMaxPieces)) {
      EXPECT_THROW(SplitFile(source.native(), base, c.minimum, c.maximum, c.options, {}, random), VokError);
      EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
      continue;
    }
    const SplitResult result = SplitFile(source.native(), base, c.minimum, c.maximum, c.options, {}, random);
    EXPECT_EQ(static_cast<std::size_t>(result.pieceCount), needed);
    std::vector<std::filesystem::path> pieces;
    for (int i = 0; i < result.pieceCount; ++i) pieces.push_back(dir.Path() / "out" / PieceName(N(c.base), i));
    ASSERT_EQ(test::Concatenate(pieces), data);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "out" / PieceName(N(c.base), result.pieceCount)));
    if (!c.options.writeVok) continue;
    ++withDescriptor;

    const auto vok = dir.Path() / "out" / (StemOf(N(c.sourceName)) + N(".vok"));
    int sound = 0;
    CheckPieces(vok, [&](const PieceReport& r) { sound += r.status == PieceStatus::Sound; });
    EXPECT_EQ(sound, result.pieceCount);
    test::TempDir restore;
    const JoinResult joined = JoinFile(vok, restore.Path().native());
    EXPECT_TRUE(joined.matchesRecord);
    ASSERT_EQ(test::ReadFile(restore / c.sourceName), data);

    // One changed byte in one piece: that piece and only it is damaged, and the
    // join says the result does not match.
    const std::size_t victim = g() % pieces.size();
    Bytes changed = test::ReadFile(pieces[victim]);
    changed[g() % changed.size()] ^= static_cast<std::uint8_t>(1 + g() % 255);
    test::WriteFile(pieces[victim], changed);
    std::vector<PieceStatus> statuses;
    CheckPieces(vok, [&](const PieceReport& r) { statuses.push_back(r.status); });
    for (std::size_t i = 0; i < statuses.size(); ++i) {
      EXPECT_EQ(statuses[i], i == victim ? PieceStatus::Damaged : PieceStatus::Sound) << "piece " << i;
    }
    EXPECT_FALSE(JoinFile(vok, restore.Path().native(), {}, true).matchesRecord);

    // A lost piece: reported missing; the join stops, names it and keeps the
    // earlier output as it was.
    const Bytes before = test::ReadFile(restore / c.sourceName);
    std::filesystem::remove(pieces[victim]);
    statuses.clear();
    CheckPieces(vok, [&](const PieceReport& r) { statuses.push_back(r.status); });
    EXPECT_EQ(statuses.at(victim), PieceStatus::Missing);
    try {
      JoinFile(vok, restore.Path().native(), {}, true);
      ADD_FAILURE() << "joined without a piece";
    } catch (const VokError& e) {
      EXPECT_EQ(e.Code(), ErrorCode::PieceUnreadable);
      EXPECT_EQ(e.File(), pieces[victim].filename());
    }
    EXPECT_EQ(test::ReadFile(restore / c.sourceName), before);
  }
  EXPECT_GT(withDescriptor, kRoundsPerShard / 2);  // the draw really exercised the descriptor paths
}

INSTANTIATE_TEST_SUITE_P(Shards, SplitProperties, testing::Range(0, 3));

}  // namespace
}  // namespace vokram
