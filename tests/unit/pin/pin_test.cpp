#include "app/window_proc.h"
#include "overlay/overlay_paint.h"
#include "pin/pin_window.h"
#include "unit/support.h"

TEST(PinGeometryTest, ZoomAndOpacityStepOnTheTenGridWithinTheirRanges) {
  const struct { int from, steps, zoom, opacity; } cases[] = {
      {100, 1, 110, 100}, {100, -1, 90, 90},  {100, -8, 25, 20},  {30, -1, 25, 20},
      {25, -1, 25, 20},   {25, 1, 30, 30},    {20, 1, 30, 30},    {395, 1, 400, 100},
      {400, 1, 400, 100}, {400, -1, 390, 100}, {100, 40, 400, 100}, {100, 0, 100, 100}};
  for (const auto& c : cases) {
    EXPECT_EQ(StepZoom(c.from, c.steps), c.zoom) << c.from << " " << c.steps;
    EXPECT_EQ(StepOpacity(c.from, c.steps), c.opacity) << c.from << " " << c.steps;
  }
  EXPECT_EQ(OpacityAlpha(20), 51);
  EXPECT_EQ(OpacityAlpha(100), 255);
}

TEST(PinGeometryTest, AFineWheelZoomsOnceItsDeltasMakeANotch) {
  int remainder = 0;
  const struct { int delta, notches; } turns[] = {{120, 1}, {40, 0},   {40, 0},  {40, 1},
                                                  {-240, -2}, {-60, 0}, {30, 0}, {-90, -1}};
  for (const auto& t : turns) EXPECT_EQ(WheelNotches(remainder, t.delta), t.notches) << t.delta;
}

TEST(PinGeometryTest, ThePicturePointUnderThePointerStaysThere) {
  const struct { RECT picture; POINT pointer; SIZE image; int zoom; const char* expected; } cases[] = {
      {{450, 300, 850, 600}, {650, 450}, {400, 300}, 110, "430,285,870,615"},
      {{430, 285, 870, 615}, {650, 450}, {400, 300}, 100, "450,300,850,600"},
      {{450, 300, 850, 600}, {450, 300}, {400, 300}, 200, "450,300,1250,900"},
      {{450, 300, 850, 600}, {850, 600}, {400, 300}, 50, "650,450,850,600"},
      {{-500, -20, -100, 280}, {-300, 130}, {400, 300}, 25, "-350,92,-250,167"},
      {{10, 10, 13, 11}, {10, 10}, {3, 1}, 25, "10,10,11,11"}};  // never less than a pixel
  for (const auto& c : cases) {
    EXPECT_EQ(Str(ZoomAbout(c.picture, c.pointer, c.image, c.zoom)), c.expected) << c.zoom;
  }
}

class PinTest : public ::testing::Test {
 protected:
  void TearDown() override { CloseAllPins(), SetKeys(false); }
  HWND Make(POINT place, int width, int height) {
    DWORD* bits = nullptr;
    return CreatePin(GetModuleHandleW(nullptr), UniqueBitmap(MakeDib(width, height, &bits, true)),
                     place);
  }
  static std::string Rect(HWND hwnd) {
    RECT rect = {};
    return GetWindowRect(hwnd, &rect), Str(rect);
  }
  static const Pin& State(HWND hwnd) {
    return *reinterpret_cast<const Pin*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
};

TEST_F(PinTest, ShowsEveryPixelOnceAtFullSizeAndAsSharpBlocksLargerInsideTheSelectionsFrame) {
  // The window the user goes back to keeps the focus when the pin appears.
  const UniqueWindow front(CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                           nullptr, nullptr, nullptr, nullptr));
  SetForegroundWindow(front.get());
  const HWND pin = Make({100, 80}, 40, 30);
  ASSERT_TRUE(pin);
  EXPECT_EQ(GetForegroundWindow(), front.get());
  EXPECT_EQ(Rect(pin), "99,79,141,111") << "the picture exactly at its place";
  const LONG_PTR style = GetWindowLongPtrW(pin, GWL_EXSTYLE);
  EXPECT_EQ(style & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  for (const int scale : {1, 2}) {
    Canvas frame(40 * scale + 2, 30 * scale + 2);
    PaintPin(frame.dc.get(), State(pin), frame.width, frame.height);
    int wrong = 0;
    for (int y = 0; y < 30 * scale; ++y) {
      for (int x = 0; x < 40 * scale; ++x) wrong += frame.At(x + 1, y + 1) != PatternAt(x / scale, y / scale);
    }
    EXPECT_EQ(wrong, 0) << scale;
    EXPECT_EQ(frame.Count({0, 0, frame.width, frame.height},
                          [](DWORD p) { return p == Dib(kSelectionColor); }),
              2 * (frame.width + frame.height) - 4) << scale;
  }
}

TEST_F(PinTest, WheelZoomsAboutThePointerCtrlWheelFadesZeroAndMiddleResetEscCloses) {
  const HWND pin = Make({100, 80}, 400, 300);
  const auto wheel = [&](int notches, WPARAM keys, int x, int y) {
    SendMessageW(pin, WM_MOUSEWHEEL, MAKEWPARAM(keys, notches * WHEEL_DELTA), MAKELPARAM(x, y));
  };
  wheel(1, 0, 300, 230);  // the picture's middle, 110 %
  EXPECT_EQ(Rect(pin), "79,64,521,396");
  wheel(-3, MK_CONTROL, 300, 230);
  BYTE alpha = 0;
  DWORD flags = 0;
  EXPECT_TRUE(GetLayeredWindowAttributes(pin, nullptr, &alpha, &flags));
  EXPECT_EQ(alpha, OpacityAlpha(70));
  EXPECT_EQ(Rect(pin), "79,64,521,396") << "the opacity leaves the size";
  SendMessageW(pin, WM_KEYDOWN, '0', 1);
  EXPECT_EQ(Rect(pin), "79,64,481,366") << "100 % with its top-left corner kept";
  wheel(-2, 0, 80, 65);
  SendMessageW(pin, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(0, 0));
  EXPECT_EQ(Rect(pin), "79,64,481,366");
  // The drag is tested on the desktop only: Wine fills a posted message's pointer position from
  // a cursor that its X events set behind SetCursorPos's back.
  SendMessageW(pin, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_FALSE(IsWindow(pin));
  const HWND second = Make({0, 0}, 20, 20);
  SendMessageW(second, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_FALSE(IsWindow(second));
}

TEST_F(PinTest, ClosingThemAllFreesEveryPicture) {
  const HBITMAP pictures[] = {State(Make({10, 10}, 80, 50)).Picture.get(),
                              State(Make({10, 10}, 80, 50)).Picture.get()};
  CloseAllPins();
  EXPECT_EQ(FindThreadWindow(L"SnapwrenPin"), nullptr);
  for (const HBITMAP made : pictures) EXPECT_EQ(GetObjectType(made), 0u);
}
