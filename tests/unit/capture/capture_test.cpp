// Putting a result on the clipboard, and whole capture sessions on the real screen: StartCapture
// and RunOverlay with their nested loop, driven by a thread timer whose steps run inside it.
#include <windows.h>
#include <psapi.h>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>
#include "app/app.h"
#include "app/tray.h"
#include "capture/crosshair_cursor.h"
#include "capture/screen_capture.h"
#include "unit/overlay/editor_fixture.h"
#include "upload/upload_worker.h"

// Whether the clipboard holds the plain header of a bottom-up 32-bit picture of the region, and
// then its pixels, opaque, from the bottom row up.
static bool ClipboardShows(const Canvas& picture, const RECT& r) {
  const ClipboardGuard clipboard(nullptr);
  const HANDLE dib = GetClipboardData(CF_DIB);
  const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
  const LONG width = r.right - r.left, height = r.bottom - r.top;
  const BITMAPINFOHEADER expected = {40, width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  bool same = header && std::memcmp(header, &expected, sizeof expected) == 0;
  const auto* pixels = reinterpret_cast<const DWORD*>(header + 1);
  for (LONG i = 0; same && i < width * height; ++i) {
    same = pixels[i] == (0xFF000000u | picture.At(r.left + i % width, r.bottom - 1 - i / width));
  }
  return GlobalUnlock(dib), same;
}

TEST(CopyResultTest, PutsTheResultOnTheClipboardOrKeepsItsContentAndAlwaysFreesIt) {
  const struct { bool busy, deleted; const wchar_t* balloon; } cases[] = {
      {false, false, L"Screenshot kopiert!|Bild ist in der Zwischenablage."},
      {true, false, L"Fehler|Konnte Bild nicht kopieren."},
      {false, true, L"Fehler|Konnte Bild nicht kopieren."}};
  for (const auto& c : cases) {
    ASSERT_TRUE(CopyTextToClipboard(nullptr, L"vorher"));
    std::optional<ClipboardHolder> holder;
    if (c.busy) holder.emplace();
    DWORD* bits = nullptr;
    const HBITMAP result = MakeDib(40, 10, &bits, true);
    const auto picture = Canvas::Of(result);
    if (c.deleted) DeleteObject(result);
    g_overlayState.ResultBitmap.reset(result);
    CopyResultToClipboard();
    holder.reset();
    EXPECT_FALSE(g_overlayState.ResultBitmap || GetObjectType(result)) << "the bitmap is freed";
    EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle) + L"|" + g_trayIconData.szInfo, c.balloon);
    EXPECT_EQ(ClipboardShows(*picture, {0, 0, 40, 10}), !c.busy && !c.deleted);
    EXPECT_EQ(IsClipboardFormatAvailable(CF_UNICODETEXT), c.busy || c.deleted) << "old text";
  }
}

// Each tick of the thread timer runs the next step inside whatever loop is pumping.
static std::vector<std::function<void()>> g_steps;
static size_t g_nextStep = 0;
static void CALLBACK RunNextStep(HWND, UINT, UINT_PTR, DWORD) {
  if (g_nextStep < g_steps.size()) g_steps[g_nextStep++]();
}
static void Pump(ULONGLONG ms) {
  for (const ULONGLONG until = GetTickCount64() + ms; GetTickCount64() < until; Sleep(10)) {
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
  }
}
static HWND Overlay() { return FindWindowW(L"SnapwrenOverlay", nullptr); }
static void Select(int x0, int y0, int x1, int y1) {
  SendMessageW(Overlay(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y0));
  SendMessageW(Overlay(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x1, y1));
  SendMessageW(Overlay(), WM_LBUTTONUP, 0, MAKELPARAM(x1, y1)), UpdateWindow(Overlay());
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
    windowClass.cbSize = sizeof windowClass, windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hCursor = g_crosshairCursor.get(), windowClass.hbrBackground = green.get();
    windowClass.lpszClassName = L"SnapwrenCaptureTestWindow";
    RegisterClassExW(&windowClass);
    window_.reset(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, windowClass.lpszClassName,
                                  L"", WS_POPUP | WS_VISIBLE, origin_.x + 200, origin_.y + 150,
                                  200, 120, nullptr, nullptr, nullptr, nullptr));
    SetForegroundWindow(window_.get()), SetCursorPos(origin_.x + 300, origin_.y + 220);
    AppSettings.RememberSelection = AppSettings.CaptureCursor = false;
    timer_ = SetTimer(nullptr, 0, 50, RunNextStep);
  }
  void TearDown() override {
    KillTimer(nullptr, timer_), AppSettings = saved_;
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) continue;
  }
  // Runs one session once the window shows again; steps left over cancel a session left open.
  void Session(std::vector<std::function<void()>> steps) {
    auto green = [] { return Canvas::Of(UniqueBitmap(CaptureScreen(false)).get())->At(200, 150); };
    for (int i = 0; i < 50 && green() != 0x00C800u; ++i) Pump(100);
    SetCursor(g_crosshairCursor.get());
    g_steps = std::move(steps), g_nextStep = 0;
    g_steps.insert(g_steps.end(), 40, [] { SendMessageW(Overlay(), WM_KEYDOWN, VK_ESCAPE, 1); });
    StartCapture();
  }

  const POINT origin_ = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)};
  const SIZE screen_ = {GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  const Settings saved_ = AppSettings;
  UniqueWindow window_;
  UINT_PTR timer_ = 0;
};

