// The overlay's repaints keep the darkened screen and the back buffer for the session and
// repaint only what a change touches. Here a visible overlay is driven through its real window
// procedure, and after every step what the window shows is compared, pixel for pixel, with the
// frame drawn from scratch the straightforward way: the whole screen, a fresh black layer
// blended over it, and every element on top.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "overlay/annotations.h"
#include "overlay/frame_damage.h"
#include "unit/overlay/editor_fixture.h"

namespace {

using testpixels::Canvas;

constexpr COLORREF kPink = RGB(255, 182, 193);

// The frame as one full repaint draws it, from nothing but the state.
void PaintStraightforward(HDC hdc, int width, int height) {
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

  const RECT shown = ShownRect(state);
  const bool hasRectangle = state.Phase == OverlayPhase::Selected || state.IsSelecting;
  if (hasRectangle && shown.right - shown.left > 0) {
    UniqueRegion outside(CreateRectRgn(0, 0, width, height));
    UniqueRegion inside(CreateRectRgnIndirect(&shown));
    CombineRgn(outside.get(), outside.get(), inside.get(), RGN_DIFF);
    SelectClipRgn(hdc, outside.get());
    AlphaBlend(hdc, 0, 0, width, height, blackDc.get(), 0, 0, width, height, blend);
    SelectClipRgn(hdc, nullptr);
    UniquePen pen(CreatePen(PS_SOLID, 2, kPink));
    SelectGuard selectPen(hdc, pen.get());
    SelectGuard selectBrush(hdc, GetStockObject(NULL_BRUSH));
    Rectangle(hdc, shown.left, shown.top, shown.right, shown.bottom);
    const std::wstring label = FormatSizeLabel(shown);
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, RGB(255, 255, 255));
    TextOutW(hdc, shown.left + 5, shown.top - 20, label.c_str(), static_cast<int>(label.size()));
  } else {
    AlphaBlend(hdc, 0, 0, width, height, blackDc.get(), 0, 0, width, height, blend);
  }
  if (state.Phase != OverlayPhase::Selected) return;

