#include "overlay/export.h"
#include "unit/support.h"

constexpr const wchar_t* kTools[] = {L"none", L"pen",  L"line",   L"arrow",
                                     L"rect", L"text", L"mosaic", L"number"};
static std::wstring N(long value) { return std::to_wstring(value); }
static std::wstring Wide(const RECT& r) { const auto s = Str(r); return {s.begin(), s.end()}; }

class EditorTest : public EditorFixture {
 protected:
  void SetUp() override { EditorFixture::SetUp(), OpenOverlay(false); }
  const RECT& Button(Id id) const { return Layout().Button(id); }
  // Phase, selection, tool, pen button's left and copy button's top, mode, annotations, result.
  void Check(const std::wstring& expected) const {
    const OverlayState& s = State();
    const wchar_t* ended = s.Result == OverlayResult::Done     ? L"done"
                           : s.Result == OverlayResult::Pinned ? L"pinned"
                                                               : L"cancelled";
    std::wstring text = !Alive() ? ended
                        : s.Phase == OverlayPhase::Selected ? L"selected" : L"none";
    text += L" " + Wide(s.SelectionRect) + L" " + kTools[int(s.CurrentTool)];
    if (Alive() && s.Phase == OverlayPhase::Selected) {
      text += L" [" + N(Button(Id::Pen).left) + L"," + N(Button(Id::Copy).top) + L"]";
    }
    if (Alive() && s.DragMode != DragMode::None) text += L" mode " + N(int(s.DragMode));
    if (Alive() && s.IsSelecting) text += L" selecting";
    if (Alive() && s.IsDrawing) text += L" drawing " + N(long(s.PenPoints.size()));
    if (Alive() && GetCapture() != hwnd_) text += L" uncaptured";
    for (const Annotation& a : s.Annotations) {
      text += L" | " + std::wstring(kTools[int(a.Kind)]);
      for (POINT p : a.Points) text += L" " + N(p.x) + L"," + N(p.y);
      text += L" w" + N(a.Width) + (a.Text.empty() ? L"" : L" " + a.Text);
    }
    if (session_->Pinned) {
      text += Canvas::Of(session_->Pinned.get())->IsRegion(s.SelectionRect) ? L" | pinned exactly"
                                                                             : L" | pinned wrongly";
    }
    if (Copied()) text += CopiedExactly(s.SelectionRect) ? L" | copied exactly" : L" | copied wrongly";
    EXPECT_EQ(text, expected);
  }
};