// The commit charge: Windows reports it in PrivateUsage, Wine 8 only in PagefileUsage.
static SIZE_T Committed() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  K32GetProcessMemoryInfo(GetCurrentProcess(),
                          reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

TEST_F(SessionTest, OverlayCoversTheScreenOnTopCopiesExactlyAndGivesEverythingBack) {
  // Wine keeps a screen's worth for reading the screen once it has done so twice: the
  // platform's, not the session's.
  for (int i = 0; i < 2; ++i) UniqueBitmap warmUp(CaptureScreen(false));
  const SIZE_T start = Committed();
  for (int session = 1; session <= 2; ++session) {
    RECT rect = {};
    bool onTop = false, secondRefused = false;
    std::unique_ptr<Canvas> frozen;
    Session({[&] {
               GetWindowRect(Overlay(), &rect);
               const LONG_PTR both = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;  // and no taskbar button
               onTop = (GetWindowLongPtrW(Overlay(), GWL_EXSTYLE) & both) == both &&
                       GetForegroundWindow() == Overlay();
               frozen = Canvas::Of(g_screenBitmap.get());
               const HBITMAP screen = g_screenBitmap.get();
               StartCapture();  // a second trigger during the session returns at once
               secondRefused = g_screenBitmap.get() == screen && Overlay();
             },
             [] { Select(150, 100, 750, 500), Select(300, 300, 340, 320); },  // and a move
             [] { SetCtrl(true), SendMessageW(Overlay(), WM_KEYDOWN, 'C', 1), SetCtrl(false); }});
    EXPECT_EQ(Str(rect),
              Str({origin_.x, origin_.y, origin_.x + screen_.cx, origin_.y + screen_.cy}));
    EXPECT_TRUE(onTop && secondRefused);
    EXPECT_FALSE(g_capturing || g_screenBitmap || Overlay()) << "nothing of it is held";
    for (const auto& image : g_toolImages) EXPECT_FALSE(image) << "images freed with the session";
    EXPECT_TRUE(ClipboardShows(*frozen, {190, 120, 790, 520})) << "with the green window's corner";
    frozen.reset(), Pump(300);  // what a destroyed window leaves is finished in later messages
    // The frozen screen, its darkened copy and the back buffer are a screen's worth each.
    EXPECT_LT(Committed(), start + SIZE_T(screen_.cx) * SIZE_T(screen_.cy) * 2) << session;
  }
}

// A quit request posted during a session reaches the main loop once it has ended.
TEST_F(SessionTest, FrozenScreenHasThePointerOnlyWhenAskedAndARememberedSelectionOpensSelected) {
  // Clear of the green window, which Session() waits for.
  AppSettings.RememberSelection = true, AppSettings.Selection = {20, 30, 120, 100};
  for (bool withCursor : {true, false}) {
    AppSettings.CaptureCursor = withCursor;
    std::unique_ptr<Canvas> frozen;
    std::string shown;
    bool open = false;
    Session({[&] {
               frozen = Canvas::Of(g_screenBitmap.get());
               const bool selected = g_overlayState.Phase == OverlayPhase::Selected;
               shown = selected ? Str(g_overlayState.SelectionRect) : "none";
               if (!withCursor) PostQuitMessage(7);
             },
             [&] { open = Overlay() != nullptr; }});
    MSG quit = {};
    const bool quitting = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    EXPECT_TRUE(open && quitting == !withCursor && quit.wParam == (withCursor ? 0u : 7u));
    EXPECT_EQ(shown, "20,30,120,100");
    ASSERT_TRUE(frozen->width == screen_.cx && frozen->height == screen_.cy);
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
