// The editor through its real window procedure: an overlay of the real class over a known picture,
// fed the mouse and key messages of a user's actions, judged by its state, by what it hands to
// the session, and by the pixels of the pieces the plain repaint of fast_paint_test shares.
#include <fstream>
#include <functional>
#include <iterator>

#include "overlay/annotations.h"
#include "overlay/export.h"
#include "unit/overlay/editor_fixture.h"

using Id = ToolbarButtonId;
constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);
constexpr const char* kTools[] = {"none", "pen", "line", "arrow", "rect", "text"};

class EditorTest : public EditorFixture {
 protected:
  void SetUp() override { EditorFixture::SetUp(); OpenOverlay(false); }
  void Select(RECT r = {100, 100, 400, 300}) { Drag(r.left, r.top, r.right, r.bottom); }
  static const RECT& Button(Id id) { return g_toolbarLayout.Button(id); }
  void Choose(Id id, COLORREF color = kRed) {
    g_overlayState.CurrentColor = color;
    if (g_overlayState.CurrentTool != ToolOfButton(id)) Click(id);
  }
  // With a tool: pressed at the first point, moved through the others, released at the last.
  void Stroke(Id tool, COLORREF color, std::initializer_list<POINT> points) {
    Choose(tool, color);
    for (const POINT& p : points) (&p == points.begin() ? Press(p.x, p.y) : Move(p.x, p.y));
    Release((points.end() - 1)->x, (points.end() - 1)->y);
  }
  // Queued for the text entry's own loop to take, as typed keys would be.
  void Type(const std::wstring& text, WPARAM key = 0) {
    for (wchar_t c : text) PostMessageW(hwnd_, WM_CHAR, c, 1);
    if (key) PostMessageW(hwnd_, WM_KEYDOWN, key, 1);
  }
  static int Count(const Canvas& frame, const RECT& area, COLORREF color) {
    return frame.Count(area, [color](DWORD p) { return p == Dib(color); });
  }
  // The editor in one line: phase, selection, tool, and the drag mode while one runs.
  std::string State() const {
    const OverlayState& s = g_overlayState;
    const std::string mode = " mode " + std::to_string(static_cast<int>(s.DragMode));
    return (!Alive() ? "closed " : s.Phase == OverlayPhase::Selected ? "selected " : "none ") +
           Str(s.SelectionRect) + " " + kTools[static_cast<int>(s.CurrentTool)] +
           (s.DragMode == DragMode::None ? "" : mode) + (s.IsSelecting ? " selecting" : "");
  }
  // The annotations: kind, points, width or text size, and text.
  static std::wstring Notes() {
    std::wstring all;
    for (const Annotation& a : g_overlayState.Annotations) {
      const std::string kind = kTools[static_cast<int>(a.Kind)];
      all += (all.empty() ? L"" : L"|") + std::wstring(kind.begin(), kind.end());
      for (POINT p : a.Points) all += L" " + std::to_wstring(p.x) + L"," + std::to_wstring(p.y);
      all += L" w" + std::to_wstring(a.Width) + (a.Text.empty() ? L"" : L" " + a.Text);
    }
    return all;
  }
};

TEST_F(EditorTest, FirstDragMustExceedTenByTenAndOnlyTheFirstAcceptedOneIsRemembered) {
  AppSettings.RememberSelection = true;
  for (WPARAM key : {'C', 'S', 'D', 'X'}) Key(key, true);  // nothing to act on yet
  const struct { RECT drag; const char* state; } cases[] = {
      {{300, 300, 300, 300}, "none 300,300,300,300 none, remembered 0,0,0,0"},  // a click
      {{100, 100, 110, 300}, "none 100,100,110,300 none, remembered 0,0,0,0"},
      {{100, 100, 300, 110}, "none 100,100,300,110 none, remembered 0,0,0,0"},
      {{111, 111, 100, 100}, "selected 100,100,111,111 none, remembered 100,100,111,111"}};
  for (const auto& c : cases) {
    Press(c.drag.left, c.drag.top);
    Move(c.drag.right, c.drag.bottom);
    Key('X', true);  // the drag goes on
    Release(c.drag.right, c.drag.bottom);
    EXPECT_EQ(State() + ", remembered " + Str(AppSettings.Selection), c.state);
  }
  Drag(105, 105, 205, 205);  // a move is not written
  Settings onDisk;
  EXPECT_TRUE(LoadSettingsFrom(GetSettingsPath(), onDisk) && onDisk.RememberSelection);
  EXPECT_EQ(Str(onDisk.Selection), "100,100,111,111");
}