TEST_F(EditorTest, EachGestureLeavesTheEditorAsARuleSays) {
  const std::wstring select = L"drag 100 100 400 300, ", strokes = L"Pen, click 200 200, Line, "
      L"press 150 150, move 160 151, move 180 190, release 180 190, Arrow, drag 150 150 180 190, "
      L"Rect, drag 150 150 180 190", sel = L"selected 100,100,400,300 ",
      lines = L"Line, drag 120 120 200 120, drag 120 130 200 130, drag 120 140 200 140, ",
      two = L" | line 120,120 200,120 w3 | line 120,130 200,130 w3",
      third = L" | line 120,140 200,140 w3";
  const std::wstring text = sel + L"text [412,312] | text ";
  const struct { std::wstring script, summary; } cases[] = {
      // Larger than 10 x 10 either way round; Ctrl shortcuts, even Ctrl+X, wait for it.
      {L"drag 100 100 110 300", L"none 100,100,110,300 none"},
      {L"drag 100 100 300 110", L"none 100,100,300,110 none"},
      {L"drag 111 111 100 100", L"selected 100,100,111,111 none [123,123]"},
      {L"ctrl+C, ctrl+S, ctrl+D, ctrl+P, ctrl+X, press 100 100, move 300 300, ctrl+X",
       L"none 0,0,0,0 none selecting"},
      // Moves and resizes take the toolbar along, unclamped; a top resize leaves the sides.
      {select + L"drag 200 200 -100 150", L"selected -200,50,100,250 none [112,262]"},
      {select + L"drag 400 300 500 400", L"selected 100,100,500,400 none [512,412]"},
      {select + L"press 250 100, move 260 90", L"selected 100,90,400,300 none [412,312] mode 3"},
      // Inverted it stays so; Copy, Save, Upload, Pin, bare letters and presses inside do nothing.
      {select + L"drag 100 200 450 200, drag 406 200 500 200, ctrl+C, ctrl+S, ctrl+D, ctrl+P, C, "
                L"S, D, X, P, Copy, Save, Upload, Pin", L"selected 450,100,400,300 none [412,312]"},
      // Arrow keys move by 1 or 10, Ctrl moves the right or bottom edge, Ctrl+Shift the left
      // or top one, each by 1, never off the screen; while a text is typed they are its own.
      {select + L"shift+Right, ctrl+Down, ctrl+shift+Left, Up, ctrl+shift+Up",
       L"selected 109,98,410,300 none [422,312]"},
      {L"drag 0 5 300 200, Left, shift+Up, ctrl+shift+Left, ctrl+shift+Up, Down",
       L"selected 0,1,300,196 none [312,208]"},
      {L"drag 100 100 111 111, ctrl+Left, ctrl+shift+Down, ctrl+Right, ctrl+Left, ctrl+Left, "
       L"ctrl+shift+Up", L"selected 100,99,111,111 none [123,123]"},
      {select + L"Text, press 150 150, type ab, Left, Enter", text + L"150,150 w22 ab"},
      // Esc, a right press during a move and Close cancel; Close wins over a tool it overlaps.
      {select + L"Esc", L"cancelled 100,100,400,300 none"},
      {select + L"press 200 200, right 200 200", L"cancelled 100,100,400,300 none"},
      {select + L"Close", L"cancelled 100,100,400,300 none"},
      {L"drag 1560 100 1571 111, click 1543 130", L"cancelled 1560,100,1571,111 none"},
      {L"drag 100 50 300 150, Copy", L"done 100,50,300,150 none | copied exactly"},
      // A pin keeps the picture, the clipboard stays as it was.
      {L"drag 100 50 300 150, Pin", L"pinned 100,50,300,150 none | pinned exactly"},
      {select + L"ctrl+P", L"pinned 100,100,400,300 none | pinned exactly"},
      // A tool draws instead of moving, only the pen sampling its way; its button again clears it.
      {select + L"Pen, press 200 200, move 220 210", sel + L"pen [412,312] mode 10 drawing 2"},
      {select + L"Rect, Rect, drag 200 200 210 220", L"selected 110,120,410,320 none [422,332]"},
      // A still pen is one point, straight tools keep both ends; undo takes the last, then none.
      {select + strokes + L", Undo", sel + L"rect [412,312] | pen 200,200 w3 | line 150,150 "
                                     L"180,190 w3 | arrow 150,150 180,190 w3"},
      {select + L"Line, drag 120 120 200 120, Undo, Undo, Undo", sel + L"line [412,312]"},
      // The capture taken away ends a drag where the pointer was last seen.
      {L"press 100 100, move 300 250, lost, move 500 500, release 500 500",
       L"selected 100,100,300,250 none [312,262] uncaptured"},
      {select + L"press 200 200, move 220 210, lost, move 300 300",
       L"selected 120,110,420,310 none [432,322] uncaptured"},
      {select + L"Pen, press 200 200, move 220 210, lost, move 250 250",
       sel + L"pen [412,312] uncaptured | pen 200,200 220,210 w3"},
      // Typed text without control characters, Back taking a whole surrogate pair, committed by
      // Enter at the press in 22-pixel type, capture back; empty adds nothing; a press nests.
      {select + L"Text, press 150 150, type Grüße\t\x7F €\U0001F600, Back, Enter, "
                L"press 150 250, Back, Enter", text + L"150,150 w22 Grüße €"},
      {select + L"Text, press 150 150, type a, press 200 250, type b, Enter, type c, Enter",
       text + L"200,250 w22 b | text 150,150 w22 ac"},
      {select + L"Text, press 150 150, type weg, Esc", L"cancelled 100,100,400,300 text"},
      {select + L"Text, press 150 150, type abc, ctrl+C",  // Ctrl+C copies and ends it
       L"done 100,100,400,300 text | copied exactly"},
      // A click within 3 pixels selects the topmost window there, cut to the screen, else the
      // monitor; 4 pixels is a drag, refused.
      {L"click 250 200", L"selected 200,150,500,400 none [512,412]"},
      {L"press 600 500, move 602 498, release 603 497", L"selected 100,100,700,600 none [712,612]"},
      {L"click 100 850", L"selected 0,800,300,900 none [312,760]"},
      {L"click 1000 700", L"selected 0,0,1600,900 none [-40,868]"},
      {L"drag 600 500 604 500", L"none 600,500,604,500 none"},
      // Undo and redo in order, by key or button; a new annotation, not a redo, ends the list.
      {select + lines + L"ctrl+Z, Undo, ctrl+Z, ctrl+Y, ctrl+shift+Z, ctrl+Y, ctrl+Y",
       sel + L"line [412,312]" + two + third},
      {select + lines + L"ctrl+Z, drag 120 150 200 150, ctrl+Y",
       sel + L"line [412,312]" + two + L" | line 120,150 200,150 w3"},
      // While a text is typed the keys are its own; the text tool is left empty.
      {select + lines + L"Text, press 300 200, ctrl+Z, Enter", sel + L"text [412,312]" + two + third},
      {select + lines + L"ctrl+Z, Text, press 300 200, ctrl+Y, Enter", sel + L"text [412,312]" + two},
      // Numbers count the placed ones: undone, the next click takes the number again.
      {select + L"Number, click 150 150, click 200 150, click 250 150, ctrl+Z, click 300 200, "
       L"ctrl+Y", sel + L"number [412,312] | number 150,150 w24 1 | number 200,150 w24 2 | "
       L"number 300,200 w24 3"},
      // Only numbers count: a stroke and a mosaic before it leave the first number 1.
      {select + L"Line, drag 120 120 200 120, Mosaic, drag 150 150 182 166, Number, click 300 200",
       sel + L"number [412,312] | line 120,120 200,120 w3 | mosaic 150,150 182,166 w16 | "
       L"number 300,200 w24 1"}};
  for (const auto& c : cases) {
    OpenOverlay(false);
    State().Windows = {{200, 150, 500, 400}, {100, 100, 700, 600}, {-50, 800, 300, 1000}};
    Run(c.script), Check(c.summary);
  }
}

