// The overlay repaints only what changed; after each step it must show what a whole repaint gives.
#include "overlay/annotations.h"
#include "overlay/frame_damage.h"
#include "app/messages.h"
#include "unit/support.h"

class FastPaintTest : public EditorFixture {
 protected:
  void SetUp() override { EditorFixture::SetUp(), OpenOverlay(true); }
  void Checkpoint(const std::wstring& step) override {
    UpdateWindow(hwnd_);
    Canvas shown(width_, height_);
    BitBlt(shown.dc.get(), 0, 0, width_, height_, WindowDc(hwnd_).get(), 0, 0, SRCCOPY);
    const auto whole = Paint();
    GdiFlush();
    const DWORD *a = shown.pixels, *b = whole->pixels;
    int i = 0;
    while (i < width_ * height_ && ((a[i] ^ b[i]) & 0xFFFFFF) == 0) ++i;
    EXPECT_EQ(i, width_ * height_) << step << ": first at " << i % width_ << "," << i / width_
                                   << std::hex << " shows " << (a[i] & 0xFFFFFF) << " not "
                                   << (b[i] & 0xFFFFFF);
  }
};

TEST_F(FastPaintTest, EachStepOfDragsHoversStrokesMovesAndResizesAndUncoveredParts) {
  State().Windows = {{250, 150, 650, 450}};
  Run(L"check no selection, hover 300 200, check window outlined, hover 900 700, "
      L"check monitor outlined, press 300 200, check pressed, move 700 500, check dragging, "
      L"move 450 320, check smaller, move 100 80, check past the start, move 300 500, "
      L"check zero width, release 305 500, check too narrow, drag 200 200 600 500");
  // Something else drew over the overlay; the system invalidates what it covered.
  const RECT covered = {150, 150, 450, 350};
  FillRect(WindowDc(hwnd_).get(), &covered, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  InvalidateRect(hwnd_, &covered, FALSE);
  Checkpoint(L"uncovered");
  // On the tests' 1600 x 900 screen, below 400,300,1000,700, Copy is at 896,726, Save at 926,726.
  OpenOverlay(true);
  Run(L"drag 400 300 1000 700, check selected, hover 926 726, check tooltip not yet due");
  ASSERT_EQ(State().TooltipText, L"Speichern (Strg+S)");
  SendMessageW(hwnd_, WM_TIMER, IDT_TOOLTIP, 0);
  Run(L"check tooltip, hover 927 726, check tooltip stays, hover 896 726, check next button, hover 200 150, "
      L"check off the toolbar, Pen, press 450 350, move 510 440, move 580 390, release 580 390, "
      L"Line, press 570 390, move 630 480, move 700 430, release 700 430, Arrow, press 690 430, "
      L"move 750 520, move 820 470, check arrow being drawn, release 820 470, Rect, press 810 470, "
      L"move 870 560, move 940 510, release 940 510, check four strokes, Text, "
      L"press 520 600, type Größe ändern, check typing, Back, check caret, Enter, check text added, Mosaic, press 600 350, "
      L"move 700 420, check mosaic being drawn, release 690 430, check mosaic, Number, "
      L"click 900 600, check number, ctrl+Z, check undone by key, ctrl+Y, check redone");
  // Without a tool, presses move the selection, the annotations staying; then its right edge
  // (handle at 1060,560) goes onto the left one and past it, and its bottom over the top.
  Run(L"Number, check no tool, press 700 500, move 640 430, "
      L"check moved up and left, move 760 560, release 760 560, check moved down and right, "
      L"press 1060 560, move 460 560, check zero width, move 310 560, check negative width, "
      L"move 860 560, release 860 560, press 660 760, move 660 280, release 660 280, "
      L"check negative height, Undo, check undone");
  const OverlayState& s = State();
  EXPECT_EQ(Str(s.SelectionRect) + " " + std::to_string(s.Annotations.size()), "460,360,860,280 6");
}

// Only changed bounds are repainted: an element drawing outside its bounds would linger there.
static void ExpectInside(const RECT& bounds, const Annotation& annotation, bool draws) {
  Canvas canvas(800, 800);
  std::fill(canvas.pixels, canvas.pixels + 800 * 800, 0x102030u);
  DrawAnnotation(canvas.dc.get(), annotation, {0, 0});
  auto changed = [](DWORD pixel) { return pixel != 0x102030u; };
  RECT inside = {0, 0, 800, 800};
  const int all = canvas.Count(inside, changed);
  IntersectRect(&inside, &inside, &bounds);
  EXPECT_EQ(all, canvas.Count(inside, changed))
      << "kind " << int(annotation.Kind) << " outside " << Str(bounds);
  EXPECT_TRUE(all > 0 || !draws) << "kind " << int(annotation.Kind) << " draws nothing";
}

TEST(ElementBoundsTest, StrokesAndTextStayInsideTheirBounds) {
  const GdiplusSession gdiplus;
  const POINT from = {300, 300};
  // Steep and shallow arrows: the head's barbs reach back beside the shaft.
  for (Tool kind : {Tool::Pen, Tool::Line, Tool::Arrow, Tool::Rectangle}) {
    for (POINT to : {POINT{520, 310}, {310, 520}, {120, 140}, {301, 300}, {300, 300}}) {
      const POINT bend = {(from.x + to.x) / 2 + 17, (from.y + to.y) / 2 - 23};
      Annotation stroke{kind, RGB(250, 250, 250), kStrokeWidth, {from, to}, L"", {}};
      if (kind == Tool::Pen) stroke.Points = {from, bend, to};
      // A rectangle without height, a pen stroke that never moved: nothing to see.
      const bool flat = to.y == from.y && (kind == Tool::Rectangle || to.x == from.x);
      ExpectInside(AnnotationBounds(stroke), stroke, !flat);
    }
  }
  for (const wchar_t* typed : {L"WWWMMM@@@", L"Größe ändern|", L"jgq|ÄÖÜ"}) {
    const Annotation text{Tool::Text, RGB(250, 250, 250), kTextSize, {{100, 100}}, typed, {}};
    ExpectInside(AnnotationBounds(text), text, true);
    ExpectInside(TextPreviewBounds({100, 100}, text.Text.size(), kTextSize), text, true);
  }
}

// The darkening made in memory shows every channel value as the black layer blended by GDI does.
// Wine's AlphaBlend halves exactly; Windows documents the blend's formula but not its rounding.
TEST(DarkeningTest, GivesWhatAlphaBlendGivesToTheLastBit) {
  const DWORD pixels[] = {0x000000, 0x010101, 0xFEFEFE, 0xFFFFFF, 0x00FF01, 0xFE01FF, 0x7F8081,
                          0x02FD03, 0x123456, 0xA9CB3E};
  constexpr int n = sizeof pixels / sizeof *pixels;
  Canvas blended(n, 1), black(n, 1);
  std::copy(pixels, pixels + n, blended.pixels);
  AlphaBlend(blended.dc.get(), 0, 0, n, 1, black.dc.get(), 0, 0, n, 1, {AC_SRC_OVER, 0, 128, 0});
  DWORD darkened[n];
  std::copy(pixels, pixels + n, darkened), DarkenPixels(darkened, n);
  for (int i = 0; i < n; ++i) EXPECT_EQ(darkened[i] & 0xFFFFFF, blended.At(i, 0)) << pixels[i];
}
