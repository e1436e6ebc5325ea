// Putting a result on the clipboard, and whole capture sessions on the real screen: StartCapture
// and RunOverlay with their nested loop, driven by a thread timer whose steps run inside it.
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

TEST(CopyResultTest, PutsTheResultOnTheClipboardOrKeepsItsContentAndAlwaysFreesIt) {
  const struct { bool busy, deleted; const wchar_t* balloon; } cases[] = {
      {false, false, L"Screenshot kopiert!|Bild ist in der Zwischenablage."},
      {true, false, L"Fehler|Konnte Bild nicht kopieren."},
      {false, true, L"Fehler|Konnte Bild nicht kopieren."}};
  for (const auto& c : cases) {
    {
      const ClipboardGuard clipboard(nullptr);
      EmptyClipboard();
      HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 14);
      std::memcpy(GlobalLock(text), L"vorher", 14);
      GlobalUnlock(text);
      SetClipboardData(CF_UNICODETEXT, text);
    }
    // Held by a window of another thread: Wine lets a second OpenClipboard(NULL) in while the
    // holder also gave NULL, where Windows refuses any second thread.
    const UniqueHandle opened(CreateEventW(nullptr, TRUE, !c.busy, nullptr));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
      if (!c.busy) return;
      const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                               nullptr, nullptr, nullptr));
      const ClipboardGuard clipboard(owner.get());
      SetEvent(opened.get());
      WaitForSingleObject(release.get(), 10000);
    });
    WaitForSingleObject(opened.get(), 5000);
    DWORD* bits = nullptr;
    const HBITMAP result = MakeDib(40, 10, &bits, true);
    if (c.deleted) DeleteObject(result);
    g_overlayState.ResultBitmap.reset(result);
    CopyResultToClipboard();
    SetEvent(release.get());
    holder.join();
    EXPECT_FALSE(g_overlayState.ResultBitmap || GetObjectType(result)) << "the bitmap is freed";
    EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle) + L"|" + g_trayIconData.szInfo, c.balloon);
    const ClipboardGuard clipboard(nullptr);
    const HANDLE text = GetClipboardData(CF_UNICODETEXT), dib = GetClipboardData(CF_DIB);
    const std::wstring shown = text ? static_cast<const wchar_t*>(GlobalLock(text)) : L"-";
    EXPECT_EQ(shown, dib ? L"-" : L"vorher");
    // The first pixel after the 40-byte header: the bottom row's first.
    const DWORD first = dib ? static_cast<const DWORD*>(GlobalLock(dib))[10] : 0;
    EXPECT_EQ(first, dib ? 0xFF000000u | PatternAt(0, 9) : 0u);
    GlobalUnlock(text), GlobalUnlock(dib);
  }
  EXPECT_FALSE(CreateClipboardDib(nullptr));
  wcscpy_s(g_trayIconData.szInfo, L"unverändert");
  CopyResultToClipboard();
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), L"unverändert") << "no result, no balloon";
}

// Each tick of the thread timer runs the next step inside whatever loop is pumping.
static std::vector<std::function<void()>> g_steps;
static size_t g_nextStep = 0;
static void CALLBACK RunNextStep(HWND, UINT, UINT_PTR, DWORD) {
  if (g_nextStep < g_steps.size()) g_steps[g_nextStep++]();
}
static HWND Overlay() { return FindWindowW(L"SnapwrenOverlay", nullptr); }
static void Select(int x0, int y0, int x1, int y1) {
  SendMessageW(Overlay(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y0));
  SendMessageW(Overlay(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x1, y1));
  SendMessageW(Overlay(), WM_LBUTTONUP, 0, MAKELPARAM(x1, y1));
  UpdateWindow(Overlay());
}

// A green window at (200, 150) of the screen with the pointer over it at (300, 220), showing the
// crosshair: a cursor of this process, which Wine can draw into a capture.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterOverlayClass();
    g_instance = GetModuleHandleW(nullptr);
    if (!g_crosshairCursor) g_crosshairCursor.reset(CreateCrosshairCursor());
    static const UniqueBrush green(CreateSolidBrush(RGB(0, 200, 0)));
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hCursor = g_crosshairCursor.get();
    windowClass.hbrBackground = green.get();
    windowClass.lpszClassName = L"SnapwrenCaptureTestWindow";
    RegisterClassExW(&windowClass);
    window_.reset(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, windowClass.lpszClassName,
                                  L"", WS_POPUP | WS_VISIBLE, origin_.x + 200, origin_.y + 150,
                                  200, 120, nullptr, nullptr, nullptr, nullptr));
    SetForegroundWindow(window_.get());
    SetCursorPos(origin_.x + 300, origin_.y + 220);
    AppSettings.RememberSelection = AppSettings.CaptureCursor = false;
    timer_ = SetTimer(nullptr, 0, 50, RunNextStep);
  }
  void TearDown() override {
    KillTimer(nullptr, timer_);
    AppSettings = saved_;
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) {
    }
  }
  // Runs one session once the window shows again; steps left over cancel a session left open.
  void Session(std::vector<std::function<void()>> steps) {
    for (int i = 0; i < 50 && Canvas::Of(UniqueBitmap(CaptureScreen(false)).get())->At(200, 150) !=
                                  0x00C800u; ++i) {
      for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
      Sleep(100);
    }
    SetCursor(g_crosshairCursor.get());
    g_steps = std::move(steps);
    g_steps.insert(g_steps.end(), 40, [] { SendMessageW(Overlay(), WM_KEYDOWN, VK_ESCAPE, 1); });
    g_nextStep = 0;
    StartCapture();
  }

  const POINT origin_ = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)};
  const Settings saved_ = AppSettings;
  UniqueWindow window_;
  UINT_PTR timer_ = 0;
};