TEST_F(EditorTest, OnlyTheFirstAcceptedSelectionIsRemembered) {
  AppSettings.RememberSelection = true;
  Run(L"press 100 100, move 300 300, Esc"), OpenOverlay(false);  // a cancelled drag is not
  Run(L"drag 100 100 105 300");
  EXPECT_EQ(Str(AppSettings.Selection), "0,0,0,0");
  Run(L"drag 120 130 420 330, drag 200 200 260 260");  // a move is not written
  Settings onDisk;
  EXPECT_TRUE(LoadSettingsFrom(GetSettingsPath(), onDisk));
  EXPECT_TRUE(onDisk.RememberSelection);
  EXPECT_EQ(Str(onDisk.Selection), "120,130,420,330");
}

// Black blended at 128 of 255 over the frozen screen leaves each channel about half.
static bool Dimmed(DWORD shown, DWORD screen) {
  auto half = [&](int shift) { return std::abs(2 * Ch(shown, shift) - Ch(screen, shift)) <= 3; };
  return half(0) && half(8) && half(16);
}

TEST_F(EditorTest, FrameShowsTheSelectionOnTheDimmedScreenWithItsFrameToolbarAndALateTooltip) {
  // The pink tint is clearly redder than green; white icons on the grey panel are not.
  auto tinted = [](DWORD p) { return Ch(p, 16) - Ch(p, 8) >= 30; };
  auto light = [](DWORD p) { return Ch(p, 0) > 200 && Ch(p, 8) > 200 && Ch(p, 16) > 200; };
  State().Windows = {{150, 120, 450, 330}};
  Run(L"hover 300 200");  // before a drag, the window a click would select
  auto frame = Paint();
  EXPECT_TRUE(Dimmed(frame->At(500, 200), PatternAt(500, 200))) << "dimmed around the window";
  EXPECT_EQ(frame->At(150, 200), 0xFFB6C1u) << "the window outlined";
  EXPECT_EQ(frame->At(300, 200), PatternAt(300, 200)) << "the window bright";
  Run(L"press 400 300, move 100 100");  // shown while the first drag goes on
  frame = Paint();
  EXPECT_TRUE(Dimmed(frame->At(width_ - 1, height_ - 1), PatternAt(width_ - 1, height_ - 1)));
  EXPECT_EQ(frame->At(100, 200), 0xFFB6C1u) << "a pink border";
  EXPECT_EQ(frame->At(250, 200), PatternAt(250, 200)) << "bright inside";
  Run(L"release 100 100, Arrow, hover 600 600");  // only being chosen tints
  frame = Paint();
  EXPECT_EQ(frame->At(96, 96), 0u) << "a handle's frame";
  EXPECT_EQ(frame->At(98, 98), 0xFFFFFFu) << "a handle's inside";
  EXPECT_GT(frame->Count({105, 80, 200, 100}, light), 20) << "the size label above";
  EXPECT_EQ(frame->At(411, 130), 0x323232u) << "the panel between button and edge";
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    const RECT& b = Button(Id(i));
    const int white = frame->Count(b, light), pink = frame->Count(b, tinted);
    const bool swatch = frame->At(b.left + 14, b.top + 14) == Dib(State().CurrentColor);
    if (Id(i) == Id::Color) {
      EXPECT_TRUE(swatch) << "the colour swatch";
    } else if (Id(i) == Id::Arrow) {
      EXPECT_GT(pink, 20) << "the chosen tool tinted";
    } else {
      EXPECT_GT(white, 10) << "button " << i << " white";
      EXPECT_EQ(pink, 0) << "button " << i << " not tinted";
    }
  }
  const RECT& copy = Button(Id::Copy);
  Run(L"hover " + N(copy.left + 10) + L" " + N(copy.top + 10));
  const POINT anchor = State().TooltipAnchor;
  const RECT box = {anchor.x - 50, anchor.y + 23, anchor.x + 50, anchor.y + 42};
  frame = Paint();
  EXPECT_GT(frame->Count(copy, tinted), 10) << "hovered";
  EXPECT_EQ(frame->Count(box, light), 0) << "no tip at once";
  // The pointer rests: no further move, only the window's own timer.
  MSG message = {};
  for (int i = 0; i < 100 && !State().TooltipShown; ++i) {
    if (PeekMessageW(&message, hwnd_, 0, 0, PM_REMOVE)) DispatchMessageW(&message); else Sleep(20);
  }
  EXPECT_GT(Paint()->Count(box, light), 20) << "the tooltip's white text on a resting pointer";
  Run(L"hover 600 600");
  EXPECT_EQ(Paint()->Count(box, light), 0) << "gone with the pointer";
  Run(L"Arrow, drag 250 300 250 50");  // no tool: the bottom goes over the top
  EXPECT_EQ(Paint()->At(250, 75), PatternAt(250, 75)) << "bright the other way round too";
}

