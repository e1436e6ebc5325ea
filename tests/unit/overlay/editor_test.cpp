// The editor through its real window procedure: an overlay of the real class over a known picture,
// fed the mouse and key messages of a user's actions, judged by its state, by what it hands to
// the session, and by the pixels of the pieces the plain repaint of fast_paint_test shares.
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "overlay/annotations.h"
#include "overlay/export.h"
#include "unit/overlay/editor_fixture.h"

using Id = ToolbarButtonId;
constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);

class EditorTest : public EditorFixture {
 protected:
  void SetUp() override {
    EditorFixture::SetUp();
    OpenOverlay(false);
  }
  void Select(RECT area = {100, 100, 400, 300}) {
    Drag(area.left, area.top, area.right, area.bottom);
    ASSERT_EQ(g_overlayState.Phase, OverlayPhase::Selected);
  }
  static const RECT& Button(Id id) { return g_toolbarLayout.Button(id); }
  void Choose(Id id, COLORREF color = kRed) {
    g_overlayState.CurrentColor = color;
    Click(id);
    ASSERT_EQ(g_overlayState.CurrentTool, ToolOfButton(id));
  }
  // Queued for the text entry's own loop to take, as typed keys would be.
  void Type(const std::wstring& text, WPARAM key = 0) {
    for (wchar_t c : text) PostMessageW(hwnd_, WM_CHAR, c, 1);
    if (key) PostMessageW(hwnd_, WM_KEYDOWN, key, 1);
  }
  static int Count(const Canvas& frame, const RECT& area, COLORREF color) {
    return frame.Count(area, [color](DWORD p) { return p == Dib(color); });
  }
  static std::vector<Annotation>& Annotations() { return g_overlayState.Annotations; }
  static std::string Pt(POINT p) { return std::to_string(p.x) + "," + std::to_string(p.y); }
};

TEST_F(EditorTest, FirstDragMustExceedTenByTenAndIsNormalised) {
  const struct { POINT from, to; bool accepted; } cases[] = {{{300, 300}, {300, 300}, false},
      {{100, 100}, {110, 300}, false}, {{100, 100}, {300, 110}, false},
      {{111, 111}, {100, 100}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Pt(c.to));
    ResetOverlayState(g_overlayState);
    Drag(c.from.x, c.from.y, c.to.x, c.to.y);
    EXPECT_FALSE(g_overlayState.IsSelecting);
    EXPECT_EQ(g_overlayState.Phase == OverlayPhase::Selected, c.accepted);
  }
  EXPECT_EQ(Str(g_overlayState.SelectionRect), "100,100,111,111");
}

TEST_F(EditorTest, MovingAndResizingTakeTheToolbarAlong) {
  Select();
  Drag(200, 200, 250, 170);  // inside: a move by (50, -30)
  EXPECT_EQ(Str(g_overlayState.SelectionRect), "150,70,450,270");
  EXPECT_EQ(Button(Id::Close).right, 450);
  EXPECT_EQ(Button(Id::Pen).left, 462);
  Drag(450, 270, 500, 400);  // the bottom-right handle
  EXPECT_EQ(Str(g_overlayState.SelectionRect), "150,70,500,400");
  EXPECT_EQ(Button(Id::Copy).top, 412);
  Press(325, 70);  // the top handle, at (150 + 500) / 2
  EXPECT_EQ(g_overlayState.DragMode, DragMode::Top);
  Move(335, 60);
  Release(335, 60);
  EXPECT_EQ(Str(g_overlayState.SelectionRect), "150,60,500,400") << "the sides stay";
  EXPECT_EQ(g_overlayState.DragMode, DragMode::None);
  Drag(200, 200, -100, 150);  // partly off the screen: allowed, never clamped
  EXPECT_EQ(g_overlayState.SelectionRect.left, -150);
  EXPECT_EQ(Paint()->At(10, 200), PatternAt(10, 200));
}