TEST_F(SessionTest, OverlayCoversTheScreenOnTopAndCopiesExactlyTheRegion) {
  RECT rect = {};
  LONG_PTR exStyle = 0;
  bool foreground = false, secondRefused = false;
  std::unique_ptr<Canvas> frozen;
  Session({[&] {
             GetWindowRect(Overlay(), &rect);
             exStyle = GetWindowLongPtrW(Overlay(), GWL_EXSTYLE);
             foreground = GetForegroundWindow() == Overlay();
             frozen = Canvas::Of(g_screenBitmap.get());
             const HBITMAP screen = g_screenBitmap.get();
             StartCapture();  // a second trigger during the session returns at once
             secondRefused = g_screenBitmap.get() == screen && Overlay();
           },
           [] {
             Select(10, 10, 110, 60);
             SetCtrl(true);
             SendMessageW(Overlay(), WM_KEYDOWN, 'C', 1);
             SetCtrl(false);
           }});
  EXPECT_EQ(Str(rect), Str({origin_.x, origin_.y, origin_.x + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                            origin_.y + GetSystemMetrics(SM_CYVIRTUALSCREEN)}));
  EXPECT_EQ(exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  EXPECT_TRUE(foreground && secondRefused);
  EXPECT_FALSE(g_capturing || g_screenBitmap || Overlay()) << "nothing of it is held";
  for (const auto& image : g_toolImages) EXPECT_FALSE(image) << "images freed with the session";
  const ClipboardGuard clipboard(nullptr);
  // The plain header of a bottom-up 32-bit picture, then opaque rows from the bottom up.
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(GetClipboardData(CF_DIB)));
  const BITMAPINFOHEADER expected = {40, 100, 50, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  ASSERT_TRUE(header && std::memcmp(header, &expected, sizeof expected) == 0);
  const auto* pixels = reinterpret_cast<const DWORD*>(header + 1);
  for (int i = 0; i < 100 * 50; ++i) {
    ASSERT_EQ(pixels[i], 0xFF000000u | frozen->At(10 + i % 100, 59 - i / 100)) << i;
  }
  GlobalUnlock(GetClipboardData(CF_DIB));
}

TEST_F(SessionTest, FrozenScreenIsTheVirtualScreenWithThePointerOnlyWhenCaptureCursorIsSet) {
  for (bool withCursor : {true, false}) {
    AppSettings.CaptureCursor = withCursor;
    std::unique_ptr<Canvas> frozen;
    Session({[&] { frozen = Canvas::Of(g_screenBitmap.get()); }});
    ASSERT_EQ(frozen->width() * 10000 + frozen->height(),
              GetSystemMetrics(SM_CXVIRTUALSCREEN) * 10000 + GetSystemMetrics(SM_CYVIRTUALSCREEN));
    EXPECT_TRUE(frozen->At(200, 150) == 0x00C800u && frozen->At(199, 149) != 0x00C800u);
    // The crosshair with its hotspot on the pointer at (300, 220): two white lines of 32 with
    // a gap of four around the hotspot, the 16th pixel of each line.
    for (int k = -17; k <= 16; ++k) {
      const bool line = withCursor && k >= -16 && k < 16 && (k < -2 || k > 1);
      const DWORD pixel = line ? 0xFFFFFFu : 0x00C800u;
      EXPECT_TRUE(frozen->At(300 + k, 220) == pixel && frozen->At(300, 220 + k) == pixel) << k;
    }
  }
  const POINT at = CursorDrawPosition({-1000, 300}, {16, 16}, {-1280, 0});
  EXPECT_TRUE(at.x == 264 && at.y == 284) << "the hotspot on the pointer, left of the origin";
}

TEST_F(SessionTest, QuitRequestDuringTheSessionReachesTheMainLoopAfterwards) {
  bool open = false;
  Session({[] { PostQuitMessage(7); }, [&] { open = Overlay() != nullptr; }});
  MSG message = {};
  EXPECT_TRUE(open && PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
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
