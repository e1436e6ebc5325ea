// The editor through its real window procedure: an overlay of the real class over a known picture,
// fed the mouse and key messages of a user's actions, judged by its state, by what it hands to
// the session, and by the pixels of the pieces the plain repaint of fast_paint_test shares.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include "overlay/annotations.h"
#include "overlay/export.h"
#include "unit/overlay/editor_fixture.h"

using Id = ToolbarButtonId;
constexpr COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255);
constexpr const wchar_t* kTools[] = {L"none", L"pen", L"line", L"arrow", L"rect", L"text"};
constexpr const wchar_t* kButtons[] = {L"Pen", L"Line", L"Arrow", L"Rect", L"Text", L"Undo",
                                       L"Colour", L"Copy", L"Save", L"Upload", L"Close"};
static std::wstring N(long value) { return std::to_wstring(value); }
static std::wstring Wide(const RECT& r) {
  const std::string text = Str(r);
  return {text.begin(), text.end()};
}

class EditorTest : public EditorFixture {
 protected:
  void SetUp() override { EditorFixture::SetUp(), OpenOverlay(false); }
  static const RECT& Button(Id id) { return g_toolbarLayout.Button(id); }
  // Steps separated by commas: "drag x0 y0 x1 y1", "press|move|hover|release|click|right x y", a
  // button's name, "ctrl+C" or a bare letter as a key, "Esc", "ctrl+press x y", and for the modal
  // text entry, which takes them from the queue: "type <text>", "post Enter|Back|Esc|C",
  // "post-press x y".
  void Run(const std::wstring& script) {
    std::wistringstream steps(script);
    for (std::wstring step; std::getline(steps, step, L',');) {
      std::wistringstream in(step);
      std::wstring verb, word;
      int x = 0, y = 0, x1 = 0, y1 = 0;
      in >> verb;
      if (verb == L"type" || verb == L"post") std::getline(in >> std::ws, word);
      in >> x >> y >> x1 >> y1;
      const auto button = std::find(std::begin(kButtons), std::end(kButtons), verb);
      const bool ctrl = verb.rfind(L"ctrl+", 0) == 0;
      SetCtrl(ctrl);
      if (verb == L"drag") Drag(x, y, x1, y1);
      const bool press = verb == L"press" || verb == L"click" || verb == L"ctrl+press";
      if (press) Send(WM_LBUTTONDOWN, x, y);
      if (verb == L"move" || verb == L"hover") Move(x, y, verb == L"move");
      if (verb == L"release" || verb == L"click") Send(WM_LBUTTONUP, x, y);
      if (verb == L"right") Send(WM_RBUTTONDOWN, x, y, MK_LBUTTON | MK_RBUTTON);
      if (button != std::end(kButtons)) Click(Id(button - std::begin(kButtons)));
      if (verb.size() == 1 || verb == L"Esc" || (ctrl && verb.size() == 6)) {
        SendMessageW(hwnd_, WM_KEYDOWN, verb == L"Esc" ? VK_ESCAPE : verb.back(), 1);
      }
      SetCtrl(false);
      for (wchar_t c : verb == L"type" ? word : L"") PostMessageW(hwnd_, WM_CHAR, c, 1);
      const WPARAM key = word == L"Enter" ? VK_RETURN : word == L"Back" ? VK_BACK
                         : word == L"Esc" ? VK_ESCAPE : 'C';
      if (verb == L"post") PostMessageW(hwnd_, WM_KEYDOWN, key, 1);
      if (verb == L"post-press") PostMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y));
    }
  }
  // The editor in one line: phase, selection with the pen button's left and the copy button's
  // top, tool, drag mode, the annotations, and what the session was handed.
  void Check(const std::wstring& expected) const {
    const OverlayState& s = g_overlayState;
    std::wstring text = !Alive() ? (s.Result == OverlayResult::Done ? L"done" : L"cancelled")
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
    if (calls_) text += L" | copied " + N(calls_) + L" " + Wide(doneRect_);
    if (calls_) text += result_ && result_->IsRegion(doneRect_) ? L" exactly" : L" wrongly";
    EXPECT_EQ(text, expected);
  }
};

