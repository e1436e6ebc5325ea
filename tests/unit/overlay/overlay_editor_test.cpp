// The editor driven through its real window procedure: an overlay window of the real class over
// a known picture, fed the mouse and key messages a user's actions produce, and judged by its
// state and by the pixels it paints.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/overlay/editor_fixture.h"

namespace {

using testpixels::Canvas;
using testpixels::Darkened;
using testpixels::Near;
using testpixels::PatternAt;
using testpixels::Rgb;

constexpr DWORD kPink = 0xFFB6C1;
constexpr DWORD kWhite = 0xFFFFFF;
constexpr DWORD kBlack = 0x000000;
constexpr DWORD kPanel = 0x323232;

class OverlayEditorTest : public EditorFixture {
 protected:
  void SetUp() override {
    EditorFixture::SetUp();
    g_onSelectionDone = [this](const RECT& rect) {
      ++callbackCalls_;
      callbackRect_ = rect;
      int w = 0;
      int h = 0;
      if (g_overlayState.ResultBitmap) {
        resultPixels_ = testpixels::ReadPixels(g_overlayState.ResultBitmap.get(), &w, &h);
      }
      resultWidth_ = w;
      resultHeight_ = h;
    };
    OpenOverlay(WS_EX_TOOLWINDOW, false);
  }

  void TearDown() override {
    SetCtrl(false);
    EditorFixture::TearDown();
  }

  const RECT& Button(ToolbarButtonId id) const { return g_toolbarLayout.Button(id); }

  int callbackCalls_ = 0;
  RECT callbackRect_ = {};
  std::vector<DWORD> resultPixels_;
  int resultWidth_ = 0;
  int resultHeight_ = 0;
};

TEST_F(OverlayEditorTest, BeforeAnyDragTheWholeScreenIsDarkened) {
  auto frame = Paint();
  for (POINT p : {POINT{0, 0}, POINT{300, 200}, POINT{width_ - 1, height_ - 1}}) {
    EXPECT_TRUE(Near(frame->At(p.x, p.y), Darkened(PatternAt(p.x, p.y)), 1)) << p.x << "," << p.y;
  }
}

TEST_F(OverlayEditorTest, FirstDragShowsItsInsideWithBorderAndSize) {
  Press(100, 100);
  Move(250, 200);
  EXPECT_TRUE(g_overlayState.IsSelecting);
  auto frame = Paint();
  EXPECT_EQ(frame->At(150, 150), PatternAt(150, 150)) << "inside is clear";
  EXPECT_TRUE(Near(frame->At(300, 150), Darkened(PatternAt(300, 150)), 1)) << "outside is dark";
  EXPECT_TRUE(Near(frame->At(50, 50), Darkened(PatternAt(50, 50)), 1));
  EXPECT_EQ(frame->At(100, 150), kPink) << "left border";
  EXPECT_EQ(frame->At(175, 100), kPink) << "top border";
  // The size label "150 x 100" sits 20 pixels above the top edge, white on the dark screen.
  int white = 0;
  for (int y = 80; y < 100; ++y) {
    for (int x = 105; x < 200; ++x) white += frame->At(x, y) == kWhite;
  }
  EXPECT_GT(white, 30);
  EXPECT_EQ(g_overlayState.Phase, OverlayPhase::NoSelection);

  // Drawn up and to the left: the same rectangle.
  Move(40, 30);
  auto reversed = Paint();
  EXPECT_EQ(reversed->At(70, 60), PatternAt(70, 60));
  EXPECT_TRUE(Near(reversed->At(150, 150), Darkened(PatternAt(150, 150)), 1));
}

TEST_F(OverlayEditorTest, ZeroWidthDragShowsEverythingDarkened) {
  Press(100, 100);
  Move(100, 300);
  auto frame = Paint();
  EXPECT_TRUE(Near(frame->At(100, 200), Darkened(PatternAt(100, 200)), 1));
  EXPECT_TRUE(Near(frame->At(99, 200), Darkened(PatternAt(99, 200)), 1));
}

TEST_F(OverlayEditorTest, SmallDragsAreRefusedAndElevenByElevenAccepted) {
  Click(300, 300);
  EXPECT_EQ(g_overlayState.Phase, OverlayPhase::NoSelection);
  EXPECT_FALSE(g_overlayState.IsSelecting);

  Drag(100, 100, 110, 300);
  EXPECT_EQ(g_overlayState.Phase, OverlayPhase::NoSelection) << "10 x 200 is too narrow";
  Drag(100, 100, 300, 110);
  EXPECT_EQ(g_overlayState.Phase, OverlayPhase::NoSelection) << "200 x 10 is too low";

  Drag(111, 111, 100, 100);
  ASSERT_EQ(g_overlayState.Phase, OverlayPhase::Selected);
  const RECT& rect = g_overlayState.SelectionRect;
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.top, 100);
  EXPECT_EQ(rect.right, 111);
  EXPECT_EQ(rect.bottom, 111);
}

