// The overlay repaints only what a change touches, from a darkened screen and a back buffer kept
// for the session. A shown overlay is driven through its window procedure, and after every step
// what the window shows must equal, pixel for pixel, the frame drawn from scratch the plain way.
#include "overlay/annotations.h"
#include "overlay/frame_damage.h"
#include "unit/overlay/editor_fixture.h"

using Id = ToolbarButtonId;

// As the overlay draws it: the DC's default font, 20 pixels above the selection.
static void DrawSizeLabel(HDC hdc, const RECT& shown) {
  const std::wstring label = FormatSizeLabel(shown);
  SetBkMode(hdc, TRANSPARENT), SetTextColor(hdc, RGB(255, 255, 255));
  TextOutW(hdc, shown.left + 5, shown.top - 20, label.c_str(), static_cast<int>(label.size()));
}

// The whole screen, a fresh black layer blended over it outside the selection, and every
// element on top, from nothing but the state.
static void PaintStraightforward(HDC hdc, int width, int height) {
  const OverlayState& state = g_overlayState;
  const HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  UniqueMemoryDc source(CreateCompatibleDC(hdc)), layerDc(CreateCompatibleDC(hdc));
  {
    SelectGuard select(source.get(), g_sessionScreenBitmap);
    BitBlt(hdc, 0, 0, width, height, source.get(), 0, 0, SRCCOPY);
  }
  UniqueBitmap layer(CreateCompatibleBitmap(hdc, width, height));
  SelectGuard selectLayer(layerDc.get(), layer.get());
  const RECT all = {0, 0, width, height}, shown = ShownRect(state);
  FillRect(layerDc.get(), &all, black);
  const bool bright = (state.Phase == OverlayPhase::Selected || state.IsSelecting) &&
                      shown.right > shown.left;
  UniqueRegion outside(CreateRectRgn(0, 0, width, height)), inside(CreateRectRgnIndirect(&shown));
  if (bright) CombineRgn(outside.get(), outside.get(), inside.get(), RGN_DIFF);
  SelectClipRgn(hdc, outside.get());
  AlphaBlend(hdc, 0, 0, width, height, layerDc.get(), 0, 0, width, height,
             {AC_SRC_OVER, 0, 128, 0});
  SelectClipRgn(hdc, nullptr);
  if (bright) {
    UniquePen pen(CreatePen(PS_SOLID, 2, RGB(255, 182, 193)));
    SelectGuard selectPen(hdc, pen.get()), selectBrush(hdc, GetStockObject(NULL_BRUSH));
    Rectangle(hdc, shown.left, shown.top, shown.right, shown.bottom);
    DrawSizeLabel(hdc, shown);
  }
  if (state.Phase != OverlayPhase::Selected) return;
  DrawAnnotations(hdc);
  for (const RECT& handle : g_toolbarLayout.Handles) {
    FillRect(hdc, &handle, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FrameRect(hdc, &handle, black);
  }
  // In the order of the buttons: each panel under its first button, the colour as a swatch.
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    const RECT& button = g_toolbarLayout.Buttons[i];
    const Tool tool = ToolOfButton(Id(i));
    if (Id(i) == Id::Pen || Id(i) == Id::Copy) {
      FillRoundedPanel(hdc, Id(i) == Id::Pen ? ToolPanelRect() : ActionPanelRect());
    }
    if (Id(i) != Id::Color) {
      DrawToolbarIcon(hdc, button, g_toolImages[ToolbarImageSlot(Id(i))].get(),
                      tool != Tool::None && tool == state.CurrentTool,
                      RectContains(button, state.HoverPoint));
      continue;
    }
    UniqueBrush colour(CreateSolidBrush(state.CurrentColor));
    FillRect(hdc, &button, colour.get()), FrameRect(hdc, &button, black);
  }
  if (!state.TooltipText.empty() && GetTickCount() - state.TooltipTime > 300) DrawTooltip(hdc);
}

static POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