TEST_F(EditorTest, ResizedPastTheOppositeEdgeItStaysInvertedDarkAndInert) {
  Select();
  Drag(100, 200, 450, 200);  // the left handle past the right edge
  EXPECT_EQ(Str(g_overlayState.SelectionRect), "450,100,400,300");
  const auto frame = Paint();
  for (int x : {250, 406}) EXPECT_TRUE(Near(frame->At(x, 150), Darkened(PatternAt(x, 150)), 1));
  Drag(420, 200, 500, 200);  // between the edges: nothing to move
  EXPECT_EQ(g_overlayState.SelectionRect.left, 450);
  for (WPARAM key : {'C', 'S', 'D'}) Key(key, true);
  for (Id id : {Id::Copy, Id::Save, Id::Upload}) Click(id);
  EXPECT_TRUE(Alive());
  EXPECT_EQ(calls_, 0);
}

TEST_F(EditorTest, CtrlShortcutsWaitForASelectionAndLettersNeedCtrl) {
  for (WPARAM key : {'C', 'S', 'D', 'X'}) Key(key, true);
  Press(100, 100);
  Move(300, 300);
  Key('X', true);
  EXPECT_TRUE(g_overlayState.IsSelecting) << "the drag goes on";
  Release(300, 300);
  for (WPARAM key : {'C', 'S', 'D', 'X'}) Key(key, false);
  EXPECT_TRUE(Alive());
  EXPECT_EQ(g_overlayState.Phase, OverlayPhase::Selected);
}

TEST_F(EditorTest, EscRightPressAndTheCloseButtonCancel) {
  const std::function<void()> cancels[] = {[&] { Key(VK_ESCAPE, false); },
      [&] {
        Press(200, 200);
        Move(230, 230);
        SendMessageW(hwnd_, WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, At(230, 230));
      },
      [&] { Click(Id::Close); }};
  for (const auto& cancel : cancels) {
    SCOPED_TRACE(&cancel - cancels);
    OpenOverlay(false);
    Select();
    cancel();
    EXPECT_FALSE(Alive());
    EXPECT_TRUE(g_overlayState.SessionDone);
    EXPECT_EQ(g_overlayState.Result, OverlayResult::Cancelled);
  }
  EXPECT_EQ(calls_, 0);
}

TEST_F(EditorTest, ActionButtonWinsWhereItOverlapsATool) {
  Select({width_ - 40, 100, width_ - 29, 111});  // the tool column flips onto the action row
  RECT both = {};
  ASSERT_TRUE(IntersectRect(&both, &Button(Id::Close), &Button(Id::Line)));
  Click(both.left, both.top);
  EXPECT_FALSE(Alive());
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::None);
}

TEST_F(EditorTest, CtrlCAndTheCopyButtonHandTheExactRegionToTheSession) {
  for (const RECT& area : {RECT{10, 10, 110, 60}, RECT{200, 150, 500, 400}}) {
    SCOPED_TRACE(area.left);
    OpenOverlay(false);
    calls_ = 0;
    Select(area);
    area.left == 10 ? Key('C', true) : Click(Id::Copy);
    EXPECT_FALSE(Alive());
    EXPECT_EQ(g_overlayState.Result, OverlayResult::Done);
    ASSERT_EQ(calls_, 1);
    EXPECT_EQ(Str(doneRect_), Str(area));
    EXPECT_TRUE(result_->IsRegion(area));
  }
}

TEST_F(EditorTest, ToolButtonsToggleAndAToolDrawsInsteadOfMoving) {
  Select();
  Choose(Id::Pen);
  Press(200, 200);
  EXPECT_EQ(g_overlayState.DragMode, DragMode::Draw);
  Move(220, 210);
  EXPECT_EQ(g_overlayState.PenPoints.size(), 2u);
  Release(220, 210);
  EXPECT_EQ(g_overlayState.SelectionRect.left, 100) << "the selection did not move";
  Choose(Id::Rectangle);
  Click(Id::Rectangle);
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::None);
  Drag(200, 200, 210, 220);
  EXPECT_EQ(g_overlayState.SelectionRect.left, 110);
}

