// The window's portable helpers: the twips-to-pixels conversion and the walk
// along an explicit tab order.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include <windows.h>

#include "ControlIds.h"
#include "Frm_BunLayout.h"
#include "TabOrder.h"
#include "Twips.h"

namespace vokram::ui {
namespace {

TEST(TwipsToPixels, FifteenTwipsArePixelAt96Dpi) {
  EXPECT_EQ(TwipsToPixels(8640, 96), 576);
  EXPECT_EQ(TwipsToPixels(4170, 96), 278);
  EXPECT_EQ(TwipsToPixels(15, 96), 1);
  EXPECT_EQ(TwipsToPixels(0, 96), 0);
}

TEST(TwipsToPixels, ScalesWithDpiAndRoundsToNearest) {
  EXPECT_EQ(TwipsToPixels(8640, 144), 864);
  EXPECT_EQ(TwipsToPixels(8640, 192), 1152);
  EXPECT_EQ(TwipsToPixels(7, 96), 0);   // 0.47 px
  EXPECT_EQ(TwipsToPixels(8, 96), 1);   // 0.53 px
  EXPECT_EQ(TwipsToPixels(45, 120), 4); // 3.75 px
  EXPECT_EQ(TwipsToPixels(-8, 96), -1);
  // No overflow for large designs at high DPI.
  EXPECT_EQ(TwipsToPixels(2'000'000'000, 480), 666'666'667);
}

class NextTabStopTest : public ::testing::Test {
 protected:
  std::vector<int> order{10, 11, 12, 13, 14};
  std::set<int> focusable{11, 12, 14};
  std::function<bool(int)> canFocus = [this](int id) { return focusable.count(id) != 0; };
};

TEST_F(NextTabStopTest, ForwardSkipsControlsThatCannotTakeTheFocus) {
  EXPECT_EQ(NextTabStop(order, 11, false, canFocus), 12);
  EXPECT_EQ(NextTabStop(order, 12, false, canFocus), 14);
}

TEST_F(NextTabStopTest, WrapsAroundBothWays) {
  EXPECT_EQ(NextTabStop(order, 14, false, canFocus), 11);
  EXPECT_EQ(NextTabStop(order, 11, true, canFocus), 14);
  EXPECT_EQ(NextTabStop(order, 14, true, canFocus), 12);
}

TEST_F(NextTabStopTest, FromOutsideTheOrderStartsAtAnEnd) {
  EXPECT_EQ(NextTabStop(order, 0, false, canFocus), 11);
  EXPECT_EQ(NextTabStop(order, 0, true, canFocus), 14);
  // A control that cannot take the focus itself (a hidden one) still counts
  // as a place in the order.
  EXPECT_EQ(NextTabStop(order, 13, false, canFocus), 14);
  EXPECT_EQ(NextTabStop(order, 13, true, canFocus), 12);
}

TEST_F(NextTabStopTest, NothingWhenNoOtherControlCanTakeTheFocus) {
  focusable = {12};
  EXPECT_EQ(NextTabStop(order, 12, false, canFocus), std::nullopt);
  focusable = {};
  EXPECT_EQ(NextTabStop(order, 0, false, canFocus), std::nullopt);
  EXPECT_EQ(NextTabStop({}, 0, false, canFocus), std::nullopt);
}

// A static's type is one field of its style: every label must hold one of the
// types that paint their text or shape (no owner-draw by accident).
TEST(FrmBunLayout, EveryStaticHasATypeThatPaintsItself) {
  const std::set<DWORD> painting = {SS_LEFT, SS_CENTER, SS_RIGHT, SS_LEFTNOWORDWRAP, SS_BLACKRECT};
  for (const ControlDef& def : FrmBunControls()) {
    if (std::wstring_view(def.className) != L"STATIC") continue;
    EXPECT_EQ(painting.count(def.style & SS_TYPEMASK), 1u) << "control " << def.id;
    if (def.id == IDC_Label2) {
      EXPECT_EQ(def.style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
    }
  }
}

}  // namespace
}  // namespace vokram::ui
