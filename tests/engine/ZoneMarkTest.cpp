// Reading a zone, choosing the mark a joined file gets, and the stream calls where there are no streams.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "ZoneMark.h"

namespace vokram {
namespace {

using namespace std::string_view_literals;

const char kInternet[] = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/a.zip\r\n";

TEST(ZoneMark, ZoneIdOfItsZoneTransferSection) {
  const std::pair<std::string_view, std::optional<int>> cases[] = {
      {"[ZoneTransfer]\nZoneId=4\n", 4},
      {"\xEF\xBB\xBF[ZoneTransfer]\r\nZoneId=2\r\n", 2},
      {"[ZoneTransfer]\r\nHostUrl=about:internet\r\nZoneId=0", 0},  // no line end at the end
      {"  [ zonetransfer ]  \n\tZONEID  =  3 \n", 3},
      {"[ZoneTransfer]\r\nZoneId=3\r\nZoneId=1\r\n", 3},  // the first one
      {"[ZoneTransfer]\r\nZoneId=1000\r\n", 1000},        // a zone the system does not know
      {"ZoneId=3\r\n", std::nullopt},
      {"[ZoneTransfer]\r\n[Other]\r\nZoneId=3\r\n", std::nullopt},
      {"[Other]\r\nZoneId=1\r\n[ZoneTransfer]\r\nZoneId=3\r\n", 3},
      {"[ZoneTransfer]\r\nZoneIdX=3\r\nMyZoneId=2\r\n", std::nullopt},
      {"[ZoneTransfer]\r\nZoneId=\r\n", std::nullopt},
      {"[ZoneTransfer]\r\nZoneId=3x\r\n", std::nullopt},
      {"[ZoneTransfer]\r\nZoneId=99999999999\r\n", std::nullopt},
      {"\x00\xFF garbage \x1A"sv, std::nullopt},
  };
  for (const auto& [text, zone] : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(text)));
    EXPECT_EQ(ZoneIdOf(text), zone);
  }
}

TEST(ZoneMark, MostRestrictiveIsTheOneTrustedLeast) {
  const std::string local = "[ZoneTransfer]\r\nZoneId=0\r\n";
  const std::string trusted = "[ZoneTransfer]\nZoneId=2\n";
  const std::string internet = kInternet;
  const std::string internetToo = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.org/b.zip\r\n";
  const std::string restricted = "[ZoneTransfer]\r\nZoneId=4\r\nReferrerUrl=https://example.net/\r\n";
  const std::string unknown = "[ZoneTransfer]\nZoneId=9\n";
  const std::string unreadable = "[ZoneTransfer]\r\nZoneId=three\r\n";
  struct Case {
    const char* what;
    std::vector<std::optional<std::string>> marks;
    std::optional<std::string> chosen;
  };
  const Case cases[] = {
      {"no file has a mark", {std::nullopt, std::nullopt}, std::nullopt},
      {"a safer zone is still a mark", {std::nullopt, local, std::nullopt}, local},
      {"the highest zone", {internet, restricted, trusted}, restricted},
      {"the first of equals", {trusted, internet, internetToo}, internet},
      {"an unknown zone ranks as restricted", {internet, unknown, restricted}, unknown},
      {"an unreadable mark over safer zones", {local, trusted, unreadable}, unreadable},
      {"an internet mark over unreadable ones", {unreadable, std::string(), internet}, internet},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(MostRestrictiveMark(c.marks), c.chosen);
  }

  // What the reader gives for a stream longer than a mark ranks as unreadable,
  // though the part that was read says restricted. (Told apart by their sizes:
  // the long text would fill the log.)
  std::string overlong = restricted;
  overlong.resize(kMaxMarkBytes + 1, ' ');
  const auto sizeOf = [](const std::optional<std::string>& mark) { return mark ? mark->size() : 0; };
  EXPECT_EQ(sizeOf(MostRestrictiveMark({trusted, overlong, local})), overlong.size()) << "over safer zones";
  EXPECT_EQ(sizeOf(MostRestrictiveMark({overlong, internet})), internet.size()) << "below an internet mark";
}

TEST(ZoneMark, AnOutputGetsAReadableMarkAsItIsOrAFreshInternetOne) {
  const std::string fresh = "[ZoneTransfer]\r\nZoneId=3\r\n";
  std::string longest = "[ZoneTransfer]\nZoneId=0\n";
  longest.resize(kMaxMarkBytes, '\n');
  const std::string cut = longest + "\n";  // a stream that went on: read one byte past the limit
  const std::pair<std::string, bool> cases[] = {
      {kInternet, true},
      {"[ZoneTransfer]\nZoneId=0\n", true},  // safer, yet copied as it is
      {"[ZoneTransfer]\r\nZoneId=1000\r\n", true},
      {longest, true},
      {"[ZoneTransfer]\r\nZoneId=three\r\nHostUrl=https://example.com/\r\n", false},
      {"", false},
      {"[Other]\r\nZoneId=1\r\n", false},
      {cut, false},
  };
  for (const auto& [mark, copied] : cases) {
    SCOPED_TRACE(testing::PrintToString(mark.substr(0, 40)) + ", " + std::to_string(mark.size()) + " bytes");
    const std::string written = MarkToWrite(mark);
    const char* what = written == mark ? "a copy" : written == fresh ? "a fresh internet mark" : "something else";
    EXPECT_STREQ(what, copied ? "a copy" : "a fresh internet mark");
  }
}

// Wine on a Unix file system makes "x:Zone.Identifier" a file of its own; POSIX
// has no streams either. (Where streams exist the stranger is one: skipped.)
TEST(ZoneMark, WithoutStreamsNothingIsReadOrCreated) {
  const test::TempDir dir;
  const auto file = dir / "x.bin";
  const auto stranger = dir / "x.bin:Zone.Identifier";
  test::WriteFile(file, "data");
  test::WriteFile(stranger, kInternet);
  if (test::Listing(dir.Path()).size() == 1) GTEST_SKIP() << "this folder's volume holds named streams";

  // Someone's ordinary file of the stream's name is no mark, and stays as it is.
  EXPECT_EQ(ReadZoneMark(file), std::nullopt);
  WriteZoneMark(file, "[ZoneTransfer]\r\nZoneId=4\r\n");
  EXPECT_EQ(test::ReadFile(stranger), test::AsBytes(kInternet));

  std::filesystem::remove(stranger);
  WriteZoneMark(file, kInternet);
  EXPECT_EQ(ReadZoneMark(file), std::nullopt);
  EXPECT_EQ(test::Listing(dir.Path()), std::vector<std::filesystem::path>{"x.bin"});
  EXPECT_EQ(test::ReadFile(file), test::AsBytes("data"));
}

}  // namespace
}  // namespace vokram
