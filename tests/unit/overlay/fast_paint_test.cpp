// The overlay repaints only what a change touches, from a darkened screen and a back buffer kept
// for the session. A shown overlay is driven through its window procedure, and after every step
// what the window shows must equal, pixel for pixel, the frame drawn from scratch the plain way:
// the whole screen, a fresh black layer blended over it, and every element on top.
#include "overlay/annotations.h"
#include "overlay/frame_damage.h"
#include "unit/overlay/editor_fixture.h"

// The frame as one full repaint draws it, from nothing but the state.
static void PaintStraightforward(HDC hdc, int width, int height) {
  const OverlayState& state = g_overlayState;
  {
    UniqueMemoryDc source(CreateCompatibleDC(hdc));
    SelectGuard select(source.get(), g_sessionScreenBitmap);
    BitBlt(hdc, 0, 0, width, height, source.get(), 0, 0, SRCCOPY);
  }
  UniqueBitmap black(CreateCompatibleBitmap(hdc, width, height));
  UniqueMemoryDc blackDc(CreateCompatibleDC(hdc));
  SelectGuard selectBlack(blackDc.get(), black.get());
  const RECT all = {0, 0, width, height};
  FillRect(blackDc.get(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 128, 0};
  auto darken = [&] {
    AlphaBlend(hdc, 0, 0, width, height, blackDc.get(), 0, 0, width, height, blend);
  };
  const RECT shown = ShownRect(state);
  if ((state.Phase == OverlayPhase::Selected || state.IsSelecting) && shown.right > shown.left) {
    UniqueRegion outside(CreateRectRgn(0, 0, width, height));
    UniqueRegion inside(CreateRectRgnIndirect(&shown));
    CombineRgn(outside.get(), outside.get(), inside.get(), RGN_DIFF);
    SelectClipRgn(hdc, outside.get());
    darken();
    SelectClipRgn(hdc, nullptr);
    UniquePen pen(CreatePen(PS_SOLID, 2, RGB(255, 182, 193)));
    SelectGuard selectPen(hdc, pen.get());
    SelectGuard selectBrush(hdc, GetStockObject(NULL_BRUSH));
    Rectangle(hdc, shown.left, shown.top, shown.right, shown.bottom);
    const std::wstring label = FormatSizeLabel(shown);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, RGB(255, 255, 255));
    TextOutW(hdc, shown.left + 5, shown.top - 20, label.c_str(), static_cast<int>(label.size()));
  } else {
    darken();
  }
  if (state.Phase != OverlayPhase::Selected) return;

  DrawAnnotations(hdc);
  for (const RECT& handle : g_toolbarLayout.Handles) {
    FillRect(hdc, &handle, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FrameRect(hdc, &handle, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  auto icon = [&](ToolbarButtonId id) {
    const RECT& button = g_toolbarLayout.Button(id);
    const Tool tool = ToolOfButton(id);
    DrawToolbarIcon(hdc, button, g_toolImages[ToolbarImageSlot(id)].get(),
                    tool != Tool::None && tool == state.CurrentTool,
                    RectContains(button, state.HoverPoint));
  };
  using Id = ToolbarButtonId;
  FillRoundedPanel(hdc, ToolPanelRect());
  for (Id id : {Id::Pen, Id::Line, Id::Arrow, Id::Rectangle, Id::Text, Id::Undo}) icon(id);
  const RECT& swatch = g_toolbarLayout.Button(Id::Color);
  UniqueBrush colour(CreateSolidBrush(state.CurrentColor));
  FillRect(hdc, &swatch, colour.get());
  FrameRect(hdc, &swatch, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  FillRoundedPanel(hdc, ActionPanelRect());
  for (Id id : {Id::Copy, Id::Save, Id::Upload, Id::Close}) icon(id);
  if (!state.TooltipText.empty() && GetTickCount() - state.TooltipTime > 300) DrawTooltip(hdc);
}

static POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

class FastPaintTest : public EditorFixture {
 protected:
  void SetUp() override {
    EditorFixture::SetUp();
    OpenOverlay(true);
  }
  void Press(POINT p) { EditorFixture::Press(p.x, p.y); }
  void Move(POINT p, bool held = true) { EditorFixture::Move(p.x, p.y, held); }
  void Release(POINT p) { EditorFixture::Release(p.x, p.y); }

  // What the window shows once it has handled its pending paint, against the frame drawn from
  // scratch for the same state; the first differing pixel is named.
  void ExpectSameAsStraightforward(const char* step) {
    UpdateWindow(hwnd_);
    Canvas shown(width_, height_);
    Canvas expected(width_, height_);
    {
      WindowDc window(hwnd_);
      BitBlt(shown.dc(), 0, 0, width_, height_, window.get(), 0, 0, SRCCOPY);
      // Drawn into a bitmap compatible with the window, as a repaint does: GDI+ takes another
      // way into a DIB section, and its antialiased edges come out a little different.
      UniqueBitmap frame(CreateCompatibleBitmap(window.get(), width_, height_));
      UniqueMemoryDc frameDc(CreateCompatibleDC(window.get()));
      SelectGuard select(frameDc.get(), frame.get());
      PaintStraightforward(frameDc.get(), width_, height_);
      BitBlt(expected.dc(), 0, 0, width_, height_, frameDc.get(), 0, 0, SRCCOPY);
    }
    const DWORD* a = shown.bits();
    const DWORD* b = expected.bits();
    const int count = width_ * height_;
    const int first = static_cast<int>(
        std::mismatch(a, a + count, b, [](DWORD x, DWORD y) { return ((x ^ y) & 0xFFFFFF) == 0; })
            .first - a);
    if (first == count) return;
    ADD_FAILURE() << step << ": first at " << first % width_ << "," << first / width_
                  << " shows " << std::hex << (a[first] & 0xFFFFFF) << " instead of "
                  << (b[first] & 0xFFFFFF);
  }
};

TEST_F(FastPaintTest, FirstDragGrowsShrinksAndTurnsOver) {
  ExpectSameAsStraightforward("no selection");
  Press({300, 200});
  ExpectSameAsStraightforward("pressed, zero width");
  Move({700, 500});
  ExpectSameAsStraightforward("dragging");
  Move({450, 320});
  ExpectSameAsStraightforward("dragged back smaller");
  Move({100, 80});
  ExpectSameAsStraightforward("dragged past the start");
  Move({300, 500});
  ExpectSameAsStraightforward("zero width while dragging");
  Release({305, 500});
  ExpectSameAsStraightforward("too narrow: no selection");
}

TEST_F(FastPaintTest, SelectedMovedResizedHoveredAndAnnotated) {
  Press({400, 300});
  Move({1000, 700});
  Release({1000, 700});
  ASSERT_EQ(g_overlayState.Phase, OverlayPhase::Selected);
  ExpectSameAsStraightforward("selected");

  // The pointer onto a button, resting there until its tooltip is due, and off again.
  const POINT save = Centre(g_toolbarLayout.Button(ToolbarButtonId::Save));
  Move(save, false);
  ExpectSameAsStraightforward("hover, tooltip not yet due");
  g_overlayState.TooltipTime = GetTickCount() - 1000;
  Move({save.x + 1, save.y}, false);
  ExpectSameAsStraightforward("tooltip shown");
  Move(Centre(g_toolbarLayout.Button(ToolbarButtonId::Copy)), false);
  ExpectSameAsStraightforward("onto the next button");
  Move({200, 150}, false);
  ExpectSameAsStraightforward("pointer off the toolbar");

  // Strokes of each kind, one of them checked half drawn.
  const ToolbarButtonId tools[] = {ToolbarButtonId::Pen, ToolbarButtonId::Line,
                                   ToolbarButtonId::Arrow, ToolbarButtonId::Rectangle};
  for (int i = 0; i < 4; ++i) {
    Click(tools[i]);
    ASSERT_EQ(g_overlayState.CurrentTool, ToolOfButton(tools[i]));
    const POINT from = {450 + 120 * i, 350 + 40 * i};
    Press(from);
    Move({from.x + 60, from.y + 90});
    Move({from.x + 130, from.y + 40});
    if (i == 2) ExpectSameAsStraightforward("arrow being drawn");
    Release({from.x + 130, from.y + 40});
  }
  ExpectSameAsStraightforward("four strokes");
  g_overlayState.Annotations.push_back(
      {Tool::Text, RGB(30, 200, 90), kTextSize, {{520, 600}}, L"Größe ändern"});
  Move({200, 160}, false);
  ExpectSameAsStraightforward("text added");
  Click(ToolbarButtonId::Rectangle);  // off again: presses move the selection
  ExpectSameAsStraightforward("no tool");

  // Moving the selection by its inside: the annotations stay where they are.
  Press({700, 500});
  Move({640, 430});
  ExpectSameAsStraightforward("moved up and left");
  Move({760, 560});
  Release({760, 560});
  ExpectSameAsStraightforward("moved down and right");

  // The right edge dragged onto the left one and past it, then the bottom over the top.
  const RECT selection = g_overlayState.SelectionRect;
  const LONG width = selection.right - selection.left;
  const POINT right = Centre(g_toolbarLayout.Handles[static_cast<int>(DragMode::Right) - 2]);
  Press(right);
  Move({right.x - width, right.y});
  EXPECT_EQ(g_overlayState.SelectionRect.right, g_overlayState.SelectionRect.left);
  ExpectSameAsStraightforward("zero width");
  Move({right.x - width - 150, right.y});
  ExpectSameAsStraightforward("negative width");
  Move({right.x - 200, right.y});
  Release({right.x - 200, right.y});
  const POINT bottom = Centre(g_toolbarLayout.Handles[static_cast<int>(DragMode::Bottom) - 2]);
  const POINT over = {bottom.x, bottom.y - (selection.bottom - selection.top) - 80};
  Press(bottom);
  Move(over);
  Release(over);
  ExpectSameAsStraightforward("negative height");

  Click(ToolbarButtonId::Undo);
  ExpectSameAsStraightforward("undone");
}

TEST_F(FastPaintTest, UncoveredPartsArePaintedAgain) {
  Press({200, 200});
  Move({600, 500});
  Release({600, 500});
  // Something else drew over the overlay; the system invalidates what it covered.
  const RECT covered = {150, 150, 450, 350};
  {
    WindowDc window(hwnd_);
    FillRect(window.get(), &covered, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  InvalidateRect(hwnd_, &covered, FALSE);
  ExpectSameAsStraightforward("uncovered");
}

// Only the bounds of what changed are repainted, so each element must stay inside the bounds
// given for it, or its old pixels would linger on the screen.
class ElementBoundsTest : public ::testing::Test {
 protected:
  static constexpr int kSize = 800;
  static constexpr DWORD kBackground = 0x102030;

  void SetUp() override { ASSERT_TRUE(gdiplus_.started()); }

  // Draws on a plain canvas; every pixel the drawing changed must lie inside bounds.
  template <typename Draw>
  void ExpectInside(const RECT& bounds, const std::string& what, bool drawsSomething, Draw draw) {
    Canvas canvas(kSize, kSize);
    std::fill(canvas.bits(), canvas.bits() + kSize * kSize, kBackground);
    draw(canvas.dc());
    long changed = 0;
    long outside = 0;
    const DWORD* pixel = canvas.bits();
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x, ++pixel) {
        if ((*pixel & 0xFFFFFFu) == kBackground) continue;
        ++changed;
        outside += RectContains(bounds, POINT{x, y}) ? 0 : 1;
      }
    }
    EXPECT_TRUE(changed > 0 || !drawsSomething) << what << " drew nothing";
    EXPECT_EQ(outside, 0) << what << " drew outside its bounds";
  }

  GdiplusSession gdiplus_;
};

TEST_F(ElementBoundsTest, StrokesAndTextStayInsideTheirBounds) {
  const POINT from = {300, 300};
  // Steep and shallow arrows: the head's barbs reach back beside the shaft.
  for (Tool kind : {Tool::Pen, Tool::Line, Tool::Arrow, Tool::Rectangle}) {
    for (POINT to : {POINT{520, 310}, {310, 520}, {120, 140}, {301, 300}, {300, 300}}) {
      const POINT bend = {(from.x + to.x) / 2 + 17, (from.y + to.y) / 2 - 23};
      Annotation stroke{kind, RGB(250, 250, 250), kStrokeWidth, {from, to}, L""};
      if (kind == Tool::Pen) stroke.Points = {from, bend, to};
      // A rectangle without height, a pen stroke that never moved: nothing to see.
      const bool flat = to.y == from.y && (kind == Tool::Rectangle || to.x == from.x);
      ExpectInside(AnnotationBounds(stroke),
                   "kind " + std::to_string(static_cast<int>(kind)) + " to " +
                       std::to_string(to.x) + "," + std::to_string(to.y),
                   !flat, [&](HDC hdc) { DrawAnnotation(hdc, stroke, {0, 0}); });
    }
  }
  for (const wchar_t* text : {L"WWWMMM@@@", L"Größe ändern|", L"jgq|ÄÖÜ"}) {
    const Annotation annotation{Tool::Text, RGB(250, 250, 250), kTextSize, {{100, 100}}, text};
    auto draw = [&](HDC hdc) { DrawAnnotation(hdc, annotation, {0, 0}); };
    ExpectInside(AnnotationBounds(annotation), "text", true, draw);
    // The text entry's preview: the same text with the caret after it.
    ExpectInside(TextPreviewBounds({100, 100}, annotation.Text.size(), kTextSize), "preview",
                 true, draw);
  }
}

TEST_F(ElementBoundsTest, TooltipsAndSizeLabelsStayInsideTheirBounds) {
  for (int id = 0; id < kToolbarButtonCount; ++id) {
    g_overlayState.TooltipText = ToolbarLabel(static_cast<ToolbarButtonId>(id));
    g_overlayState.TooltipAnchor = {400, 300};
    ExpectInside(TooltipBounds(g_overlayState.TooltipText, g_overlayState.TooltipAnchor),
                 "tooltip " + std::to_string(id), true, DrawTooltip);
  }
  ResetOverlayState(g_overlayState);
  // The label as the overlay draws it: the DC's default font, 20 pixels above the selection.
  for (RECT shown : {RECT{100, 300, 9100, 9300}, {200, 300, 150, 250}, {50, 30, 51, 31}}) {
    const std::wstring label = FormatSizeLabel(shown);
    ExpectInside(SizeLabelBounds(shown), "size label", true, [&](HDC hdc) {
      SetBkMode(hdc, TRANSPARENT);
      SetTextColor(hdc, RGB(255, 255, 255));
      TextOutW(hdc, shown.left + 5, shown.top - 20, label.c_str(), static_cast<int>(label.size()));
    });
  }
}
