// Annotations through the editor's real window procedure: strokes recorded from mouse messages,
// text typed into the modal entry, undo, and the pixels they leave on the overlay and in the
// exported image.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "overlay/annotations.h"
#include "overlay/export.h"
#include "unit/overlay/editor_fixture.h"

namespace {

using testpixels::Canvas;
using testpixels::PatternAt;
using testpixels::Rgb;

bool SamePoint(POINT a, POINT b) { return a.x == b.x && a.y == b.y; }

TEST(ArrowHead, CornersOfAHorizontalArrow) {
  const auto corners = ArrowHeadCorners(POINT{0, 0}, POINT{100, 0});
  EXPECT_TRUE(SamePoint(corners[0], POINT{100, 0}));
  EXPECT_TRUE(SamePoint(corners[1], POINT{90, 5}));
  EXPECT_TRUE(SamePoint(corners[2], POINT{90, -5}));
}

TEST(ArrowHead, ZeroLengthArrowPointsRight) {
  const auto corners = ArrowHeadCorners(POINT{50, 50}, POINT{50, 50});
  EXPECT_TRUE(SamePoint(corners[0], POINT{50, 50}));
  EXPECT_TRUE(SamePoint(corners[1], POINT{40, 55}));
  EXPECT_TRUE(SamePoint(corners[2], POINT{40, 45}));
}

TEST(ArrowHead, BarbsAreTruncatedTowardZeroOnEverySide) {
  // Pointing left: the barbs lie right of the tip, and -10.8 must become -10, not -11.
  const auto left = ArrowHeadCorners(POINT{100, 0}, POINT{0, 0});
  EXPECT_EQ(left[1].x, 10);
  EXPECT_EQ(left[2].x, 10);
  EXPECT_EQ(std::abs(left[1].y), 5);
  // Pointing down.
  const auto down = ArrowHeadCorners(POINT{0, 0}, POINT{0, 100});
  EXPECT_EQ(down[1].y, 90);
  EXPECT_EQ(down[2].y, 90);
}

MSG Message(UINT id, WPARAM wParam) {
  MSG message = {};
  message.message = id;
  message.wParam = wParam;
  return message;
}

TEST(TextEntryKeys, PrintableCharactersAreAppendedControlCharactersAreNot) {
  std::wstring text;
  bool caret = true;
  for (wchar_t c : std::wstring(L"Aä ß€")) ApplyTextEntryMessage(Message(WM_CHAR, c), text, caret);
  for (WPARAM c : {WPARAM{9}, WPARAM{8}, WPARAM{13}, WPARAM{27}, WPARAM{3}, WPARAM{0x7F}}) {
    EXPECT_EQ(ApplyTextEntryMessage(Message(WM_CHAR, c), text, caret), TextEntryStep::Continue);
  }
  EXPECT_EQ(text, L"Aä ß€");
}

TEST(TextEntryKeys, BackspaceRemovesOneCharacterAndNothingWhenEmpty) {
  std::wstring text = L"x\U0001F600";
  bool caret = true;
  ApplyTextEntryMessage(Message(WM_KEYDOWN, VK_BACK), text, caret);
  EXPECT_EQ(text, L"x") << "both halves of a surrogate pair go together";
  ApplyTextEntryMessage(Message(WM_KEYDOWN, VK_BACK), text, caret);
  ApplyTextEntryMessage(Message(WM_KEYDOWN, VK_BACK), text, caret);
  EXPECT_EQ(text, L"");
}

TEST(TextEntryKeys, EnterCommitsEscapeDiscardsTheCaretTimerBlinks) {
  std::wstring text = L"abc";
  bool caret = true;
  EXPECT_EQ(ApplyTextEntryMessage(Message(WM_TIMER, 1), text, caret), TextEntryStep::Continue);
  EXPECT_TRUE(caret) << "another timer does not blink the caret";
  ApplyTextEntryMessage(Message(WM_TIMER, 999), text, caret);
  EXPECT_FALSE(caret);
  ApplyTextEntryMessage(Message(WM_TIMER, 999), text, caret);
  EXPECT_TRUE(caret);
  EXPECT_EQ(ApplyTextEntryMessage(Message(WM_KEYDOWN, VK_RETURN), text, caret),
            TextEntryStep::Commit);
  EXPECT_EQ(text, L"abc");
  EXPECT_EQ(ApplyTextEntryMessage(Message(WM_KEYDOWN, VK_ESCAPE), text, caret),
            TextEntryStep::Discard);
  EXPECT_EQ(text, L"");
}

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kMagenta = RGB(255, 0, 255);

// A 32-bit DIB pixel of a COLORREF.
DWORD Pixel(COLORREF color) { return Rgb(GetRValue(color), GetGValue(color), GetBValue(color)); }

class AnnotationEditorTest : public EditorFixture {
 protected:
  void SetUp() override {
    EditorFixture::SetUp();
    g_overlayState.CurrentColor = kRed;
    g_onSelectionDone = [this](const RECT&) {
      ++callbackCalls_;
      int w = 0;
      int h = 0;
      if (g_overlayState.ResultBitmap) {
        resultPixels_ = testpixels::ReadPixels(g_overlayState.ResultBitmap.get(), &w, &h);
      }
      resultWidth_ = w;
    };
    OpenOverlay(WS_EX_TOOLWINDOW, false);
    Drag(100, 100, 400, 300);
    ASSERT_EQ(g_overlayState.Phase, OverlayPhase::Selected);
  }