TEST_F(OverlayEditorTest, SelectionPaintsHandlesAndBothToolbarPanels) {
  Drag(100, 100, 400, 300);
  ASSERT_EQ(g_overlayState.Phase, OverlayPhase::Selected);
  auto frame = Paint();
  EXPECT_EQ(frame->At(250, 200), PatternAt(250, 200));
  EXPECT_TRUE(Near(frame->At(600, 600), Darkened(PatternAt(600, 600)), 1));
  // Handle 7 at (250, 300): white with a black frame.
  EXPECT_EQ(frame->At(250, 299), kWhite);
  EXPECT_EQ(frame->At(246, 296), kBlack);
  EXPECT_EQ(frame->At(253, 303), kBlack);
  // The tool column at x 412-440 from y 100, the action row at y 312-340 ending at x 400.
  EXPECT_EQ(frame->At(411, 130), kPanel) << "tool panel, between button and edge";
  EXPECT_EQ(frame->At(426, 129), kPanel) << "gap between Stift and Linie";
  EXPECT_EQ(frame->At(340, 326), kPanel) << "gap between Speichern and Hochladen";
  // The colour swatch is the current colour, red, framed in black.
  EXPECT_EQ(frame->At(426, 294), Rgb(255, 0, 0));
  EXPECT_EQ(frame->At(412, 294), kBlack);
  // Every icon draws something white on the panel.
  for (const ToolbarButtonId id :
       {ToolbarButtonId::Pen, ToolbarButtonId::Line, ToolbarButtonId::Arrow,
        ToolbarButtonId::Rectangle, ToolbarButtonId::Text, ToolbarButtonId::Undo,
        ToolbarButtonId::Copy, ToolbarButtonId::Save, ToolbarButtonId::Upload,
        ToolbarButtonId::Close}) {
    const RECT& button = Button(id);
    int light = 0;
    for (int y = button.top + 4; y < button.bottom - 4; ++y) {
      for (int x = button.left + 4; x < button.right - 4; ++x) {
        light += testpixels::Red(frame->At(x, y)) > 200 && testpixels::Blue(frame->At(x, y)) > 200;
      }
    }
    EXPECT_GT(light, 10) << static_cast<int>(id);
  }
}