TEST_F(EditorTest, ToolbarShowsPanelsWhiteIconsTheChosenToolTintedAndALateTooltip) {
  // The pink tint is clearly redder than green; white icons on the grey panel are not.
  auto tinted = [](DWORD p) { return Ch(p, 16) - Ch(p, 8) >= 30; };
  Select();
  auto frame = Paint();
  EXPECT_EQ(frame->At(411, 130), 0x323232u) << "the panel between button and edge";
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    if (i == static_cast<int>(Id::Color)) continue;
    EXPECT_GT(frame->Count(Button(Id(i)), Light), 10) << i;
  }
  Choose(Id::Arrow);
  Move(600, 600, false);  // hover elsewhere: only being chosen tints it
  frame = Paint();
  EXPECT_GT(frame->Count(Button(Id::Arrow), tinted), 20);
  EXPECT_EQ(frame->Count(Button(Id::Line), tinted), 0);

  const RECT& copy = Button(Id::Copy);
  Move(copy.left + 5, copy.top + 5, false);
  EXPECT_EQ(g_overlayState.TooltipText, L"Kopieren (Strg+C)");
  const POINT anchor = g_overlayState.TooltipAnchor;
  Move(copy.left + 10, copy.top + 10, false);
  EXPECT_EQ(g_overlayState.TooltipAnchor.x, anchor.x) << "the box stays where it appeared";
  frame = Paint();
  EXPECT_GT(frame->Count(copy, [](DWORD p) { return Near(p, 0xFFB6C1, 8); }), 10) << "pink";
  const RECT box = {anchor.x - 50, anchor.y + 23, anchor.x + 50, anchor.y + 42};
  EXPECT_EQ(frame->Count(box, Light), 0) << "no tooltip within the first 300 ms";
  g_overlayState.TooltipTime = GetTickCount() - 400;
  frame = Paint();
  EXPECT_GT(frame->Count(box, Light), 20) << "white text";
  EXPECT_GT(frame->Count(box, [](DWORD p) { return Near(p, Rgb(40, 40, 40), 12); }), 200);
  Move(600, 600, false);
  EXPECT_TRUE(g_overlayState.TooltipText.empty());
}

TEST_F(EditorTest, RememberedSelectionIsTheFirstAcceptedRectangleOnly) {
  const Settings saved = AppSettings;
  AppSettings.RememberSelection = true;
  AppSettings.Selection = RECT{0, 0, 0, 0};
  Drag(100, 100, 105, 300);
  EXPECT_EQ(AppSettings.Selection.right, 0) << "a refused drag is not remembered";
  Select({120, 130, 420, 330});
  Drag(200, 200, 260, 260);  // a move is not written
  Settings onDisk;
  EXPECT_TRUE(LoadSettingsFrom(GetSettingsPath(), onDisk));
  EXPECT_EQ(Str(onDisk.Selection), "120,130,420,330");
  EXPECT_TRUE(onDisk.RememberSelection);
  DeleteFileW(GetSettingsPath().c_str());
  AppSettings = saved;
}

TEST_F(EditorTest, PenPressWithoutMovementCommitsOnePointThatDrawsNothing) {
  Select();
  Choose(Id::Pen);
  Click(200, 200);
  ASSERT_EQ(Annotations().size(), 1u);
  EXPECT_EQ(Annotations()[0].Points.size(), 1u);
  EXPECT_FALSE(g_overlayState.IsDrawing);
  EXPECT_TRUE(g_overlayState.PenPoints.empty());
  EXPECT_EQ(Count(*Paint(), {190, 190, 211, 211}, kRed), 0);
  Click(Id::Undo);
  EXPECT_TRUE(Annotations().empty());
}

TEST_F(EditorTest, StraightToolsKeepOnlyPressAndReleasePoints) {
  Select();
  for (Id id : {Id::Line, Id::Arrow, Id::Rectangle}) {
    Choose(id);
    Press(150, 150);
    for (int x = 151; x < 180; ++x) Move(x, 150 + x % 3);
    Move(180, 190);
    Release(180, 190);
    Click(id);  // back to no tool, for the next round's button
    const Annotation& made = Annotations().back();
    EXPECT_EQ(made.Kind, ToolOfButton(id));
    ASSERT_EQ(made.Points.size(), 2u);
    EXPECT_EQ(Pt(made.Points[0]) + " " + Pt(made.Points[1]), "150,150 180,190");
    EXPECT_EQ(made.Width, 3);
  }
}