  DrawAnnotations(hdc);
  for (const RECT& handle : g_toolbarLayout.Handles) {
    FillRect(hdc, &handle, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FrameRect(hdc, &handle, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  auto icon = [&](ToolbarButtonId id, bool active) {
    const RECT& button = g_toolbarLayout.Button(id);
    const int slot = ToolbarImageSlot(id);
    DrawToolbarIcon(hdc, button, g_toolImages[slot].get(), active,
                    RectContains(button, state.HoverPoint));
  };
  FillRoundedPanel(hdc, ToolPanelRect());
  for (ToolbarButtonId id : {ToolbarButtonId::Pen, ToolbarButtonId::Line, ToolbarButtonId::Arrow,
                             ToolbarButtonId::Rectangle, ToolbarButtonId::Text,
                             ToolbarButtonId::Undo}) {
    const Tool tool = ToolOfButton(id);
    icon(id, tool != Tool::None && tool == state.CurrentTool);
  }
  const RECT& swatch = g_toolbarLayout.Button(ToolbarButtonId::Color);
  UniqueBrush colour(CreateSolidBrush(state.CurrentColor));
  FillRect(hdc, &swatch, colour.get());
  FrameRect(hdc, &swatch, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  FillRoundedPanel(hdc, ActionPanelRect());
  for (ToolbarButtonId id : {ToolbarButtonId::Copy, ToolbarButtonId::Save,
                             ToolbarButtonId::Upload, ToolbarButtonId::Close}) {
    icon(id, false);
  }
  if (!state.TooltipText.empty() && GetTickCount() - state.TooltipTime > 300) DrawTooltip(hdc);
}

class FastPaintTest : public EditorFixture {
 protected:
  void SetUp() override {
    EditorFixture::SetUp();
    OpenOverlay(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, true);
  }

  void Press(POINT p) { EditorFixture::Press(p.x, p.y); }
  void Move(POINT p, bool held = true) { EditorFixture::Move(p.x, p.y, held); }
  void Release(POINT p) { EditorFixture::Release(p.x, p.y); }
  static POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

  // What the window shows after it has handled its pending paint, against the frame drawn
  // from scratch for the same state; the first differing pixel is named.
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
    long differing = 0;
    POINT first = {-1, -1};
    const DWORD* a = shown.bits();
    const DWORD* b = expected.bits();
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x, ++a, ++b) {
        if (((*a ^ *b) & 0xFFFFFFu) == 0) continue;
        if (differing++ == 0) first = {x, y};
      }
    }
    EXPECT_EQ(differing, 0) << step << ": first at " << first.x << "," << first.y << " shows "
                            << std::hex << shown.At(first.x, first.y) << " instead of "
                            << expected.At(first.x, first.y);
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
  const Tool tools[] = {Tool::Pen, Tool::Line, Tool::Arrow, Tool::Rectangle};
  const ToolbarButtonId buttons[] = {ToolbarButtonId::Pen, ToolbarButtonId::Line,
                                     ToolbarButtonId::Arrow, ToolbarButtonId::Rectangle};
  for (int i = 0; i < 4; ++i) {
    Click(buttons[i]);
    ASSERT_EQ(g_overlayState.CurrentTool, tools[i]);
    const POINT from = {450 + 120 * i, 350 + 40 * i};
    Press(from);
    Move({from.x + 60, from.y + 90});
    Move({from.x + 130, from.y + 40});
    if (i == 2) ExpectSameAsStraightforward("arrow being drawn");
    Release({from.x + 130, from.y + 40});
  }
  ExpectSameAsStraightforward("four strokes");
  Annotation text;
  text.Kind = Tool::Text;
  text.Color = RGB(30, 200, 90);
  text.Width = kTextSize;
  text.Points = {{520, 600}};
  text.Text = L"Größe ändern";
  g_overlayState.Annotations.push_back(text);
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
  const POINT right = Centre(g_toolbarLayout.Handles[static_cast<int>(DragMode::Right) - 2]);
  Press(right);
  Move({right.x - (selection.right - selection.left), right.y});
  EXPECT_EQ(g_overlayState.SelectionRect.right - g_overlayState.SelectionRect.left, 0);
  ExpectSameAsStraightforward("zero width");
  Move({right.x - (selection.right - selection.left) - 150, right.y});
  ExpectSameAsStraightforward("negative width");
  Move({right.x - 200, right.y});
  Release({right.x - 200, right.y});
  const POINT bottom = Centre(g_toolbarLayout.Handles[static_cast<int>(DragMode::Bottom) - 2]);
  Press(bottom);
  Move({bottom.x, bottom.y - (selection.bottom - selection.top) - 80});
  Release({bottom.x, bottom.y - (selection.bottom - selection.top) - 80});
  ExpectSameAsStraightforward("negative height");

  Click(ToolbarButtonId::Undo);
  ExpectSameAsStraightforward("undone");
}

TEST_F(FastPaintTest, UncoveredPartsArePaintedAgain) {
  Press({200, 200});
  Move({600, 500});
  Release({600, 500});
  // Something else drew over the overlay; the system invalidates what it covered.
  {
    WindowDc window(hwnd_);
    const RECT covered = {150, 150, 450, 350};
    FillRect(window.get(), &covered, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  const RECT covered = {150, 150, 450, 350};
  InvalidateRect(hwnd_, &covered, FALSE);
  ExpectSameAsStraightforward("uncovered");
}

}  // namespace

// Only the bounds of what changed are repainted, so each element must stay inside the bounds
// given for it, or its old pixels would linger on the screen.
class ElementBoundsTest : public ::testing::Test {
 protected:
  static constexpr DWORD kBackground = 0x102030;

  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    canvas_ = std::make_unique<Canvas>(kSize, kSize);
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) canvas_->Set(x, y, kBackground);
    }
  }