TEST_F(EditorTest, EachGestureLeavesTheEditorAsARuleSays) {
  const std::wstring select = L"drag 100 100 400 300, ", strokes = L"Pen, click 200 200, Line, "
      L"press 150 150, move 160 151, move 180 190, release 180 190, Arrow, drag 150 150 180 190, "
      L"Rect, drag 150 150 180 190";
  const std::wstring sel = L"selected 100,100,400,300 ", lines = L"pen 200,200 w3 | line 150,150 "
      L"180,190 w3 | arrow 150,150 180,190 w3";
  const struct { std::wstring script, summary; } cases[] = {
      // The first drag must be larger than 10 x 10, whichever way round; Ctrl shortcuts wait
      // for it, and a Ctrl+X during it changes nothing.
      {L"click 300 300", L"none 300,300,300,300 none"},
      {L"drag 100 100 110 300", L"none 100,100,110,300 none"},
      {L"drag 100 100 300 110", L"none 100,100,300,110 none"},
      {L"drag 111 111 100 100", L"selected 100,100,111,111 none [123,123]"},
      {L"ctrl+C, ctrl+S, ctrl+D, ctrl+X, press 100 100, move 300 300, ctrl+X",
       L"none 0,0,0,0 none selecting"},
      // Moves and resizes take the toolbar along, unclamped; a top resize leaves the sides.
      {select + L"drag 200 200 250 170", L"selected 150,70,450,270 none [462,282]"},
      {select + L"drag 400 300 500 400", L"selected 100,100,500,400 none [512,412]"},
      {select + L"press 250 100, move 260 90", L"selected 100,90,400,300 none [412,312] mode 3"},
      {select + L"drag 200 200 -100 150", L"selected -200,50,100,250 none [112,262]"},
      // Resized past the opposite edge it stays inverted, and Copy, Save and Upload (keys or
      // buttons), letters without Ctrl and a press between the edges do nothing.
      {select + L"drag 100 200 450 200, drag 406 200 500 200, ctrl+C, ctrl+S, ctrl+D, C, S, D, "
                L"X, Copy, Save, Upload", L"selected 450,100,400,300 none [412,312]"},
      // Esc, a right press during a move and the close button cancel; where the close button
      // overlaps a tool near the right edge, the action wins.
      {select + L"Esc", L"cancelled 100,100,400,300 none"},
      {select + L"press 200 200, right 200 200", L"cancelled 100,100,400,300 none"},
      {select + L"Close", L"cancelled 100,100,400,300 none"},
      {L"drag 1560 100 1571 111, click 1543 130", L"cancelled 1560,100,1571,111 none"},
      // Ctrl+C and the copy button hand the exact region to the session.
      {L"drag 10 10 110 60, ctrl+C", L"done 10,10,110,60 none | copied 1 10,10,110,60 exactly"},
      {L"drag 200 150 500 400, Copy", L"done 200,150,500,400 none | copied 1 200,150,500,400 "
                                      L"exactly"},
      // A tool draws instead of moving, and only the pen samples its way; its button again
      // clears it, and a press inside moves once more.
      {select + L"Pen, press 200 200, move 220 210", sel + L"pen [412,312] mode 10 drawing 2"},
      {select + L"Rect, Rect, drag 200 200 210 220", L"selected 110,120,410,320 none [422,332]"},
      // A pen press without movement is one point; straight tools keep press and release; undo
      // takes the last one, and nothing more once none is left.
      {select + strokes, sel + L"rect [412,312] | " + lines + L" | rect 150,150 180,190 w3"},
      {select + strokes + L", Undo", sel + L"rect [412,312] | " + lines},
      {select + L"Line, drag 120 120 200 120, Undo, Undo, Undo", sel + L"line [412,312]"},
      // Text typed into the entry that a press starts, without control characters, Back taking
      // a whole surrogate pair, committed with Enter at the press point in 22-pixel type, capture
      // taken again; an empty entry adds nothing; a press during an entry starts a nested one
      // that commits first; Esc ends the session; Ctrl+C copies and ends it.
      {select + L"Text, type Grüße\t\x7F €\U0001F600, post Back, post Enter, press 150 150, "
                L"post Back, post Enter, press 150 250", sel + L"text [412,312] | text 150,150 w22 "
                                                          L"Grüße €"},
      {select + L"Text, type a, post-press 200 250, type b, post Enter, type c, post Enter, "
                L"press 150 150", sel + L"text [412,312] | text 200,250 w22 b | text 150,150 w22 "
                                        L"ac"},
      {select + L"Text, type weg, post Esc, press 150 150", L"cancelled 100,100,400,300 text"},
      {select + L"Text, type abc, post C, ctrl+press 150 150",
       L"done 100,100,400,300 text | copied 1 100,100,400,300 exactly"}};
  for (const auto& c : cases) OpenOverlay(false), calls_ = 0, Run(c.script), Check(c.summary);
}