TEST_F(EditorTest, UndoRemovesTheLastAndOnAnEmptyListChangesNothing) {
  Select();
  Choose(Id::Line);
  Drag(120, 120, 200, 120);
  Drag(120, 140, 200, 140);
  Click(Id::Undo);
  ASSERT_EQ(Annotations().size(), 1u);
  EXPECT_EQ(Annotations()[0].Points[0].y, 120);
  Click(Id::Undo);
  Click(Id::Undo);
  EXPECT_TRUE(Annotations().empty());
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::Line);
  EXPECT_EQ(Str(g_overlayState.SelectionRect), "100,100,400,300");
}

TEST_F(EditorTest, EachKindIsPaintedInItsColourAndExportedCutAtTheBorder) {
  Select();
  Choose(Id::Pen);
  Press(120, 180);
  Move(140, 180);
  Move(140, 210);
  Release(140, 210);
  Choose(Id::Line, kBlue);  // a colour chosen later is used by later strokes only
  Drag(150, 150, 250, 150);
  Choose(Id::Arrow, kGreen);
  Drag(150, 260, 250, 260);
  Choose(Id::Rectangle, RGB(255, 0, 255));  // past the selection's left edge
  Drag(350, 200, 50, 250);
  const auto frame = Paint();
  const auto composed = Canvas::Of(ComposeSelection().get());
  ASSERT_EQ(composed->width(), 300);
  const struct { POINT at; COLORREF color; } marks[] = {{{130, 180}, kRed}, {{140, 195}, kRed},
      {{200, 150}, kBlue}, {{200, 260}, kGreen}, {{242, 263}, kGreen},  // inside the head
      {{349, 225}, RGB(255, 0, 255)}};
  for (const auto& mark : marks) {
    EXPECT_EQ(frame->At(mark.at.x, mark.at.y), Dib(mark.color)) << Pt(mark.at);
    EXPECT_EQ(composed->At(mark.at.x - 100, mark.at.y - 100), Dib(mark.color)) << Pt(mark.at);
  }
  EXPECT_EQ(frame->At(50, 225), Rgb(255, 0, 255)) << "drawn over the darkened area too";
  EXPECT_EQ(frame->At(200, 225), PatternAt(200, 225)) << "a rectangle is hollow";
  EXPECT_EQ(composed->At(0, 100), Rgb(255, 0, 255)) << "the rectangle runs to the edge";
  EXPECT_EQ(composed->At(0, 125), PatternAt(100, 225)) << "its left side is cut off";
}

TEST_F(EditorTest, ArrowWithoutMovementHasAHeadPointingRight) {
  Select();
  Choose(Id::Arrow, kGreen);
  Click(200, 200);
  ASSERT_EQ(Annotations().size(), 1u);
  const auto frame = Paint();
  EXPECT_EQ(frame->At(193, 200), Dib(kGreen));
  EXPECT_EQ(Count(*frame, {203, 190, 215, 211}, kGreen), 0) << "nothing right of the tip";
}

TEST_F(EditorTest, TypedTextIsCommittedOnEnterAtThePressPoint) {
  Select();
  Choose(Id::Text, kBlue);
  Type(L"Grüße €x", VK_BACK);
  Type(L"", VK_RETURN);
  Press(150, 150);  // runs the entry until Enter
  ASSERT_EQ(Annotations().size(), 1u);
  EXPECT_EQ(Annotations()[0].Text, L"Grüße €");
  EXPECT_EQ(Annotations()[0].Width, 22);
  EXPECT_EQ(Annotations()[0].Color, kBlue);
  EXPECT_EQ(Pt(Annotations()[0].Points[0]), "150,150");
  EXPECT_EQ(GetCapture(), hwnd_) << "capture is taken again";
  const auto frame = Paint();
  EXPECT_GT(Count(*frame, {150, 150, 260, 180}, kBlue), 40);
  EXPECT_EQ(Count(*frame, {150, 180, 260, 200}, kBlue), 0) << "22 pixels tall, no more";
  EXPECT_GT(Count(*Canvas::Of(ComposeSelection().get()), {50, 50, 160, 80}, kBlue), 40);
  Type(L"", VK_RETURN);
  Press(150, 250);
  EXPECT_EQ(Annotations().size(), 1u) << "an empty entry adds nothing";
}

