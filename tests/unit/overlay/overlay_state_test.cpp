#include <windows.h>

#include <gtest/gtest.h>

#include "overlay/overlay_state.h"
#include "overlay/overlay_paint.h"
#include "overlay/overlay_window.h"

namespace {

bool Equal(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(SelectionRuleTest, FirstDragMustExceedTenByTen) {
  EXPECT_FALSE(IsAcceptableSelection(NormalizedRect(POINT{50, 50}, POINT{50, 50})));
  EXPECT_FALSE(IsAcceptableSelection(NormalizedRect(POINT{50, 50}, POINT{60, 250})));
  EXPECT_FALSE(IsAcceptableSelection(NormalizedRect(POINT{50, 50}, POINT{250, 60})));
  EXPECT_TRUE(IsAcceptableSelection(NormalizedRect(POINT{50, 50}, POINT{61, 61})));
  // Dragged up and to the left: normalised before the size is judged.
  const RECT backwards = NormalizedRect(POINT{61, 61}, POINT{50, 50});
  EXPECT_TRUE(Equal(backwards, RECT{50, 50, 61, 61}));
  EXPECT_TRUE(IsAcceptableSelection(backwards));
}

TEST(SelectionRuleTest, DragsMoveOnlyTheirOwnEdges) {
  const RECT origin = {100, 100, 400, 300};
  struct Case {
    DragMode mode;
    RECT expected;
  } cases[] = {
      {DragMode::Move, {110, 95, 410, 295}},        {DragMode::TopLeft, {110, 95, 400, 300}},
      {DragMode::Top, {100, 95, 400, 300}},         {DragMode::TopRight, {100, 95, 410, 300}},
      {DragMode::Right, {100, 100, 410, 300}},      {DragMode::BottomRight, {100, 100, 410, 295}},
      {DragMode::Bottom, {100, 100, 400, 295}},     {DragMode::BottomLeft, {110, 100, 400, 295}},
      {DragMode::Left, {110, 100, 400, 300}},       {DragMode::None, {100, 100, 400, 300}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(Equal(ApplyDrag(c.mode, origin, 10, -5), c.expected)) << static_cast<int>(c.mode);
  }
}

TEST(SelectionRuleTest, ResizePastTheOppositeEdgeIsKeptInverted) {
  const RECT inverted = ApplyDrag(DragMode::Left, RECT{100, 100, 400, 300}, 350, 0);
  EXPECT_TRUE(Equal(inverted, RECT{450, 100, 400, 300}));
  EXPECT_FALSE(RectContains(inverted, POINT{420, 200}));
  EXPECT_FALSE(RectContains(inverted, POINT{400, 200}));
}

TEST(SelectionRuleTest, RememberedSelectionMustBeUsable) {
  EXPECT_TRUE(CanRestoreSelection(RECT{100, 100, 400, 300}, 1600, 900));
  EXPECT_TRUE(CanRestoreSelection(RECT{-100, -100, 1, 1}, 1600, 900)) << "one pixel on screen";
  EXPECT_FALSE(CanRestoreSelection(RECT{-100, -100, 0, 0}, 1600, 900)) << "ends at the edge";
  EXPECT_FALSE(CanRestoreSelection(RECT{1600, 100, 1800, 300}, 1600, 900));
  EXPECT_FALSE(CanRestoreSelection(RECT{100, 900, 400, 1000}, 1600, 900));
  EXPECT_FALSE(CanRestoreSelection(RECT{0, 0, 0, 0}, 1600, 900)) << "never remembered";
  EXPECT_FALSE(CanRestoreSelection(RECT{100, 100, 110, 400}, 1600, 900)) << "10 wide";
  EXPECT_FALSE(CanRestoreSelection(RECT{400, 100, 100, 300}, 1600, 900)) << "inverted";
}

TEST(OverlayCursorTest, HandlesWinThenTheToolThenThePlace) {
  EXPECT_EQ(ChooseOverlayCursor(OverlayPhase::NoSelection, Tool::None, 0, true),
            OverlayCursor::Crosshair);
  EXPECT_EQ(ChooseOverlayCursor(OverlayPhase::Selected, Tool::Pen, 6, true),
            OverlayCursor::SizeNWSE);
  EXPECT_EQ(ChooseOverlayCursor(OverlayPhase::Selected, Tool::None, 7, false),
            OverlayCursor::SizeNS);
  EXPECT_EQ(ChooseOverlayCursor(OverlayPhase::Selected, Tool::None, 4, false),
            OverlayCursor::SizeNESW);
  EXPECT_EQ(ChooseOverlayCursor(OverlayPhase::Selected, Tool::Text, 9, true),
            OverlayCursor::SizeWE);
  EXPECT_EQ(ChooseOverlayCursor(OverlayPhase::Selected, Tool::None, 0, true),
            OverlayCursor::SizeAll);
  EXPECT_EQ(ChooseOverlayCursor(OverlayPhase::Selected, Tool::None, 0, false),
            OverlayCursor::Arrow) << "the toolbar too";
  EXPECT_EQ(ChooseOverlayCursor(OverlayPhase::Selected, Tool::Rectangle, 0, true),
            OverlayCursor::Crosshair);
}

TEST(MouseCoordinatesTest, AreSigned) {
  const POINT point = PointFromLParam(MAKELPARAM(static_cast<WORD>(-1280), 45));
  EXPECT_EQ(point.x, -1280);
  EXPECT_EQ(point.y, 45);
  const POINT high = PointFromLParam(MAKELPARAM(3199, static_cast<WORD>(-3)));
  EXPECT_EQ(high.x, 3199);
  EXPECT_EQ(high.y, -3);
}

TEST(SizeLabelTest, ShowsRightMinusLeftAndBottomMinusTop) {
  EXPECT_EQ(FormatSizeLabel(RECT{10, 10, 110, 60}), L"100 x 50");
  EXPECT_EQ(FormatSizeLabel(RECT{450, 100, 400, 300}), L"-50 x 200");
}

TEST(OverlayResetTest, KeepsOnlyTheColourChoice) {
  OverlayState state;
  state.Phase = OverlayPhase::Selected;
  state.SelectionRect = RECT{1, 2, 3, 4};
  state.DragMode = DragMode::Draw;
  state.IsDrawing = true;
  state.IsSelecting = true;
  state.Annotations.push_back(Annotation{});
  state.PenPoints.push_back(POINT{1, 1});
  state.CurrentTool = Tool::Arrow;
  state.Result = OverlayResult::Done;
  state.SessionDone = true;
  state.TooltipText = L"Stift";
  state.CurrentColor = RGB(1, 2, 3);
  state.CustomColors[15] = RGB(4, 5, 6);
  state.ResultBitmap.reset(CreateBitmap(1, 1, 1, 32, nullptr));

  ResetOverlayState(state);
  EXPECT_EQ(state.Phase, OverlayPhase::NoSelection);
  EXPECT_TRUE(Equal(state.SelectionRect, RECT{0, 0, 0, 0}));
  EXPECT_EQ(state.DragMode, DragMode::None);
  EXPECT_FALSE(state.IsDrawing);
  EXPECT_FALSE(state.IsSelecting);
  EXPECT_TRUE(state.Annotations.empty());
  EXPECT_TRUE(state.PenPoints.empty());
  EXPECT_EQ(state.CurrentTool, Tool::None);
  EXPECT_EQ(state.Result, OverlayResult::Cancelled);
  EXPECT_FALSE(state.SessionDone);
  EXPECT_FALSE(state.ResultBitmap);
  EXPECT_TRUE(state.TooltipText.empty());
  EXPECT_EQ(state.CurrentColor, RGB(1, 2, 3));
  EXPECT_EQ(state.CustomColors[15], RGB(4, 5, 6));
}

}  // namespace