TEST_F(OverlayEditorTest, HoverTintsTheIconAndShowsTheTooltipAfterADelay) {
  Drag(100, 100, 400, 300);
  const RECT& copy = Button(ToolbarButtonId::Copy);
  Move(copy.left + 5, copy.top + 5, false);
  EXPECT_EQ(g_overlayState.TooltipText, L"Kopieren (Strg+C)");
  const POINT anchor = g_overlayState.TooltipAnchor;
  Move(copy.left + 10, copy.top + 10, false);
  EXPECT_EQ(g_overlayState.TooltipAnchor.x, anchor.x) << "the box stays where it appeared";

  auto fresh = Paint();
  int pinkIcon = 0;
  int tooltip = 0;
  for (int y = copy.top; y < copy.bottom; ++y) {
    for (int x = copy.left; x < copy.right; ++x) pinkIcon += Near(fresh->At(x, y), kPink, 8);
  }
  EXPECT_GT(pinkIcon, 10) << "hovered icon is pink";
  auto light = [](DWORD pixel) {
    return testpixels::Red(pixel) > 200 && testpixels::Green(pixel) > 200 &&
           testpixels::Blue(pixel) > 200;
  };
  for (int y = anchor.y + 23; y < anchor.y + 42; ++y) {
    for (int x = anchor.x - 50; x < anchor.x + 50; ++x) tooltip += light(fresh->At(x, y));
  }
  EXPECT_EQ(tooltip, 0) << "no tooltip within the first 300 ms";

  g_overlayState.TooltipTime = GetTickCount() - 400;
  auto later = Paint();
  int box = 0;
  for (int y = anchor.y + 23; y < anchor.y + 42; ++y) {
    for (int x = anchor.x - 50; x < anchor.x + 50; ++x) {
      tooltip += light(later->At(x, y));
      box += Near(later->At(x, y), Rgb(40, 40, 40), 12);
    }
  }
  EXPECT_GT(tooltip, 20) << "white tooltip text";
  EXPECT_GT(box, 200) << "dark tooltip box";

  Move(600, 600, false);
  EXPECT_TRUE(g_overlayState.TooltipText.empty());
}

TEST_F(OverlayEditorTest, ToolButtonsToggleAndTheChosenOneIsTinted) {
  Drag(100, 100, 400, 300);
  Click(Button(ToolbarButtonId::Arrow));
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::Arrow);
  Move(600, 600, false);  // hover elsewhere: only being chosen tints it
  auto frame = Paint();
  // Tinted pixels are clearly redder than green; the white icons on grey are not.
  auto tinted = [&](const RECT& button) {
    int count = 0;
    for (int y = button.top; y < button.bottom; ++y) {
      for (int x = button.left; x < button.right; ++x) {
        const DWORD pixel = frame->At(x, y);
        count += testpixels::Red(pixel) - testpixels::Green(pixel) >= 30;
      }
    }
    return count;
  };
  EXPECT_GT(tinted(Button(ToolbarButtonId::Arrow)), 20);
  EXPECT_EQ(tinted(Button(ToolbarButtonId::Line)), 0);

  Click(Button(ToolbarButtonId::Pen));
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::Pen);
  // With a tool chosen, a press inside draws instead of moving.
  Press(200, 200);
  EXPECT_EQ(g_overlayState.DragMode, DragMode::Draw);
  EXPECT_TRUE(g_overlayState.IsDrawing);
  Move(220, 210);
  EXPECT_EQ(g_overlayState.PenPoints.size(), 2u);
  Release(220, 210);
  EXPECT_EQ(g_overlayState.DragMode, DragMode::None);
  EXPECT_EQ(g_overlayState.SelectionRect.left, 100) << "the selection did not move";

  // Two quick clicks are two presses: the first chooses, the second clears, and a drag inside
  // moves the selection again.
  Click(Button(ToolbarButtonId::Rectangle));
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::Rectangle);
  Click(Button(ToolbarButtonId::Rectangle));
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::None);
  Drag(200, 200, 210, 220);
  EXPECT_EQ(g_overlayState.SelectionRect.left, 110);
}