TEST_F(EditorTest, MovingAndResizingTakeTheToolbarAlongAndAreNeverClamped) {
  auto toolbar = [] {
    return " pen " + std::to_string(Button(Id::Pen).left) + " close " +
           std::to_string(Button(Id::Close).right) + " copy " + std::to_string(Button(Id::Copy).top);
  };
  Select();
  Drag(200, 200, 250, 170);  // inside: a move by (50, -30)
  EXPECT_EQ(State() + toolbar(), "selected 150,70,450,270 none pen 462 close 450 copy 282");
  Drag(450, 270, 500, 400);  // the bottom-right handle
  EXPECT_EQ(State() + toolbar(), "selected 150,70,500,400 none pen 512 close 500 copy 412");
  Press(325, 70);  // the top handle, at (150 + 500) / 2: the sides stay
  Move(335, 60);
  EXPECT_EQ(State(), "selected 150,60,500,400 none mode 3");
  Release(335, 60);
  Drag(200, 200, -100, 150);  // partly off the screen
  EXPECT_EQ(State(), "selected -150,10,200,350 none");
  EXPECT_EQ(Paint()->At(10, 200), PatternAt(10, 200));
}

TEST_F(EditorTest, ResizedPastTheOppositeEdgeItStaysInvertedDarkAndInert) {
  Select();
  Drag(100, 200, 450, 200);  // the left handle past the right edge
  Drag(406, 200, 500, 200);  // between the edges: nothing to move
  for (WPARAM key : {'C', 'S', 'D'}) Key(key, true);
  for (WPARAM key : {'C', 'S', 'D', 'X'}) Key(key, false);  // letters need Ctrl
  for (Id id : {Id::Copy, Id::Save, Id::Upload}) Click(id);
  EXPECT_EQ(State() + " " + std::to_string(calls_), "selected 450,100,400,300 none 0");
  const auto frame = Paint();
  for (int x : {250, 406}) {
    const DWORD p = PatternAt(x, 150), dark = Rgb(Ch(p, 16) / 2, Ch(p, 8) / 2, Ch(p, 0) / 2);
    EXPECT_TRUE(Near(frame->At(x, 150), dark, 1)) << x;  // black blended at 128 of 255
  }
}

TEST_F(EditorTest, EscRightPressAndTheCloseButtonCancelAndActionsWinOverToolsTheyOverlap) {
  const std::function<void()> cancels[] = {[&] { Select(), Key(VK_ESCAPE, false); },
      [&] {
        Select();
        Press(200, 200);  // in the middle of a move
        Send(WM_RBUTTONDOWN, 200, 200, MK_LBUTTON | MK_RBUTTON);
      },
      [&] {
        // Near the right edge the tool column flips onto the action row.
        Select({width_ - 40, 100, width_ - 29, 111});
        RECT both = {};
        ASSERT_TRUE(IntersectRect(&both, &Button(Id::Close), &Button(Id::Line)));
        Click(both.left, both.top);
      }};
  for (const auto& cancel : cancels) {
    OpenOverlay(false);
    cancel();
    EXPECT_TRUE(!Alive() && g_overlayState.SessionDone && calls_ == 0) << &cancel - cancels;
    EXPECT_TRUE(g_overlayState.Result == OverlayResult::Cancelled &&
                g_overlayState.CurrentTool == Tool::None);
  }
}

TEST_F(EditorTest, CtrlCAndTheCopyButtonHandTheExactRegionToTheSession) {
  for (const RECT& area : {RECT{10, 10, 110, 60}, RECT{200, 150, 500, 400}}) {
    OpenOverlay(false);
    calls_ = 0;
    Select(area);
    area.left == 10 ? Key('C', true) : Click(Id::Copy);
    EXPECT_TRUE(!Alive() && g_overlayState.Result == OverlayResult::Done && calls_ == 1);
    EXPECT_EQ(Str(doneRect_), Str(area));
    EXPECT_TRUE(result_ && result_->IsRegion(area)) << Str(area);
  }
}

