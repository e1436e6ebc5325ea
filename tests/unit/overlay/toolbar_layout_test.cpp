#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "overlay/toolbar.h"

namespace {

constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;

::testing::AssertionResult SameRect(const RECT& actual, LONG left, LONG top, LONG right,
                                    LONG bottom) {
  if (actual.left == left && actual.top == top && actual.right == right && actual.bottom == bottom) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "(" << actual.left << "," << actual.top << ")-(" << actual.right << ","
         << actual.bottom << ") instead of (" << left << "," << top << ")-(" << right << ","
         << bottom << ")";
}

ToolbarLayout Layout(LONG left, LONG top, LONG right, LONG bottom) {
  return ComputeToolbarLayout(RECT{left, top, right, bottom}, kScreenWidth, kScreenHeight);
}

TEST(ToolbarLayoutTest, BesideAndBelowASelectionInTheOpen) {
  const ToolbarLayout layout = Layout(100, 100, 400, 300);
  // 300 - 208 = 92 lies above the selection, so the column starts at its top.
  EXPECT_TRUE(SameRect(layout.Button(ToolbarButtonId::Pen), 412, 100, 440, 128));
  EXPECT_TRUE(SameRect(layout.Button(ToolbarButtonId::Undo), 412, 250, 440, 278));
  EXPECT_TRUE(SameRect(layout.Button(ToolbarButtonId::Color), 412, 280, 440, 308));
  EXPECT_TRUE(SameRect(layout.Button(ToolbarButtonId::Copy), 282, 312, 310, 340));
  EXPECT_TRUE(SameRect(layout.Button(ToolbarButtonId::Save), 312, 312, 340, 340));
  EXPECT_TRUE(SameRect(layout.Button(ToolbarButtonId::Upload), 342, 312, 370, 340));
  EXPECT_TRUE(SameRect(layout.Button(ToolbarButtonId::Close), 372, 312, 400, 340));
}

TEST(ToolbarLayoutTest, TallSelectionEndsTheColumnAtItsBottom) {
  const ToolbarLayout layout = Layout(100, 100, 400, 700);
  EXPECT_EQ(layout.Button(ToolbarButtonId::Pen).top, 700 - 208);
  EXPECT_EQ(layout.Button(ToolbarButtonId::Color).bottom, 700);
}

TEST(ToolbarLayoutTest, ShortSelectionHangsTheColumnBelowItsBottom) {
  // 45 - 208 is negative, so the column starts at 10, which is already below the top.
  const ToolbarLayout nearTop = Layout(100, 5, 400, 45);
  EXPECT_EQ(nearTop.Button(ToolbarButtonId::Pen).top, 10);
  EXPECT_EQ(nearTop.Button(ToolbarButtonId::Color).bottom, 10 + 208);

  const ToolbarLayout lower = Layout(100, 500, 400, 540);
  EXPECT_EQ(lower.Button(ToolbarButtonId::Pen).top, 500);
  EXPECT_EQ(lower.Button(ToolbarButtonId::Color).bottom, 708);
}

TEST(ToolbarLayoutTest, ColumnFlipsLeftNearTheRightEdge) {
  // R + 12 + 28 = 1920 still fits; one pixel more does not.
  EXPECT_EQ(Layout(1500, 100, 1880, 400).Button(ToolbarButtonId::Pen).left, 1892);
  const ToolbarLayout flipped = Layout(1500, 100, 1881, 400);
  EXPECT_TRUE(SameRect(flipped.Button(ToolbarButtonId::Pen), 1460, 192, 1488, 220));
  EXPECT_EQ(flipped.Button(ToolbarButtonId::Pen).right + 12, 1500);
}

TEST(ToolbarLayoutTest, ActionRowFlipsAboveNearTheBottomEdge) {
  // B + 12 + 28 = 1080 still fits below.
  EXPECT_EQ(Layout(100, 500, 400, 1040).Button(ToolbarButtonId::Copy).top, 1052);
  const ToolbarLayout above = Layout(100, 500, 400, 1041);
  EXPECT_EQ(above.Button(ToolbarButtonId::Copy).top, 460);
  EXPECT_EQ(above.Button(ToolbarButtonId::Close).bottom, 488);
}

TEST(ToolbarLayoutTest, ActionRowGoesInsideWhenTheSelectionFillsTheHeight) {
  const ToolbarLayout inside = Layout(100, 39, 400, 1050);
  EXPECT_TRUE(SameRect(inside.Button(ToolbarButtonId::Close), 372, 1018, 400, 1046));
  EXPECT_TRUE(SameRect(inside.Button(ToolbarButtonId::Copy), 282, 1018, 310, 1046));
  // Top at 40 leaves room above.
  EXPECT_EQ(Layout(100, 40, 400, 1050).Button(ToolbarButtonId::Copy).top, 0);
}

TEST(ToolbarLayoutTest, ToolbarFollowsASelectionOffTheScreen) {
  const ToolbarLayout layout = Layout(-500, -300, -200, -100);
  EXPECT_TRUE(SameRect(layout.Button(ToolbarButtonId::Pen), -188, 10, -160, 38));
  EXPECT_EQ(layout.Button(ToolbarButtonId::Close).right, -200);
  EXPECT_EQ(layout.Button(ToolbarButtonId::Close).top, -88) << "below it, off the screen too";
}

TEST(ToolbarLayoutTest, HandlesSitOnTheOutlineWithTruncatedMidpoints) {
  const ToolbarLayout layout = Layout(-7, 10, 0, 21);
  // (-7 + 0) / 2 = -3 and (10 + 21) / 2 = 15, truncated toward zero.
  EXPECT_TRUE(SameRect(layout.Handles[0], -11, 6, -3, 14));   // 2 top-left
  EXPECT_TRUE(SameRect(layout.Handles[1], -7, 6, 1, 14));     // 3 top-middle
  EXPECT_TRUE(SameRect(layout.Handles[2], -4, 6, 4, 14));     // 4 top-right
  EXPECT_TRUE(SameRect(layout.Handles[3], -4, 11, 4, 19));    // 5 right-middle
  EXPECT_TRUE(SameRect(layout.Handles[4], -4, 17, 4, 25));    // 6 bottom-right
  EXPECT_TRUE(SameRect(layout.Handles[5], -7, 17, 1, 25));    // 7 bottom-middle
  EXPECT_TRUE(SameRect(layout.Handles[6], -11, 17, -3, 25));  // 8 bottom-left
  EXPECT_TRUE(SameRect(layout.Handles[7], -11, 11, -3, 19));  // 9 left-middle
}

TEST(HitTestHandleTest, EdgesAreHalfOpen) {
  const ToolbarLayout layout = Layout(100, 100, 400, 300);
  EXPECT_EQ(HitTestHandle(layout, POINT{96, 96}), 2);
  EXPECT_EQ(HitTestHandle(layout, POINT{103, 103}), 2);
  EXPECT_EQ(HitTestHandle(layout, POINT{104, 100}), 0) << "centre + 4 is outside";
  EXPECT_EQ(HitTestHandle(layout, POINT{100, 104}), 0);
  EXPECT_EQ(HitTestHandle(layout, POINT{95, 100}), 0);
  EXPECT_EQ(HitTestHandle(layout, POINT{250, 300}), 7);
  EXPECT_EQ(HitTestHandle(layout, POINT{403, 303}), 6);
  EXPECT_EQ(HitTestHandle(layout, POINT{404, 303}), 0);
  EXPECT_EQ(HitTestHandle(layout, POINT{250, 200}), 0);
}

TEST(HitTestHandleTest, OverlappingHandlesAnswerInNumberOrder) {
  // In a tiny selection the corner and middle handles overlap; the lower number wins.
  const ToolbarLayout layout = Layout(100, 100, 106, 106);
  EXPECT_EQ(HitTestHandle(layout, POINT{103, 101}), 2);
  EXPECT_EQ(HitTestHandle(layout, POINT{106, 103}), 3) << "in 3, 4 and 5";
  EXPECT_EQ(HitTestHandle(layout, POINT{109, 97}), 4);
  EXPECT_EQ(HitTestHandle(layout, POINT{103, 108}), 6);
}

TEST(ToolbarLabelTest, EveryButtonAnswersWithItsLabel) {
  const ToolbarLayout layout = Layout(100, 100, 400, 300);
  const wchar_t* expected[kToolbarButtonCount] = {
      L"Stift",  L"Linie", L"Pfeil",
      L"Rechteck", L"Text", L"Rückgängig",
      L"Farbe", L"Kopieren (Strg+C)", L"Speichern (Strg+S)",
      L"Hochladen (Strg+D)", L"Schließen (Strg+X)"};
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    const RECT& button = layout.Buttons[i];
    const wchar_t* label = GetToolbarLabel(layout, POINT{button.left, button.top});
    ASSERT_NE(label, nullptr) << i;
    EXPECT_EQ(std::wstring(label), expected[i]) << i;
    EXPECT_EQ(std::wstring(GetToolbarLabel(layout, POINT{button.right - 1, button.bottom - 1})),
              expected[i])
        << i;
    EXPECT_EQ(GetToolbarLabel(layout, POINT{button.right, button.top}), nullptr) << i;
    EXPECT_EQ(GetToolbarLabel(layout, POINT{button.left, button.bottom}), nullptr) << i;
  }
  EXPECT_EQ(GetToolbarLabel(layout, POINT{250, 200}), nullptr);
  EXPECT_EQ(GetToolbarLabel(layout, POINT{411, 100}), nullptr);
}

TEST(ToolbarLabelTest, OverlappingButtonsShowTheEarlierLabel) {
  // Near the right edge the column flips onto the action row: "Linie" (1840-1868, 130-158)
  // overlaps "Schließen (Strg+X)" (1863-1891, 123-151).
  const ToolbarLayout layout = Layout(1880, 100, 1891, 111);
  ASSERT_TRUE(RectContains(layout.Button(ToolbarButtonId::Close), POINT{1865, 140}));
  EXPECT_EQ(std::wstring(GetToolbarLabel(layout, POINT{1865, 140})), L"Linie");
}

}  // namespace