TEST_F(EditorTest, EscDuringTextEntryEndsTheSessionWithNothingAdded) {
  Select();
  Choose(Id::Text);
  Type(L"weg", VK_ESCAPE);
  Press(150, 150);
  EXPECT_FALSE(Alive());
  EXPECT_TRUE(Annotations().empty());
  EXPECT_EQ(g_overlayState.Result, OverlayResult::Cancelled);
}

TEST_F(EditorTest, CtrlCDuringTextEntryCopiesAndEndsTheEntry) {
  Select();
  Choose(Id::Text);
  Type(L"abc", 'C');
  SetCtrl(true);
  Press(150, 150);  // would never return if the entry waited for Enter on a destroyed window
  SetCtrl(false);
  EXPECT_FALSE(Alive());
  ASSERT_EQ(calls_, 1);
  EXPECT_EQ(result_->width(), 300);
}

TEST_F(EditorTest, APressDuringTextEntryStartsANestedEntryThatCommitsFirst) {
  Select();
  Choose(Id::Text);
  Type(L"a");
  PostMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, At(200, 250));
  Type(L"b", VK_RETURN);  // ends the inner entry
  Type(L"c", VK_RETURN);  // ends the outer one
  Press(150, 150);
  ASSERT_EQ(Annotations().size(), 2u);
  EXPECT_EQ(Annotations()[0].Text + L" " + Annotations()[1].Text, L"b ac");
  EXPECT_EQ(Annotations()[0].Points[0].y, 250);
}

using ExportTest = EditorFixture;

TEST_F(ExportTest, ComposesTheRegionBlackOffTheScreenAndNothingWithoutArea) {
  g_overlayState.SelectionRect = {10, 10, 110, 60};
  EXPECT_TRUE(Canvas::Of(ComposeSelection().get())->IsRegion({10, 10, 110, 60}));
  g_overlayState.SelectionRect = {-20, height_ - 20, 30, height_ + 20};
  const auto edge = Canvas::Of(ComposeSelection().get());
  EXPECT_EQ(edge->At(19, 19), 0u) << "left of the screen";
  EXPECT_EQ(edge->At(20, 19), PatternAt(0, height_ - 1));
  EXPECT_EQ(edge->At(49, 0), PatternAt(29, height_ - 20));
  EXPECT_EQ(edge->At(20, 20), 0u) << "below the screen";
  for (RECT none : {RECT{100, 100, 100, 200}, {100, 100, 200, 100}, {150, 100, 100, 200},
                    {100, 250, 200, 200}}) {
    g_overlayState.SelectionRect = none;
    EXPECT_FALSE(ComposeSelection()) << Str(none);
  }
}

TEST_F(ExportTest, PngAndSavedFileHoldTheSameOpaquePixels) {
  g_overlayState.SelectionRect = {33, 21, 133, 71};
  const UniqueBitmap composed = ComposeSelection();
  const std::vector<BYTE> png = EncodePng(composed.get());
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring path = folder + std::to_wstring(GetCurrentProcessId()) + L"-export.png";
  ASSERT_TRUE(SavePngFile(composed.get(), path.c_str()));
  std::ifstream file(path.c_str(), std::ios::binary);
  EXPECT_EQ(std::vector<BYTE>(std::istreambuf_iterator<char>(file), {}), png);
  file.close();
  Gdiplus::GpBitmap* bitmap = nullptr;
  gp::GdipCreateBitmapFromFile(path.c_str(), &bitmap);
  UniqueGpImage image(AsImage(bitmap));
  int wrong = -1;
  for (int i = 0; i < 100 * 50 && wrong < 0; ++i) {
    Gdiplus::ARGB pixel = 0;
    gp::GdipBitmapGetPixel(bitmap, i % 100, i / 100, &pixel);
    if (pixel != (0xFF000000u | PatternAt(33 + i % 100, 21 + i / 100))) wrong = i;
  }
  EXPECT_EQ(wrong, -1) << "the first pixel that is not the opaque picture";
  image.reset();
  DeleteFileW(path.c_str());
  EXPECT_FALSE(SavePngFile(composed.get(), L"C:\\snapwren-no-such-folder\\shot.png"));
  EXPECT_TRUE(EncodePng(nullptr).empty());
}