TEST_F(OverlayEditorTest, MovingAndResizingTakeTheToolbarAlong) {
  Drag(100, 100, 400, 300);
  Drag(200, 200, 250, 170);  // inside: a move by (50, -30)
  RECT rect = g_overlayState.SelectionRect;
  EXPECT_EQ(rect.left, 150);
  EXPECT_EQ(rect.top, 70);
  EXPECT_EQ(rect.right, 450);
  EXPECT_EQ(rect.bottom, 270);
  EXPECT_EQ(Button(ToolbarButtonId::Close).right, 450);
  EXPECT_EQ(Button(ToolbarButtonId::Pen).left, 462);

  Drag(450, 270, 500, 400);  // bottom-right handle
  rect = g_overlayState.SelectionRect;
  EXPECT_EQ(rect.left, 150);
  EXPECT_EQ(rect.right, 500);
  EXPECT_EQ(rect.bottom, 400);
  EXPECT_EQ(Button(ToolbarButtonId::Copy).top, 412);

  Press(325, 70);  // top-middle handle: (150 + 500) / 2
  EXPECT_EQ(g_overlayState.DragMode, DragMode::Top);
  Move(335, 60);
  EXPECT_EQ(g_overlayState.SelectionRect.top, 60);
  EXPECT_EQ(g_overlayState.SelectionRect.left, 150) << "a top resize leaves the sides";
  Release(335, 60);
  EXPECT_EQ(g_overlayState.DragMode, DragMode::None);

  // Moved partly off the screen: allowed, never clamped.
  Drag(200, 200, -100, 150);
  EXPECT_EQ(g_overlayState.SelectionRect.left, -150);
  auto frame = Paint();
  EXPECT_EQ(frame->At(10, 200), PatternAt(10, 200));
}

TEST_F(OverlayEditorTest, NegativeWidthPaintsDarkAndExportsNothing) {
  Drag(100, 100, 400, 300);
  Drag(100, 200, 450, 200);  // the left handle past the right edge
  const RECT rect = g_overlayState.SelectionRect;
  EXPECT_EQ(rect.left, 450);
  EXPECT_EQ(rect.right, 400);
  auto frame = Paint();
  EXPECT_TRUE(Near(frame->At(250, 200), Darkened(PatternAt(250, 200)), 1));
  EXPECT_TRUE(Near(frame->At(406, 150), Darkened(PatternAt(406, 150)), 1));
  EXPECT_EQ(frame->At(400, 100), kWhite) << "handles are still painted";

  // A press between the two edges finds nothing to move.
  Drag(408, 200, 500, 200);
  EXPECT_EQ(g_overlayState.SelectionRect.left, 450);

  Key('C', true);
  Key('S', true);
  Key('D', true);
  EXPECT_TRUE(Alive());
  Click(Button(ToolbarButtonId::Copy));
  Click(Button(ToolbarButtonId::Save));
  Click(Button(ToolbarButtonId::Upload));
  EXPECT_TRUE(Alive()) << "Copy, Save and Upload do nothing without an area";
  EXPECT_EQ(callbackCalls_, 0);
}

TEST_F(OverlayEditorTest, CtrlShortcutsDoNothingBeforeASelection) {
  for (WPARAM key : {WPARAM{'C'}, WPARAM{'S'}, WPARAM{'D'}, WPARAM{'X'}}) Key(key, true);
  Press(100, 100);
  Move(300, 300);
  Key('X', true);
  EXPECT_TRUE(Alive());
  EXPECT_TRUE(g_overlayState.IsSelecting) << "the drag goes on";
  Key(VK_ESCAPE, false);
  EXPECT_FALSE(Alive());
  EXPECT_TRUE(g_overlayState.SessionDone);
  EXPECT_EQ(g_overlayState.Result, OverlayResult::Cancelled);
}

TEST_F(OverlayEditorTest, LettersWithoutCtrlDoNothing) {
  Drag(100, 100, 400, 300);
  Key('C', false);
  Key('X', false);
  EXPECT_TRUE(Alive());
}

TEST_F(OverlayEditorTest, RightPressCancelsInTheMiddleOfADrag) {
  Drag(100, 100, 400, 300);
  Press(200, 200);
  Move(230, 230);
  EXPECT_EQ(g_overlayState.DragMode, DragMode::Move);
  SendMessageW(hwnd_, WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, At(230, 230));
  EXPECT_FALSE(Alive());
  EXPECT_EQ(g_overlayState.Result, OverlayResult::Cancelled);
  EXPECT_EQ(callbackCalls_, 0);
}

TEST_F(OverlayEditorTest, CloseButtonCancels) {
  Drag(100, 100, 400, 300);
  Click(Button(ToolbarButtonId::Close));
  EXPECT_FALSE(Alive());
  EXPECT_EQ(g_overlayState.Result, OverlayResult::Cancelled);
  EXPECT_EQ(callbackCalls_, 0);
}