  void TearDown() override {
    SetCtrl(false);
    EditorFixture::TearDown();
  }

  void Choose(ToolbarButtonId id) {
    Click(id);
    ASSERT_EQ(g_overlayState.CurrentTool, ToolOfButton(id));
  }
  // Queued for the text entry's own loop to take, as typed keys would be.
  void QueueChars(const std::wstring& text) {
    for (wchar_t c : text) PostMessageW(hwnd_, WM_CHAR, c, 1);
  }
  void QueueKey(WPARAM key) { PostMessageW(hwnd_, WM_KEYDOWN, key, 1); }
  // Pixels of exactly this colour in a rectangle of a frame; the picture never has a channel
  // at 0 or 255, so pure colours can only come from annotations.
  static int CountColor(const Canvas& frame, const RECT& area, COLORREF color) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) count += frame.At(x, y) == Pixel(color);
    }
    return count;
  }
  std::vector<Annotation>& Annotations() { return g_overlayState.Annotations; }

  int callbackCalls_ = 0;
  std::vector<DWORD> resultPixels_;
  int resultWidth_ = 0;
};

TEST_F(AnnotationEditorTest, PenPressWithoutMovementCommitsOnePointThatDrawsNothing) {
  const auto before = Paint();
  Choose(ToolbarButtonId::Pen);
  Press(200, 200);
  Release(200, 200);
  ASSERT_EQ(Annotations().size(), 1u);
  EXPECT_EQ(Annotations()[0].Points.size(), 1u);
  EXPECT_FALSE(g_overlayState.IsDrawing);
  EXPECT_TRUE(g_overlayState.PenPoints.empty());
  const auto after = Paint();
  const RECT around = {190, 190, 211, 211};
  EXPECT_EQ(CountColor(*after, around, kRed), 0);
  EXPECT_EQ(after->At(200, 200), before->At(200, 200));
  Click(ToolbarButtonId::Undo);
  EXPECT_TRUE(Annotations().empty());
}

TEST_F(AnnotationEditorTest, StraightToolsKeepPressAndReleasePointsOnly) {
  for (ToolbarButtonId id :
       {ToolbarButtonId::Line, ToolbarButtonId::Arrow, ToolbarButtonId::Rectangle}) {
    Choose(id);
    Press(150, 150);
    for (int x = 151; x < 180; ++x) Move(x, 150 + x % 3);
    Move(180, 190);
    Release(180, 190);
    Click(id);  // back to no tool, for the next round's button
  }
  ASSERT_EQ(Annotations().size(), 3u);
  for (const Annotation& annotation : Annotations()) {
    ASSERT_EQ(annotation.Points.size(), 2u);
    EXPECT_TRUE(SamePoint(annotation.Points[0], POINT{150, 150}));
    EXPECT_TRUE(SamePoint(annotation.Points[1], POINT{180, 190}));
    EXPECT_EQ(annotation.Width, 3);
  }
  EXPECT_EQ(Annotations()[1].Kind, Tool::Arrow);
}