TEST_F(EditorTest, ToolbarShowsPanelsWhiteIconsTheChosenToolTintedAndALateTooltip) {
  // The pink tint is clearly redder than green; white icons on the grey panel are not.
  auto tinted = [](DWORD p) { return Ch(p, 16) - Ch(p, 8) >= 30; };
  auto light = [](DWORD p) { return Ch(p, 0) > 200 && Ch(p, 8) > 200 && Ch(p, 16) > 200; };
  Select();
  auto frame = Paint();
  EXPECT_EQ(frame->At(411, 130), 0x323232u) << "the panel between button and edge";
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    EXPECT_TRUE(Id(i) == Id::Color || frame->Count(Button(Id(i)), light) > 10) << i;
  }
  Choose(Id::Arrow);
  Move(600, 600, false);  // hover elsewhere: only being chosen tints it
  frame = Paint();
  EXPECT_GT(frame->Count(Button(Id::Arrow), tinted), 20);
  EXPECT_EQ(frame->Count(Button(Id::Line), tinted), 0);
  const RECT& copy = Button(Id::Copy);
  Move(copy.left + 5, copy.top + 5, false);
  const POINT anchor = g_overlayState.TooltipAnchor;
  Move(copy.left + 10, copy.top + 10, false);
  EXPECT_EQ(g_overlayState.TooltipText, L"Kopieren (Strg+C)");
  EXPECT_EQ(g_overlayState.TooltipAnchor.x, anchor.x) << "the box stays where it appeared";
  frame = Paint();
  EXPECT_GT(frame->Count(copy, [](DWORD p) { return Near(p, 0xFFB6C1, 8); }), 10) << "pink";
  const RECT box = {anchor.x - 50, anchor.y + 23, anchor.x + 50, anchor.y + 42};
  EXPECT_EQ(frame->Count(box, light), 0) << "no tooltip within the first 300 ms";
  g_overlayState.TooltipTime = GetTickCount() - 400;
  frame = Paint();
  EXPECT_GT(frame->Count(box, light), 20) << "white text";
  EXPECT_GT(frame->Count(box, [](DWORD p) { return Near(p, Rgb(40, 40, 40), 12); }), 200);
  Move(600, 600, false);
  EXPECT_TRUE(g_overlayState.TooltipText.empty());
}

TEST_F(EditorTest, AToolDrawsInsteadOfMovingUndoTakesTheLastStrokeAndItsButtonTogglesIt) {
  Select();
  Stroke(Id::Pen, kRed, {{200, 200}});  // a press without movement: one point, drawing nothing
  EXPECT_EQ(Count(*Paint(), {190, 190, 211, 211}, kRed), 0);
  EXPECT_TRUE(!g_overlayState.IsDrawing && g_overlayState.PenPoints.empty());
  Choose(Id::Line);
  Press(150, 150);
  for (POINT p : {POINT{160, 151}, {170, 152}, {180, 190}}) Move(p.x, p.y);
  EXPECT_EQ(State() + " " + std::to_string(g_overlayState.PenPoints.size()),
            "selected 100,100,400,300 line mode 10 1") << "only the pen samples its way";
  Release(180, 190);
  for (Id id : {Id::Arrow, Id::Rectangle}) Stroke(id, kRed, {{150, 150}, {160, 151}, {180, 190}});
  const std::wstring three = L"pen 200,200 w3|line 150,150 180,190 w3|arrow 150,150 180,190 w3";
  EXPECT_EQ(Notes(), three + L"|rect 150,150 180,190 w3");
  Click(Id::Undo);
  EXPECT_EQ(Notes(), three);
  for (int i = 0; i < 4; ++i) Click(Id::Undo);
  EXPECT_EQ(Notes(), L"");
  EXPECT_EQ(State(), "selected 100,100,400,300 rect");
  Click(Id::Rectangle);  // chosen again: no tool, and a drag inside moves the selection
  Drag(200, 200, 210, 220);
  EXPECT_EQ(State(), "selected 110,120,410,320 none");
}