TEST_F(EditorTest, EachKindIsPaintedAndExportedInTheColourOfItsTimeCutAtTheBorder) {
  const COLORREF red = RGB(255, 0, 0), green = RGB(0, 255, 0), blue = RGB(0, 0, 255);
  const COLORREF magenta = RGB(255, 0, 255);
  const struct { COLORREF color; const wchar_t* strokes; } drawn[] = {
      {red, L"Pen, press 120 180, move 140 180, move 140 210, release 140 210"},
      {blue, L"Line, drag 150 150 250 150"}, {green, L"Arrow, drag 150 260 250 260"},
      {green, L"click 300 180"},  // an arrow without movement points right
      {magenta, L"Rect, drag 350 200 50 250"},  // past the left edge
      {red, L"Number, click 300 130, Number"},
      {blue, L"Text, press 150 270, type Grüße, Enter"}};
  Run(L"drag 100 100 400 300");
  for (const auto& d : drawn) State().CurrentColor = d.color, Run(d.strokes);
  const auto frame = Paint(), composed = Canvas::Of(ComposeSelection(*session_).get());
  const struct { POINT at; COLORREF color; } marks[] = {{{130, 180}, red}, {{140, 195}, red},
      {{200, 150}, blue}, {{200, 260}, green}, {{242, 263}, green},  // inside the head
      {{293, 180}, green}, {{349, 225}, magenta}, {{300, 139}, red}};  // below the number's 1
  for (const auto& m : marks) {
    const LONG x = m.at.x, y = m.at.y;
    EXPECT_EQ(frame->At(x, y), Dib(m.color)) << "painted at " << x << "," << y;
    EXPECT_EQ(composed->At(x - 100, y - 100), Dib(m.color)) << "exported at " << x << "," << y;
  }
  auto isBlue = [&](DWORD p) { return p == Dib(blue); };
  EXPECT_GT(frame->Count({295, 124, 305, 136}, [](DWORD p) { return Ch(p, 8) > 200; }), 8)
      << "the number's white digit";
  EXPECT_GT(frame->Count({150, 270, 260, 292}, isBlue), 40) << "the text painted";
  EXPECT_GT(composed->Count({50, 170, 160, 192}, isBlue), 40) << "the text exported";
  EXPECT_EQ(frame->Count({150, 292, 260, 299}, isBlue), 0) << "the text, 22 pixels high";
  EXPECT_EQ(frame->At(50, 225), Dib(magenta)) << "drawn over the darkened area too";
  EXPECT_EQ(frame->At(200, 225), PatternAt(200, 225)) << "and hollow";
  EXPECT_EQ(composed->At(0, 100), Dib(magenta)) << "the rectangle runs to the edge";
  EXPECT_EQ(composed->At(0, 125), PatternAt(100, 225)) << "its left side cut off";
}