class FastPaintTest : public EditorFixture {
 protected:
  void SetUp() override { EditorFixture::SetUp(), OpenOverlay(true); }
  // Mouse messages, each followed by the comparison when it names a step.
  struct Step {
    UINT message;
    POINT at;
    const char* check = nullptr;
    WPARAM keys = MK_LBUTTON;
  };
  void Play(std::initializer_list<Step> steps) {
    for (const Step& s : steps) {
      Send(s.message, s.at.x, s.at.y, s.keys);
      if (s.check) ExpectSameAsStraightforward(s.check);
    }
  }
  // What the window shows once it has handled its pending paint; the first differing pixel is
  // named.
  void ExpectSameAsStraightforward(const char* step) {
    UpdateWindow(hwnd_);
    Canvas shown(width_, height_), expected(width_, height_);
    const WindowDc window(hwnd_);
    BitBlt(shown.dc.get(), 0, 0, width_, height_, window.get(), 0, 0, SRCCOPY);
    // Drawn into a bitmap compatible with the window, as a repaint does: GDI+ takes another way
    // into a DIB section, and its antialiased edges come out a little different.
    const UniqueBitmap frame(CreateCompatibleBitmap(window.get(), width_, height_));
    const UniqueMemoryDc frameDc(CreateCompatibleDC(window.get()));
    const SelectGuard select(frameDc.get(), frame.get());
    PaintStraightforward(frameDc.get(), width_, height_);
    BitBlt(expected.dc.get(), 0, 0, width_, height_, frameDc.get(), 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD *a = shown.pixels, *b = expected.pixels;
    int i = 0;
    while (i < width_ * height_ && ((a[i] ^ b[i]) & 0xFFFFFF) == 0) ++i;
    EXPECT_EQ(i, width_ * height_) << step << ": first at " << i % width_ << "," << i / width_
                                   << std::hex << " shows " << (a[i] & 0xFFFFFF) << " not "
                                   << (b[i] & 0xFFFFFF);
  }
};

TEST_F(FastPaintTest, FirstDragGrowsShrinksTurnsOverAndUncoveredPartsArePaintedAgain) {
  ExpectSameAsStraightforward("no selection");
  Play({{WM_LBUTTONDOWN, {300, 200}, "pressed, zero width"},
        {WM_MOUSEMOVE, {700, 500}, "dragging"}, {WM_MOUSEMOVE, {450, 320}, "dragged back smaller"},
        {WM_MOUSEMOVE, {100, 80}, "dragged past the start"},
        {WM_MOUSEMOVE, {300, 500}, "zero width while dragging"},
        {WM_LBUTTONUP, {305, 500}, "too narrow: no selection"}});
  Drag(200, 200, 600, 500);
  // Something else drew over the overlay; the system invalidates what it covered.
  const RECT covered = {150, 150, 450, 350};
  FillRect(WindowDc(hwnd_).get(), &covered, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  InvalidateRect(hwnd_, &covered, FALSE);
  ExpectSameAsStraightforward("uncovered");
}

TEST_F(FastPaintTest, SelectedMovedResizedHoveredAndAnnotated) {
  Play({{WM_LBUTTONDOWN, {400, 300}}, {WM_MOUSEMOVE, {1000, 700}},
        {WM_LBUTTONUP, {1000, 700}, "selected"}});
  // The pointer onto a button, resting there until its tooltip is due, and off again.
  const POINT save = Centre(g_toolbarLayout.Button(Id::Save));
  Play({{WM_MOUSEMOVE, save, "hover, tooltip not yet due", 0}});
  g_overlayState.TooltipTime = GetTickCount() - 1000;
  Play({{WM_MOUSEMOVE, {save.x + 1, save.y}, "tooltip shown", 0},
        {WM_MOUSEMOVE, Centre(g_toolbarLayout.Button(Id::Copy)), "onto the next button", 0},
        {WM_MOUSEMOVE, {200, 150}, "pointer off the toolbar", 0}});
  // Strokes of each kind, one of them checked half drawn.
  const Id tools[] = {Id::Pen, Id::Line, Id::Arrow, Id::Rectangle};
  for (int i = 0; i < 4; ++i) {
    Click(tools[i]);
    const POINT from = {450 + 120 * i, 350 + 40 * i}, to = {from.x + 130, from.y + 40};
    Play({{WM_LBUTTONDOWN, from}, {WM_MOUSEMOVE, {from.x + 60, from.y + 90}},
          {WM_MOUSEMOVE, to, i == 2 ? "arrow being drawn" : nullptr}, {WM_LBUTTONUP, to}});
  }
  ExpectSameAsStraightforward("four strokes");
  g_overlayState.Annotations.push_back(
      {Tool::Text, RGB(30, 200, 90), kTextSize, {{520, 600}}, L"Größe ändern"});
  Play({{WM_MOUSEMOVE, {200, 160}, "text added", 0}});
  Click(Id::Rectangle);  // off again: presses move the selection
  ExpectSameAsStraightforward("no tool");
  // Moving the selection by its inside: the annotations stay where they are.
  Play({{WM_LBUTTONDOWN, {700, 500}}, {WM_MOUSEMOVE, {640, 430}, "moved up and left"},
        {WM_MOUSEMOVE, {760, 560}}, {WM_LBUTTONUP, {760, 560}, "moved down and right"}});
  // The right edge dragged onto the left one and past it, then the bottom over the top.
  const RECT selection = g_overlayState.SelectionRect;
  const LONG width = selection.right - selection.left, height = selection.bottom - selection.top;
  const POINT right = Centre(g_toolbarLayout.Handles[static_cast<int>(DragMode::Right) - 2]);
  Play({{WM_LBUTTONDOWN, right}, {WM_MOUSEMOVE, {right.x - width, right.y}, "zero width"},
        {WM_MOUSEMOVE, {right.x - width - 150, right.y}, "negative width"},
        {WM_MOUSEMOVE, {right.x - 200, right.y}}, {WM_LBUTTONUP, {right.x - 200, right.y}}});
  const POINT bottom = Centre(g_toolbarLayout.Handles[static_cast<int>(DragMode::Bottom) - 2]);
  const POINT over = {bottom.x, bottom.y - height - 80};
  Play({{WM_LBUTTONDOWN, bottom}, {WM_MOUSEMOVE, over}, {WM_LBUTTONUP, over, "negative height"}});
  Click(Id::Undo);
  ExpectSameAsStraightforward("undone");
}

// Only the bounds of what changed are repainted, so every pixel an element draws on a plain
// canvas must lie inside the bounds given for it, or its old pixels would linger on the screen.
template <typename Draw>
static void ExpectInside(const RECT& bounds, const std::string& what, bool draws, Draw draw) {
  Canvas canvas(800, 800);
  std::fill(canvas.pixels, canvas.pixels + 800 * 800, 0x102030u);
  draw(canvas.dc.get());
  GdiFlush();
  const DWORD* pixels = canvas.pixels;
  long changed = 0, outside = 0;
  for (int i = 0; i < 800 * 800; ++i) {
    if ((pixels[i] & 0xFFFFFFu) == 0x102030u) continue;
    ++changed, outside += RectContains(bounds, {i % 800, i / 800}) ? 0 : 1;
  }
  EXPECT_TRUE(changed > 0 || !draws) << what << " drew nothing";
  EXPECT_EQ(outside, 0) << what << " drew outside its bounds";
}

TEST(ElementBoundsTest, StrokesTextTooltipsAndSizeLabelsStayInsideTheirBounds) {
  const GdiplusSession gdiplus;
  const POINT from = {300, 300};
  // Steep and shallow arrows: the head's barbs reach back beside the shaft.
  for (Tool kind : {Tool::Pen, Tool::Line, Tool::Arrow, Tool::Rectangle}) {
    for (POINT to : {POINT{520, 310}, {310, 520}, {120, 140}, {301, 300}, {300, 300}}) {
      const POINT bend = {(from.x + to.x) / 2 + 17, (from.y + to.y) / 2 - 23};
      Annotation stroke{kind, RGB(250, 250, 250), kStrokeWidth, {from, to}, L""};
      if (kind == Tool::Pen) stroke.Points = {from, bend, to};
      // A rectangle without height, a pen stroke that never moved: nothing to see.
      const bool flat = to.y == from.y && (kind == Tool::Rectangle || to.x == from.x);
      ExpectInside(AnnotationBounds(stroke), Str({int(kind), 0, to.x, to.y}), !flat,
                   [&](HDC hdc) { DrawAnnotation(hdc, stroke, {0, 0}); });
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
  for (int id = 0; id < kToolbarButtonCount; ++id) {
    g_overlayState.TooltipText = ToolbarLabel(Id(id)), g_overlayState.TooltipAnchor = {400, 300};
    ExpectInside(TooltipBounds(g_overlayState.TooltipText, {400, 300}), "tooltip", true,
                 DrawTooltip);
  }
  ResetOverlayState(g_overlayState);
  for (RECT shown : {RECT{100, 300, 9100, 9300}, {200, 300, 150, 250}, {50, 30, 51, 31}}) {
    ExpectInside(SizeLabelBounds(shown), "size label", true,
                 [&](HDC hdc) { DrawSizeLabel(hdc, shown); });
  }
}