TEST_F(OverlayEditorTest, ActionButtonWinsWhereItOverlapsATool) {
  // Near the right edge the tool column flips onto the action row; "Linie" overlaps
  // "Schließen (Strg+X)", and the action is tested first.
  const int right = width_ - 29;
  Drag(right - 11, 100, right, 111);
  ASSERT_EQ(g_overlayState.Phase, OverlayPhase::Selected);
  const RECT& close = Button(ToolbarButtonId::Close);
  const RECT& line = Button(ToolbarButtonId::Line);
  RECT both = {};
  ASSERT_TRUE(IntersectRect(&both, &close, &line));
  Click(both.left, both.top);
  EXPECT_FALSE(Alive());
  EXPECT_EQ(g_overlayState.CurrentTool, Tool::None);
}

TEST_F(OverlayEditorTest, CtrlCHandsTheExactRegionToTheSession) {
  Drag(10, 10, 110, 60);
  Key('C', true);
  EXPECT_FALSE(Alive());
  EXPECT_EQ(g_overlayState.Result, OverlayResult::Done);
  ASSERT_EQ(callbackCalls_, 1);
  EXPECT_EQ(callbackRect_.left, 10);
  EXPECT_EQ(callbackRect_.bottom, 60);
  ASSERT_EQ(resultWidth_, 100);
  ASSERT_EQ(resultHeight_, 50);
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 100; ++x) {
      ASSERT_EQ(resultPixels_[static_cast<size_t>(y * 100 + x)] & 0xFFFFFFu,
                PatternAt(10 + x, 10 + y))
          << x << "," << y;
    }
  }
}

TEST_F(OverlayEditorTest, CopyButtonDoesTheSame) {
  Drag(200, 150, 500, 400);
  Click(Button(ToolbarButtonId::Copy));
  EXPECT_FALSE(Alive());
  ASSERT_EQ(callbackCalls_, 1);
  EXPECT_EQ(resultWidth_, 300);
  EXPECT_EQ(resultPixels_[0] & 0xFFFFFFu, PatternAt(200, 150));
}

TEST_F(OverlayEditorTest, WmPaintPutsTheFrameOnTheScreen) {
  Drag(100, 100, 400, 300);
  SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  UpdateWindow(hwnd_);
  auto expected = Paint();
  WindowDc screen(nullptr);
  const int x0 = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int y0 = GetSystemMetrics(SM_YVIRTUALSCREEN);
  for (POINT p : {POINT{250, 200}, POINT{600, 600}, POINT{250, 299}, POINT{426, 294}}) {
    const COLORREF shown = GetPixel(screen.get(), x0 + p.x, y0 + p.y);
    const DWORD asDib = Rgb(GetRValue(shown), GetGValue(shown), GetBValue(shown));
    EXPECT_EQ(asDib, expected->At(p.x, p.y)) << p.x << "," << p.y;
  }
}

TEST_F(OverlayEditorTest, RememberSelectionWritesTheFirstAcceptedRectangleOnly) {
  const std::wstring path = GetSettingsPath();
  const Settings saved = AppSettings;
  AppSettings.RememberSelection = true;
  AppSettings.Selection = RECT{0, 0, 0, 0};
  Drag(100, 100, 105, 300);
  EXPECT_EQ(AppSettings.Selection.right, 0) << "a refused drag is not remembered";
  Drag(120, 130, 420, 330);
  Settings onDisk;
  ASSERT_TRUE(LoadSettingsFrom(path, onDisk));
  EXPECT_EQ(onDisk.Selection.left, 120);
  EXPECT_EQ(onDisk.Selection.bottom, 330);
  EXPECT_TRUE(onDisk.RememberSelection);
  Drag(200, 200, 260, 260);  // a move is not written
  ASSERT_TRUE(LoadSettingsFrom(path, onDisk));
  EXPECT_EQ(onDisk.Selection.left, 120);
  DeleteFileW(path.c_str());
  AppSettings = saved;
}

}  // namespace
