// The focus tidy-up and the drop rule of the path boxes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PathFields.h"

namespace vokram {
namespace {

TEST(TidyPathFieldTest, TrimsOuterSpacesOnly) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"  C:\\out  ", L"C:\\out"},
      {L"C:\\out", L"C:\\out"},
      {L"", L""},
      {L"   ", L""},
      {L" C:\\My Documents\\a b.txt ", L"C:\\My Documents\\a b.txt"},
      {L"C:\\a  b", L"C:\\a  b"},
      {L"\tC:\\out\t", L"\tC:\\out\t"},      // only spaces count
      {L"\u3000C:\\out\u3000", L"\u3000C:\\out\u3000"},  // full-width spaces stay
      {L"  データ  ", L"データ"},
      {L"x ", L"x"},
      {L" x", L"x"},
  };
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(testing::PrintToString(in.size()));
    EXPECT_EQ(TidyPathField(in), out);
  }
}

TEST(FirstDroppedPathTest, TakesTheFirstEntryAsItIs) {
  EXPECT_EQ(FirstDroppedPath({}), std::nullopt);
  EXPECT_EQ(FirstDroppedPath({L"C:\\a.bin"}), L"C:\\a.bin");
  EXPECT_EQ(FirstDroppedPath({L"C:\\one.bin", L"C:\\two.bin", L"C:\\three.bin"}), L"C:\\one.bin");
  // Not trimmed, and a folder is as good as a file.
  EXPECT_EQ(FirstDroppedPath({L" C:\\dir with space \\", L"C:\\x"}), L" C:\\dir with space \\");
  EXPECT_EQ(FirstDroppedPath({L"", L"C:\\x"}), L"");
}

}  // namespace
}  // namespace vokram