TEST_F(EditorTest, EachKindIsPaintedInTheColourOfItsTimeAndExportedCutAtTheBorder) {
  Select();
  Stroke(Id::Pen, kRed, {{120, 180}, {140, 180}, {140, 210}});
  Stroke(Id::Line, kBlue, {{150, 150}, {200, 150}, {250, 150}});
  Stroke(Id::Arrow, kGreen, {{150, 260}, {200, 260}, {250, 260}});
  Stroke(Id::Arrow, kGreen, {{300, 180}});  // without movement it points right
  Stroke(Id::Rectangle, RGB(255, 0, 255), {{350, 200}, {50, 250}});  // past the left edge
  const auto frame = Paint();
  const auto composed = Canvas::Of(ComposeSelection().get());
  const struct { POINT at; COLORREF color; } marks[] = {{{130, 180}, kRed}, {{140, 195}, kRed},
      {{200, 150}, kBlue}, {{200, 260}, kGreen}, {{242, 263}, kGreen},  // inside the head
      {{293, 180}, kGreen}, {{349, 225}, RGB(255, 0, 255)}};
  for (const auto& m : marks) {
    EXPECT_EQ(frame->At(m.at.x, m.at.y), Dib(m.color)) << m.at.x << "," << m.at.y;
    EXPECT_EQ(composed->At(m.at.x - 100, m.at.y - 100), Dib(m.color)) << m.at.x << "," << m.at.y;
  }
  EXPECT_EQ(Count(*frame, {303, 170, 315, 191}, kGreen), 0) << "nothing right of the tip";
  EXPECT_EQ(frame->At(50, 225), Rgb(255, 0, 255)) << "drawn over the darkened area too";
  EXPECT_EQ(frame->At(200, 225), PatternAt(200, 225)) << "a rectangle is hollow";
  EXPECT_EQ(composed->At(0, 100), Rgb(255, 0, 255)) << "the rectangle runs to the edge";
  EXPECT_EQ(composed->At(0, 125), PatternAt(100, 225)) << "its left side is cut off";
}

TEST_F(EditorTest, TypedTextIsCommittedOnEnterAtThePressPointTwentyTwoPixelsHigh) {
  Select();
  Choose(Id::Text, kBlue);
  Type(L"Grüße €x", VK_BACK);
  Type(L"", VK_RETURN);
  Press(150, 150);  // runs the entry until Enter
  EXPECT_EQ(Notes(), L"text 150,150 w22 Grüße €");
  EXPECT_EQ(GetCapture(), hwnd_) << "capture is taken again";
  const auto frame = Paint();
  EXPECT_GT(Count(*frame, {150, 150, 260, 180}, kBlue), 40);
  EXPECT_EQ(Count(*frame, {150, 180, 260, 200}, kBlue), 0) << "22 pixels tall, no more";
  EXPECT_GT(Count(*Canvas::Of(ComposeSelection().get()), {50, 50, 160, 80}, kBlue), 40);
  Type(L"", VK_RETURN);
  Press(150, 250);
  EXPECT_EQ(Notes(), L"text 150,150 w22 Grüße €") << "an empty entry adds nothing";
}

TEST_F(EditorTest, TextEntryEndsWithEscOrCtrlCAndAPressStartsANestedEntry) {
  Select();
  Choose(Id::Text);
  Type(L"a");
  PostMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, At(200, 250));
  Type(L"b", VK_RETURN);  // ends the inner entry, which commits first
  Type(L"c", VK_RETURN);
  Press(150, 150);
  EXPECT_EQ(Notes(), L"text 200,250 w22 b|text 150,150 w22 ac");
  Type(L"weg", VK_ESCAPE);  // the session ends with nothing added
  Press(150, 200);
  EXPECT_TRUE(!Alive() && g_overlayState.Result == OverlayResult::Cancelled && calls_ == 0);
  OpenOverlay(false);
  Select();
  Choose(Id::Text);
  Type(L"abc", 'C');
  SetCtrl(true);
  Press(150, 150);  // would never return if the entry waited for Enter on a destroyed window
  SetCtrl(false);
  EXPECT_TRUE(!Alive() && calls_ == 1 && Notes().empty() && result_->IsRegion({100, 100, 400, 300}));
}

using ExportTest = EditorFixture;

TEST_F(ExportTest, PartsOffTheScreenAreBlackAndSelectionsWithoutAreaComposeNothing) {
  g_overlayState.SelectionRect = {-20, height_ - 20, 30, height_ + 20};
  const auto edge = Canvas::Of(ComposeSelection().get());
  EXPECT_EQ(edge->At(19, 19) + edge->At(20, 20), 0u) << "left of and below the screen";
  EXPECT_EQ(edge->At(20, 19), PatternAt(0, height_ - 1));
  EXPECT_EQ(edge->At(49, 0), PatternAt(29, height_ - 20));
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
