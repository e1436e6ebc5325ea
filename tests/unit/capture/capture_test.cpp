// Freezing the screen, the crosshair, the clipboard's block, and whole capture sessions on the
// real screen: StartCapture and RunOverlay with their nested loop, driven by a thread timer whose
// steps run inside that loop.
#include <windows.h>
#include <psapi.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/tray.h"
#include "capture/clipboard_dib.h"
#include "capture/crosshair_cursor.h"
#include "capture/screen_capture.h"
#include "unit/overlay/editor_fixture.h"

static bool Bit(const BYTE* plane, int x, int y) { return plane[y * 4 + x / 8] & (0x80 >> x % 8); }

TEST(CrosshairTest, TwoWhiteLinesWithAGapAroundTheHotspotInTheMiddle) {
  const CursorPlanes planes = BuildCrosshairPlanes();
  for (int i = 0; i < 32 * 32; ++i) {
    const int x = i % 32, y = i / 32;
    const bool white = (y == 16 && (x < 14 || x > 17)) || (x == 16 && (y < 14 || y > 17));
    ASSERT_TRUE(Bit(planes.Xor, x, y) == white && Bit(planes.And, x, y) != white) << x << "," << y;
  }
  const UniqueCursor cursor(CreateCrosshairCursor());
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(cursor.get(), &info));
  const UniqueBitmap mask(info.hbmMask), colour(info.hbmColor);
  EXPECT_TRUE(!info.fIcon && info.xHotspot == 16 && info.yHotspot == 16);
}

TEST(ClipboardDibTest, PlainHeaderThenOpaqueRowsBottomUpAndNoBlockWithoutBitmap) {
  DWORD* bits = nullptr;
  const UniqueBitmap picture(MakeDib(30, 20, &bits, true));
  const UniqueGlobal block = CreateClipboardDib(picture.get());
  ASSERT_TRUE(block && GlobalSize(block.get()) >= 40 + 30 * 20 * 4);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(block.get()));
  const BITMAPINFOHEADER expected = {40, 30, 20, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(header, &expected, sizeof expected), 0) << "no field added";
  const auto* pixels = reinterpret_cast<const DWORD*>(header + 1);
  for (int i = 0; i < 30 * 20; ++i) {
    ASSERT_EQ(pixels[i], 0xFF000000u | PatternAt(i % 30, 19 - i / 30)) << i;
  }
  GlobalUnlock(block.get());
  EXPECT_FALSE(CreateClipboardDib(nullptr));
}

static std::wstring ClipboardText() {
  const ClipboardGuard clipboard(nullptr);
  const HANDLE data = GetClipboardData(CF_UNICODETEXT);
  std::wstring text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : L"";
  if (data) GlobalUnlock(data);
  return text;
}