TEST_F(AnnotationEditorTest, UndoRemovesTheLastAndOnAnEmptyListChangesNothing) {
  Choose(ToolbarButtonId::Line);
  Drag(120, 120, 200, 120);
  Drag(120, 140, 200, 140);
  Click(ToolbarButtonId::Undo);
  ASSERT_EQ(Annotations().size(), 1u);
  EXPECT_EQ(Annotations()[0].Points[0].y, 120);
  Click(ToolbarButtonId::Undo);
  Click(ToolbarButtonId::Undo);
  EXPECT_TRUE(Annotations().empty());
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::Line);
  EXPECT_EQ(g_overlayState.SelectionRect.left, 100);
  EXPECT_EQ(g_overlayState.SelectionRect.bottom, 300);
}

TEST_F(AnnotationEditorTest, EachKindIsPaintedAndExportedCutAtTheBorder) {
  Choose(ToolbarButtonId::Pen);
  Press(120, 180);
  Move(140, 180);
  Move(140, 210);
  Release(140, 210);
  // A colour chosen now is used by later strokes only.
  g_overlayState.CurrentColor = kBlue;
  Choose(ToolbarButtonId::Line);
  Drag(150, 150, 250, 150);
  g_overlayState.CurrentColor = kGreen;
  Choose(ToolbarButtonId::Arrow);
  Drag(150, 260, 250, 260);
  // Reaches past the selection's left edge at x = 100 (the toolbar lies past the right one).
  g_overlayState.CurrentColor = kMagenta;
  Choose(ToolbarButtonId::Rectangle);
  Drag(350, 200, 50, 250);
  ASSERT_EQ(Annotations().size(), 4u);
  EXPECT_EQ(Annotations()[0].Color, kRed);
  EXPECT_EQ(Annotations()[1].Color, kBlue);

  const auto frame = Paint();
  EXPECT_EQ(frame->At(130, 180), Pixel(kRed));
  EXPECT_EQ(frame->At(140, 195), Pixel(kRed));
  EXPECT_EQ(frame->At(200, 150), Pixel(kBlue));
  EXPECT_EQ(frame->At(200, 260), Pixel(kGreen));
  EXPECT_EQ(frame->At(242, 263), Pixel(kGreen)) << "inside the filled head, off the line";
  EXPECT_EQ(frame->At(349, 225), Pixel(kMagenta));
  EXPECT_EQ(frame->At(50, 225), Pixel(kMagenta)) << "drawn over the darkened area too";
  EXPECT_EQ(frame->At(200, 225), PatternAt(200, 225)) << "a rectangle is hollow";

  const UniqueBitmap composed = ComposeSelection();
  ASSERT_TRUE(composed);
  int w = 0;
  int h = 0;
  const std::vector<DWORD> pixels = testpixels::ReadPixels(composed.get(), &w, &h);
  ASSERT_EQ(w, 300);
  ASSERT_EQ(h, 200);
  auto at = [&](int x, int y) {
    return pixels[static_cast<size_t>((y - 100) * w + (x - 100))] & 0xFFFFFFu;
  };
  EXPECT_EQ(at(130, 180), Pixel(kRed));
  EXPECT_EQ(at(200, 150), Pixel(kBlue));
  EXPECT_EQ(at(242, 263), Pixel(kGreen));
  EXPECT_EQ(at(100, 200), Pixel(kMagenta)) << "the rectangle runs to the image's edge";
  EXPECT_EQ(at(100, 225), PatternAt(100, 225)) << "its left side lies outside, cut off";
  EXPECT_EQ(at(200, 225), PatternAt(200, 225));
}