TEST_F(EditorTest, OnlyTheFirstAcceptedSelectionIsRemembered) {
  AppSettings.RememberSelection = true;
  Run(L"drag 100 100 105 300");
  EXPECT_EQ(Str(AppSettings.Selection), "0,0,0,0");
  Run(L"drag 120 130 420 330, drag 200 200 260 260");  // a move is not written
  Settings onDisk;
  EXPECT_TRUE(LoadSettingsFrom(GetSettingsPath(), onDisk) && onDisk.RememberSelection);
  EXPECT_EQ(Str(onDisk.Selection), "120,130,420,330");
}

TEST_F(EditorTest, ToolbarShowsPanelsWhiteIconsTheChosenToolTintedAndALateTooltip) {
  // The pink tint is clearly redder than green; white icons on the grey panel are not.
  auto tinted = [](DWORD p) { return Ch(p, 16) - Ch(p, 8) >= 30; };
  auto light = [](DWORD p) { return Ch(p, 0) > 200 && Ch(p, 8) > 200 && Ch(p, 16) > 200; };
  Run(L"drag 100 100 400 300, Arrow, hover 600 600");  // only being chosen tints
  auto frame = Paint();
  EXPECT_EQ(frame->At(411, 130), 0x323232u) << "the panel between button and edge";
  for (Id i : {Id::Pen, Id::Line, Id::Rectangle, Id::Text, Id::Undo, Id::Copy, Id::Save,
               Id::Upload, Id::Close}) {
    EXPECT_TRUE(frame->Count(Button(i), light) > 10 && !frame->Count(Button(i), tinted)) << int(i);
  }
  EXPECT_GT(frame->Count(Button(Id::Arrow), tinted), 20);
  const RECT& copy = Button(Id::Copy);
  Move(copy.left + 5, copy.top + 5, false);
  const POINT anchor = g_overlayState.TooltipAnchor;
  Move(copy.left + 10, copy.top + 10, false);
  EXPECT_TRUE(g_overlayState.TooltipText == L"Kopieren (Strg+C)" &&
              g_overlayState.TooltipAnchor.x == anchor.x) << "the box stays where it appeared";
  const RECT box = {anchor.x - 50, anchor.y + 23, anchor.x + 50, anchor.y + 42};
  const auto hovered = Paint();
  EXPECT_GT(hovered->Count(copy, tinted), 10) << "the hovered button is pink";
  EXPECT_EQ(hovered->Count(box, light), 0) << "no tooltip within the first 300 ms";
  g_overlayState.TooltipTime = GetTickCount() - 400;
  EXPECT_GT(Paint()->Count(box, light), 20) << "white text";
  Run(L"hover 600 600");
  EXPECT_TRUE(g_overlayState.TooltipText.empty());
}