// Redacted: every pixel of the rectangle is the mean of the frozen screen's pixels in its block,
// blocks aligned to the rectangle's corner; a line drawn before is covered, one drawn after not.
TEST_F(EditorTest, MosaicExportsOnlyBlockMeansOfTheFrozenScreen) {
  for (const UINT dpi : {96u, 144u}) {
    OpenOverlay(false), State().CurrentColor = RGB(255, 0, 0);
    Run(L"drag 100 100 400 300, Line, drag 110 160 390 160");
    State().Dpi = dpi;
    Run(L"Mosaic, drag 190 150 131 187, Line, drag 140 175 180 175");
    const int block = dpi == 96 ? 16 : 24;
    const auto composed = Canvas::Of(ComposeSelection(*session_).get()), frame = Paint();
    int wrong = 0;
    for (int y = 150; y < 187; ++y) {
      for (int x = 131; x < 190; ++x) {
        const int left = 131 + (x - 131) / block * block, top = 150 + (y - 150) / block * block;
        const int right = std::min(left + block, 190), bottom = std::min(top + block, 187);
        int sum[3] = {}, n = (right - left) * (bottom - top);
        for (int v = top; v < bottom; ++v) {
          for (int u = left; u < right; ++u) {
            for (int c = 0; c < 3; ++c) sum[c] += Ch(PatternAt(u, v), 8 * c);
          }
        }
        const DWORD mean = Rgb((sum[2] + n / 2) / n, (sum[1] + n / 2) / n, (sum[0] + n / 2) / n);
        const bool later = y >= 172 && y <= 178 && x >= 137 && x <= 183;
        wrong += !later && (composed->At(x - 100, y - 100) != mean || frame->At(x, y) != mean);
      }
    }
    EXPECT_EQ(wrong, 0) << dpi;
    EXPECT_EQ(composed->At(60, 75), 0xFF0000u) << "the later line on top";
  }
}

TEST_F(EditorTest, ExportOffTheScreenIsBlackNoAreaComposesNothingPngAndFileHoldOpaquePixels) {
  State().SelectionRect = {-20, height_ - 20, 30, height_ + 20};
  const auto edge = Canvas::Of(ComposeSelection(*session_).get());
  EXPECT_EQ(edge->At(19, 19), 0u) << "black left of the screen";
  EXPECT_EQ(edge->At(20, 20), 0u) << "black below it";
  EXPECT_EQ(edge->At(20, 19), PatternAt(0, height_ - 1));
  EXPECT_EQ(edge->At(49, 0), PatternAt(29, height_ - 20));
  for (RECT none : {RECT{100, 100, 100, 200}, {100, 100, 200, 100}, {150, 100, 100, 200},
                    {100, 250, 200, 200}}) {
    State().SelectionRect = none;
    EXPECT_FALSE(ComposeSelection(*session_)) << Str(none);
  }
  State().SelectionRect = {33, 21, 133, 71};
  const UniqueBitmap composed = ComposeSelection(*session_);
  const std::wstring path = std::to_wstring(GetCurrentProcessId()) + L"-export.png";
  ASSERT_TRUE(SavePngFile(composed.get(), path.c_str()));
  EXPECT_FALSE(SavePngFile(composed.get(), L"C:\\snapwren-no-such-folder\\shot.png"));
  EXPECT_EQ(FileBytes(path), EncodePng(composed.get()));
  // Laid over opaque black: any pixel that is not opaque comes out darker.
  Gdiplus::GpBitmap* bitmap = nullptr;
  HBITMAP decoded = nullptr;
  gp::GdipCreateBitmapFromFile(path.c_str(), &bitmap);
  UniqueGpImage image(AsImage(bitmap));
  gp::GdipCreateHBITMAPFromBitmap(bitmap, &decoded, 0xFF000000u);
  EXPECT_TRUE(Canvas::Of(UniqueBitmap(decoded).get())->IsRegion({33, 21, 133, 71}));
  image.reset(), DeleteFileW(path.c_str());
}