TEST_F(AnnotationEditorTest, ArrowWithoutMovementIsCommittedWithAHeadPointingRight) {
  g_overlayState.CurrentColor = kGreen;
  Choose(ToolbarButtonId::Arrow);
  Press(200, 200);
  Release(200, 200);
  ASSERT_EQ(Annotations().size(), 1u);
  const auto frame = Paint();
  EXPECT_EQ(frame->At(193, 200), Pixel(kGreen));
  EXPECT_EQ(CountColor(*frame, RECT{203, 190, 215, 211}, kGreen), 0) << "nothing right of the tip";
}

TEST_F(AnnotationEditorTest, TypedTextWithUmlautsIsCommittedOnEnterAndDrawn) {
  g_overlayState.CurrentColor = kBlue;
  Choose(ToolbarButtonId::Text);
  QueueChars(L"Grüße €x");
  QueueKey(VK_BACK);
  QueueKey(VK_RETURN);
  Press(150, 150);  // runs the entry until Enter
  ASSERT_TRUE(IsWindow(hwnd_));
  ASSERT_EQ(Annotations().size(), 1u);
  EXPECT_EQ(Annotations()[0].Text, L"Grüße €");
  EXPECT_EQ(Annotations()[0].Width, 22);
  EXPECT_EQ(Annotations()[0].Color, kBlue);
  EXPECT_TRUE(SamePoint(Annotations()[0].Points[0], POINT{150, 150}));
  EXPECT_EQ(GetCapture(), hwnd_) << "capture is taken again";
  const auto frame = Paint();
  EXPECT_GT(CountColor(*frame, RECT{150, 150, 260, 180}, kBlue), 40);
  EXPECT_EQ(CountColor(*frame, RECT{150, 180, 260, 200}, kBlue), 0) << "22 pixels tall, no more";

  // An empty entry ended with Enter adds nothing.
  QueueKey(VK_RETURN);
  Press(150, 250);
  EXPECT_EQ(Annotations().size(), 1u);

  const UniqueBitmap composed = ComposeSelection();
  int w = 0;
  int h = 0;
  const std::vector<DWORD> pixels = testpixels::ReadPixels(composed.get(), &w, &h);
  int blue = 0;
  for (DWORD pixel : pixels) blue += (pixel & 0xFFFFFFu) == Pixel(kBlue);
  EXPECT_GT(blue, 40);
}

TEST_F(AnnotationEditorTest, EscapeDuringTextEntryDiscardsTheTextAndEndsTheSession) {
  Choose(ToolbarButtonId::Text);
  QueueChars(L"weg");
  QueueKey(VK_ESCAPE);
  Press(150, 150);
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_TRUE(Annotations().empty());
  EXPECT_EQ(g_overlayState.Result, OverlayResult::Cancelled);
}

TEST_F(AnnotationEditorTest, CtrlCDuringTextEntryCopiesAndEndsTheEntry) {
  Choose(ToolbarButtonId::Line);
  Drag(120, 120, 200, 120);
  Choose(ToolbarButtonId::Text);
  QueueChars(L"abc");
  QueueKey('C');
  SetCtrl(true);
  Press(150, 150);  // would never return if the entry waited for Enter on a destroyed window
  SetCtrl(false);
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_EQ(g_overlayState.Result, OverlayResult::Done);
  EXPECT_EQ(callbackCalls_, 1);
  EXPECT_EQ(resultWidth_, 300);
  EXPECT_TRUE(g_overlayState.SessionDone);
}

TEST_F(AnnotationEditorTest, APressDuringTextEntryStartsANestedEntryThatCommitsFirst) {
  Choose(ToolbarButtonId::Text);
  QueueChars(L"a");
  PostMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, At(200, 250));
  QueueChars(L"b");
  QueueKey(VK_RETURN);  // ends the inner entry
  QueueChars(L"c");
  QueueKey(VK_RETURN);  // ends the outer one
  Press(150, 150);
  ASSERT_EQ(Annotations().size(), 2u);
  EXPECT_EQ(Annotations()[0].Text, L"b");
  EXPECT_EQ(Annotations()[0].Points[0].y, 250);
  EXPECT_EQ(Annotations()[1].Text, L"ac");
}

}  // namespace