TEST(CopyResultTest, PutsTheResultOnTheClipboardOrKeepsItsContentAndAlwaysFreesIt) {
  const struct { bool busy, deleted, copied; } cases[] = {
      {false, false, true}, {true, false, false}, {false, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.busy ? "busy" : c.deleted ? "deleted" : "free");
    {
      const ClipboardGuard clipboard(nullptr);
      EmptyClipboard();
      UniqueGlobal text(GlobalAlloc(GMEM_MOVEABLE, 14));
      std::memcpy(GlobalLock(text.get()), L"vorher", 14);
      GlobalUnlock(text.get());
      if (SetClipboardData(CF_UNICODETEXT, text.get())) (void)text.release();
    }
    // Held by a window of another thread: Wine lets a second OpenClipboard(NULL) in while the
    // holder also gave NULL, where Windows refuses any second thread.
    const UniqueHandle opened(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder;
    if (c.busy) {
      holder = std::thread([&] {
        const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                 nullptr, nullptr, nullptr));
        const ClipboardGuard clipboard(owner.get());
        SetEvent(opened.get());
        WaitForSingleObject(release.get(), 10000);
      });
      WaitForSingleObject(opened.get(), 5000);
    }
    DWORD* bits = nullptr;
    const HBITMAP result = MakeDib(40, 10, &bits, true);
    if (c.deleted) DeleteObject(result);
    g_overlayState.ResultBitmap.reset(result);
    CopyResultToClipboard();
    SetEvent(release.get());
    if (holder.joinable()) holder.join();
    EXPECT_FALSE(g_overlayState.ResultBitmap || GetObjectType(result)) << "the bitmap is freed";
    EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle) + L"|" + g_trayIconData.szInfo,
              c.copied ? L"Screenshot kopiert!|Bild ist in der Zwischenablage."
                       : L"Fehler|Konnte Bild nicht kopieren.");
    EXPECT_EQ(ClipboardText(), c.copied ? L"" : L"vorher");
    const ClipboardGuard clipboard(nullptr);
    const HANDLE dib = GetClipboardData(CF_DIB);
    EXPECT_EQ(dib != nullptr, c.copied);
    if (!dib) continue;
    // The first pixel after the 40-byte header: the bottom row's first.
    EXPECT_EQ(static_cast<const DWORD*>(GlobalLock(dib))[10], 0xFF000000u | PatternAt(0, 9));
    GlobalUnlock(dib);
  }
  wcscpy_s(g_trayIconData.szInfo, L"unverändert");
  CopyResultToClipboard();
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), L"unverändert") << "no result, no balloon";
}

TEST(ToolImageTest, ResourcesLoadAsTwentyEightPixelImages) {
  const GdiplusSession gdiplus;
  for (int id : {101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 1}) {
    const UniqueGpImage image = LoadPngResource(id);
    UINT width = 0, height = 0;
    gp::GdipGetImageWidth(image.get(), &width);
    gp::GdipGetImageHeight(image.get(), &height);
    EXPECT_EQ(width * 100 + height, id <= 110 && id > 100 ? 2828u : 0u) << id;
  }
}

// A black window with a green mark on the real screen, showing the crosshair when the pointer
// is over it: a cursor of this process, which Wine can draw into a capture.
class ScreenTest : public ::testing::Test {
 protected:
  static LRESULT CALLBACK PatternProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR) {
      SetCursor(g_crosshairCursor.get());
      return TRUE;
    }
    if (message != WM_PAINT) return DefWindowProcW(hwnd, message, wParam, lParam);
    PaintDc paint(hwnd);
    const RECT all = {0, 0, 200, 120}, mark = {10, 10, 30, 20};
    FillRect(paint.get(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    const UniqueBrush green(CreateSolidBrush(RGB(0, 200, 0)));
    FillRect(paint.get(), &mark, green.get());
    return 0;
  }
  void SetUp() override {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = PatternProc;
    windowClass.lpszClassName = L"SnapwrenCaptureTestPattern";
    RegisterClassExW(&windowClass);
    if (!g_crosshairCursor) g_crosshairCursor.reset(CreateCrosshairCursor());
    origin_ = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)};
    window_.reset(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"",
                                  WS_POPUP | WS_VISIBLE, origin_.x + 200, origin_.y + 150, 200,
                                  120, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(window_);
    SetForegroundWindow(window_.get());
    // The crosshair at (300, 220) of the screen: white lines with a gap around the pointer.
    SetCursorPos(origin_.x + 300, origin_.y + 220);
    SetCursor(g_crosshairCursor.get());
  }
  // A capture, once the window shows on the screen.
  std::unique_ptr<Canvas> CaptureWhenShown(bool withCursor) {
    std::unique_ptr<Canvas> shot;
    for (int attempt = 0; attempt < 50; ++attempt) {
      for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
      shot = Canvas::Of(UniqueBitmap(CaptureScreen(withCursor)).get());
      if (shot->At(220, 165) == 0x00C800u) break;
      Sleep(100);
    }
    return shot;
  }
  static void ExpectPointer(const Canvas& shot, bool shown) {
    const DWORD line = shown ? 0xFFFFFFu : 0u;
    for (POINT p : {POINT{295, 220}, {305, 220}, {300, 215}, {300, 235}, {284, 220}}) {
      EXPECT_EQ(shot.At(p.x, p.y), line) << p.x << "," << p.y;
    }
    EXPECT_EQ(shot.At(300, 220) + shot.At(283, 220), 0u) << "the gap and the line's end";
  }

  POINT origin_ = {};
  UniqueWindow window_;
};