  // Every pixel the drawing changed lies inside bounds.
  void ExpectInside(const RECT& bounds, const std::string& what, bool drawsSomething = true) {
    long outside = 0;
    long changed = 0;
    POINT first = {-1, -1};
    const DWORD* pixel = canvas_->bits();
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x, ++pixel) {
        if ((*pixel & 0xFFFFFFu) == kBackground) continue;
        ++changed;
        if (RectContains(bounds, POINT{x, y})) continue;
        if (outside++ == 0) first = {x, y};
      }
    }
    if (drawsSomething) {
      EXPECT_GT(changed, 0) << what << " drew nothing";
    }
    EXPECT_EQ(outside, 0) << what << ": first outside its bounds at " << first.x << ","
                          << first.y;
  }

  static constexpr int kSize = 800;
  GdiplusSession gdiplus_;
  std::unique_ptr<Canvas> canvas_;
};

TEST_F(ElementBoundsTest, StrokesAndTextStayInsideTheirBounds) {
  const POINT from = {300, 300};
  // Steep and shallow arrows: the head's barbs reach back beside the shaft.
  const POINT ends[] = {{520, 310}, {310, 520}, {120, 140}, {301, 300}, {300, 300}};
  for (Tool kind : {Tool::Pen, Tool::Line, Tool::Arrow, Tool::Rectangle}) {
    for (POINT to : ends) {
      SetUp();
      Annotation stroke;
      stroke.Kind = kind;
      stroke.Color = RGB(250, 250, 250);
      stroke.Width = kStrokeWidth;
      const POINT bend = {(from.x + to.x) / 2 + 17, (from.y + to.y) / 2 - 23};
      stroke.Points = kind == Tool::Pen ? std::vector<POINT>{from, bend, to}
                                        : std::vector<POINT>{from, to};
      DrawAnnotation(canvas_->dc(), stroke, {0, 0});
      // A rectangle without height, a pen stroke that never moved: nothing to see.
      const bool flat = to.y == from.y && (kind == Tool::Rectangle || to.x == from.x);
      ExpectInside(AnnotationBounds(stroke),
                   "kind " + std::to_string(static_cast<int>(kind)) + " to " +
                       std::to_string(to.x) + "," + std::to_string(to.y),
                   !flat);
    }
  }
  for (const wchar_t* text : {L"WWWMMM@@@", L"Größe ändern|", L"jgq|ÄÖÜ"}) {
    SetUp();
    Annotation annotation;
    annotation.Kind = Tool::Text;
    annotation.Color = RGB(250, 250, 250);
    annotation.Width = kTextSize;
    annotation.Points = {{100, 100}};
    annotation.Text = text;
    DrawAnnotation(canvas_->dc(), annotation, {0, 0});
    ExpectInside(AnnotationBounds(annotation), "text");
    // The text entry's preview: the same text with the caret after it.
    ExpectInside(TextPreviewBounds({100, 100}, annotation.Text.size(), kTextSize), "preview");
  }
}

TEST_F(ElementBoundsTest, TooltipsAndSizeLabelsStayInsideTheirBounds) {
  for (int id = 0; id < kToolbarButtonCount; ++id) {
    SetUp();
    const std::wstring label = ToolbarLabel(static_cast<ToolbarButtonId>(id));
    g_overlayState.TooltipText = label;
    g_overlayState.TooltipAnchor = {400, 300};
    DrawTooltip(canvas_->dc());
    ExpectInside(TooltipBounds(label, g_overlayState.TooltipAnchor),
                 "tooltip " + std::to_string(id));
  }
  ResetOverlayState(g_overlayState);

  // The label as the overlay draws it: the DC's default font, 20 pixels above the selection.
  for (RECT shown : {RECT{100, 300, 9100, 9300}, RECT{200, 300, 150, 250}, RECT{50, 30, 51, 31}}) {
    SetUp();
    const std::wstring label = FormatSizeLabel(shown);
    SetBkMode(canvas_->dc(), TRANSPARENT);
    SetTextColor(canvas_->dc(), RGB(255, 255, 255));
    TextOutW(canvas_->dc(), shown.left + 5, shown.top - 20, label.c_str(),
             static_cast<int>(label.size()));
    ExpectInside(SizeLabelBounds(shown), "size label");
  }
}