TEST_F(EditorTest, EachKindIsPaintedAndExportedInTheColourOfItsTimeCutAtTheBorder) {
  const struct { COLORREF color; const wchar_t* strokes; } drawn[] = {
      {kRed, L"Pen, press 120 180, move 140 180, move 140 210, release 140 210"},
      {kBlue, L"Line, drag 150 150 250 150"}, {kGreen, L"Arrow, drag 150 260 250 260"},
      {kGreen, L"click 300 180"},  // an arrow without movement points right
      {RGB(255, 0, 255), L"Rect, drag 350 200 50 250"},  // past the left edge
      {kBlue, L"Text, type Grüße, post Enter, press 150 270"}};
  Run(L"drag 100 100 400 300");
  for (const auto& d : drawn) g_overlayState.CurrentColor = d.color, Run(d.strokes);
  const auto frame = Paint();
  const auto composed = Canvas::Of(ComposeSelection().get());
  const struct { POINT at; COLORREF color; } marks[] = {{{130, 180}, kRed}, {{140, 195}, kRed},
      {{200, 150}, kBlue}, {{200, 260}, kGreen}, {{242, 263}, kGreen},  // inside the head
      {{293, 180}, kGreen}, {{349, 225}, RGB(255, 0, 255)}};
  for (const auto& m : marks) {
    EXPECT_TRUE(frame->At(m.at.x, m.at.y) == Dib(m.color) &&
                composed->At(m.at.x - 100, m.at.y - 100) == Dib(m.color))
        << m.at.x << "," << m.at.y;
  }
  auto count = [](const Canvas& in, const RECT& area, COLORREF c) {
    return in.Count(area, [c](DWORD p) { return p == Dib(c); });
  };
  EXPECT_EQ(count(*frame, {303, 170, 315, 191}, kGreen), 0) << "nothing right of the tip";
  EXPECT_TRUE(count(*frame, {150, 270, 260, 292}, kBlue) > 40 &&
              count(*composed, {50, 170, 160, 192}, kBlue) > 40) << "the text";
  EXPECT_EQ(count(*frame, {150, 292, 260, 299}, kBlue), 0) << "22 pixels high, no more";
  EXPECT_EQ(frame->At(50, 225), Rgb(255, 0, 255)) << "drawn over the darkened area too";
  EXPECT_EQ(frame->At(200, 225), PatternAt(200, 225)) << "a rectangle is hollow";
  EXPECT_EQ(composed->At(0, 100), Rgb(255, 0, 255)) << "the rectangle runs to the edge";
  EXPECT_EQ(composed->At(0, 125), PatternAt(100, 225)) << "its left side is cut off";
}

using ExportTest = EditorFixture;

TEST_F(ExportTest, OffTheScreenIsBlackNoAreaComposesNothingAndPngAndFileHoldOpaquePixels) {
  g_overlayState.SelectionRect = {-20, height_ - 20, 30, height_ + 20};
  const auto edge = Canvas::Of(ComposeSelection().get());
  EXPECT_TRUE(edge->At(19, 19) + edge->At(20, 20) == 0u &&
              edge->At(20, 19) == PatternAt(0, height_ - 1) &&
              edge->At(49, 0) == PatternAt(29, height_ - 20)) << "black left of and below";
  for (RECT none : {RECT{100, 100, 100, 200}, {100, 100, 200, 100}, {150, 100, 100, 200},
                    {100, 250, 200, 200}}) {
    g_overlayState.SelectionRect = none;
    EXPECT_FALSE(ComposeSelection()) << Str(none);
  }
  g_overlayState.SelectionRect = {33, 21, 133, 71};
  const UniqueBitmap composed = ComposeSelection();
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring path = folder + std::to_wstring(GetCurrentProcessId()) + L"-export.png";
  ASSERT_TRUE(SavePngFile(composed.get(), path.c_str()));
  std::ifstream file(path.c_str(), std::ios::binary);
  EXPECT_EQ(std::vector<BYTE>(std::istreambuf_iterator<char>(file), {}),
            EncodePng(composed.get()));
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
  file.close(), image.reset(), DeleteFileW(path.c_str());
  EXPECT_FALSE(SavePngFile(composed.get(), L"C:\\snapwren-no-such-folder\\shot.png"));
}