TEST_F(ScreenTest, CaptureCoversTheVirtualScreenAtItsOrigin) {
  const auto shot = CaptureWhenShown(false);
  EXPECT_EQ(shot->width(), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(shot->height(), GetSystemMetrics(SM_CYVIRTUALSCREEN));
  EXPECT_EQ(shot->At(220, 165), 0x00C800u) << "the mark, where the window put it";
  EXPECT_EQ(shot->At(209, 165) + shot->At(230, 165) + shot->At(399, 269), 0u);
  const POINT at = CursorDrawPosition({-1000, 300}, {16, 16}, {-1280, 0});
  EXPECT_TRUE(at.x == 264 && at.y == 284) << "the hotspot on the pointer, left of the origin";
}

TEST_F(ScreenTest, PointerIsDrawnWithItsHotspotOnThePointerOnlyWhenAsked) {
  ExpectPointer(*CaptureWhenShown(false), false);
  ExpectPointer(*CaptureWhenShown(true), true);
}

// Each tick of the thread timer runs the next step inside whatever loop is pumping.
static std::vector<std::function<void()>> g_steps;
static size_t g_nextStep = 0;
static void CALLBACK RunNextStep(HWND, UINT, UINT_PTR, DWORD) {
  if (g_nextStep < g_steps.size()) g_steps[g_nextStep++]();
}
static HWND Overlay() { return FindWindowW(L"SnapwrenOverlay", nullptr); }
static void Send(UINT message, int x, int y) {
  SendMessageW(Overlay(), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
}
static void Select(int x0, int y0, int x1, int y1) {
  Send(WM_LBUTTONDOWN, x0, y0);
  Send(WM_MOUSEMOVE, x1, y1);
  Send(WM_LBUTTONUP, x1, y1);
  UpdateWindow(Overlay());
}

class SessionTest : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = OverlayWndProc;
    windowClass.lpszClassName = L"SnapwrenOverlay";
    RegisterClassExW(&windowClass);
    g_instance = GetModuleHandleW(nullptr);
    saved_ = AppSettings;
    AppSettings.RememberSelection = AppSettings.CaptureCursor = false;
    timer_ = SetTimer(nullptr, 0, 50, RunNextStep);
  }
  void TearDown() override {
    KillTimer(nullptr, timer_);
    AppSettings = saved_;
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) {
    }
  }
  // Runs one session; a step left over cancels a session that the steps left open.
  void Session(std::vector<std::function<void()>> steps) {
    g_steps = std::move(steps);
    g_steps.insert(g_steps.end(), 40, [] { SendMessageW(Overlay(), WM_KEYDOWN, VK_ESCAPE, 1); });
    g_nextStep = 0;
    StartCapture();
  }

  Settings saved_;
  UINT_PTR timer_ = 0;
};

TEST_F(SessionTest, OverlayCoversTheScreenOnTopAndCopiesExactlyTheRegion) {
  RECT rect = {};
  LONG_PTR exStyle = 0;
  bool foreground = false;
  int overlays = 0;
  std::unique_ptr<Canvas> frozen;
  Session({[&] {
             GetWindowRect(Overlay(), &rect);
             exStyle = GetWindowLongPtrW(Overlay(), GWL_EXSTYLE);
             foreground = GetForegroundWindow() == Overlay();
             StartCapture();  // a second trigger during the session is refused
             EnumWindows([](HWND hwnd, LPARAM count) {
               wchar_t name[32] = {};
               GetClassNameW(hwnd, name, 32);
               *reinterpret_cast<int*>(count) += std::wstring(name) == L"SnapwrenOverlay";
               return TRUE;
             }, reinterpret_cast<LPARAM>(&overlays));
             frozen = Canvas::Of(g_screenBitmap.get());
           },
           [] {
             Select(10, 10, 110, 60);
             SetCtrl(true);
             SendMessageW(Overlay(), WM_KEYDOWN, 'C', 1);
             SetCtrl(false);
           }});
  EXPECT_EQ(Str(rect), Str({origin_.x, origin_.y, origin_.x + frozen->width(),
                            origin_.y + frozen->height()}));
  EXPECT_EQ(frozen->width(), GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  EXPECT_TRUE(foreground);
  EXPECT_EQ(overlays, 1);
  EXPECT_FALSE(g_capturing || g_screenBitmap || Overlay());
  for (const auto& image : g_toolImages) EXPECT_FALSE(image) << "images freed with the session";
  const ClipboardGuard clipboard(nullptr);
  const HANDLE data = GetClipboardData(CF_DIB);
  ASSERT_NE(data, nullptr);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(data));
  EXPECT_TRUE(header->biWidth == 100 && header->biHeight == 50);
  const auto* pixels = reinterpret_cast<const DWORD*>(header + 1);
  for (int i = 0; i < 100 * 50; ++i) {
    ASSERT_EQ(pixels[i], 0xFF000000u | frozen->At(10 + i % 100, 59 - i / 100)) << i;
  }
  GlobalUnlock(data);
}

TEST_F(SessionTest, QuitRequestDuringTheSessionReachesTheMainLoopAfterwards) {
  bool open = false;
  Session({[] { PostQuitMessage(7); }, [&] { open = Overlay() != nullptr; }});
  EXPECT_TRUE(open) << "the session is not ended by it";
  MSG message = {};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(SessionTest, RememberedSelectionOpensTheSessionSelectedUnlessOffTheScreen) {
  AppSettings.RememberSelection = true;
  for (const RECT& remembered : {RECT{50, 60, 250, 160}, RECT{-400, 60, -100, 160}}) {
    AppSettings.Selection = remembered;
    std::string shown;
    Session({[&] {
      const bool selected = g_overlayState.Phase == OverlayPhase::Selected;
      shown = selected ? Str(g_overlayState.SelectionRect) : "none";
    }});
    EXPECT_EQ(shown, remembered.left > 0 ? "50,60,250,160" : "none");
  }
}

TEST_F(SessionTest, FrozenScreenHoldsThePointerOnlyWhenCaptureCursorIsSet) {
  for (bool withCursor : {true, false}) {
    CaptureWhenShown(false);  // the test window painted again after the last overlay
    AppSettings.CaptureCursor = withCursor;
    SetCursor(g_crosshairCursor.get());
    std::unique_ptr<Canvas> frozen;
    Session({[&] { frozen = Canvas::Of(g_screenBitmap.get()); }});
    ExpectPointer(*frozen, withCursor);
  }
}

TEST_F(SessionTest, MemoryReturnsOnceASessionHasEnded) {
  // The commit charge: Windows reports it in PrivateUsage, Wine 8 only in PagefileUsage.
  auto committed = [] {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
  };
  // Wine keeps a screen's worth for reading the screen once it has done so twice: the
  // platform's, not the session's.
  for (int i = 0; i < 2; ++i) UniqueBitmap warmUp(CaptureScreen(false));
  const SIZE_T start = committed();
  // The frozen screen, its darkened copy and the back buffer are a screen's worth each.
  const SIZE_T half = static_cast<SIZE_T>(GetSystemMetrics(SM_CXVIRTUALSCREEN)) *
                      static_cast<SIZE_T>(GetSystemMetrics(SM_CYVIRTUALSCREEN)) * 2;
  for (int session = 1; session <= 2; ++session) {
    Session({[] {
      Select(100, 100, 700, 500);
      Select(300, 300, 340, 320);  // a move
    }});
    // What a destroyed window leaves behind is finished in the messages that follow.
    for (const ULONGLONG until = GetTickCount64() + 300; GetTickCount64() < until; Sleep(10)) {
      for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
    }
    EXPECT_LT(committed(), start + half) << "after session " << session << ", from " << start;
  }
}
