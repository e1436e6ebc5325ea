#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include "app/app.h"
#include "app/clipboard.h"
#include "capture/capture_session.h"
#include "capture/screen_capture.h"
#include "overlay/crosshair_cursor.h"
#include "overlay/export.h"
#include "overlay/session.h"
#include "unit/support.h"
#include "upload/upload_worker.h"

// Whether the clipboard holds the region as a plain bottom-up 32-bit picture, opaque.
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

// The clipboard's owner is Snapwren's own window: with none, Windows refuses the data.
TEST(CopyResultTest, PutsTheResultOnTheClipboardOrKeepsItsContent) {
  const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr,
                                           nullptr, nullptr));
  g_ownerWnd = owner.get();
  const struct { bool busy, deleted; const wchar_t* balloon; } cases[] = {
      {false, false, L"Screenshot kopiert!|Bild ist in der Zwischenablage."},
      {true, false, L"Fehler|Konnte Bild nicht kopieren."},
      {false, true, L"Fehler|Konnte Bild nicht kopieren."}};
  const BalloonRecorder balloons;
  for (const auto& c : cases) {
    ASSERT_TRUE(CopyTextToClipboard(owner.get(), L"vorher"));
    std::optional<ClipboardHolder> holder;
    if (c.busy) holder.emplace();
    DWORD* bits = nullptr;
    UniqueBitmap result(MakeDib(40, 10, &bits, true));
    const auto picture = Canvas::Of(result.get());
    if (c.deleted) result.reset();
    CopyPictureToClipboard(result.get());
    holder.reset();
    EXPECT_EQ(balloons.Last(), c.balloon);
    EXPECT_EQ(ClipboardShows(*picture, {0, 0, 40, 10}), !c.busy && !c.deleted);
    EXPECT_EQ(IsClipboardFormatAvailable(CF_UNICODETEXT), c.busy || c.deleted) << "old text";
    EXPECT_EQ(GetClipboardOwner(), owner.get());
  }
  g_ownerWnd = nullptr;
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
static CaptureSession* Running() {
  return reinterpret_cast<CaptureSession*>(GetWindowLongPtrW(Overlay(), GWLP_USERDATA));
}
// The commit charge, which Windows and Wine 8 both report in PagefileUsage.
static SIZE_T Committed() {
  PROCESS_MEMORY_COUNTERS counters = {};
  K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PagefileUsage;
}

// Two sessions over a green window with the pointer on it showing the crosshair, which Wine can
// draw into a capture, asked for the first time only; each restores a selection, moves, copies.
TEST(SessionTest, FreezesAndCoversTheScreenOnTopCopiesExactlyAndGivesEverythingBack) {
  RegisterOverlayClass();
  g_instance = GetModuleHandleW(nullptr);
  const UniqueCursor crosshairCursor(CreateCrosshairCursor(96));
  const HCURSOR crosshair = crosshairCursor.get();
  const UniqueBrush green(CreateSolidBrush(RGB(0, 200, 0)));
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass, windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hCursor = crosshair, windowClass.hbrBackground = green.get();
  windowClass.lpszClassName = L"SnapwrenCaptureTestWindow";
  RegisterClassExW(&windowClass);
  const POINT origin = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)};
  const SIZE screen = {GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  const UniqueWindow window(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW,
                                            windowClass.lpszClassName, L"", WS_POPUP | WS_VISIBLE,
                                            origin.x + 200, origin.y + 150, 200, 120, nullptr,
                                            nullptr, nullptr, nullptr));
  SetForegroundWindow(window.get()), SetCursorPos(origin.x + 300, origin.y + 220);
  SetTimer(nullptr, 0, 50, RunNextStep);
  // Having read the screen twice, Wine keeps a screen's worth: the platform's, not the session's.
  for (int i = 0; i < 2; ++i) UniqueBitmap warmUp(CaptureScreen(false));
  const SIZE_T start = Committed();
  // Clear of 200,150, which is awaited green before each session.
  AppSettings.RememberSelection = true, AppSettings.Selection = {210, 160, 810, 560};
  for (bool withCursor : {true, false}) {
    AppSettings.CaptureCursor = withCursor;
    RECT rect = {};
    bool onTop = false, secondRefused = false, open = false;
    long long ownListed = -1;
    std::string shown;
    std::unique_ptr<Canvas> frozen;
    auto pixel = [] { return Canvas::Of(UniqueBitmap(CaptureScreen(false)).get())->At(200, 150); };
    for (int i = 0; i < 50 && pixel() != 0x00C800u; ++i) Pump(100);
    SetCursor(crosshair);
    g_steps = {[&] {
                 GetWindowRect(Overlay(), &rect);
                 const LONG_PTR both = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;  // no taskbar button
                 onTop = (GetWindowLongPtrW(Overlay(), GWL_EXSTYLE) & both) == both;
                 CaptureSession* session = Running();
                 frozen = Canvas::Of(session->Screen());
                 shown = Str(session->State.SelectionRect);
                 const HWND overlay = Overlay();
                 StartCapture();
                 secondRefused = Overlay() == overlay && Running() == session;
                 // A click on Snapwren's own window (a progress window) picks what lies under it.
                 ownListed = std::count_if(session->State.Windows.begin(),
                                           session->State.Windows.end(), [&](const RECT& r) {
                                             return r.left == 200 && r.top == 150;
                                           });
                 if (!withCursor) PostQuitMessage(7);
               },
               [&] {
                 open = Overlay() != nullptr;
                 SendMessageW(Overlay(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 300));
                 SendMessageW(Overlay(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(340, 320));
                 SendMessageW(Overlay(), WM_LBUTTONUP, 0, MAKELPARAM(340, 320)), SetKeys(true);
                 SendMessageW(Overlay(), WM_KEYDOWN, 'C', 1), SetKeys(false);
               }};
    // Steps left over cancel a session left open.
    g_steps.insert(g_steps.end(), 40, [] { SendMessageW(Overlay(), WM_KEYDOWN, VK_ESCAPE, 1); });
    g_nextStep = 0, StartCapture();
    MSG quit = {};
    const bool quitting = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    EXPECT_TRUE(open);
    EXPECT_EQ(quitting, !withCursor) << "a quit request outlives the session";
    EXPECT_EQ(quit.wParam, withCursor ? 0u : 7u);
    EXPECT_EQ(Str(rect), Str({origin.x, origin.y, origin.x + screen.cx, origin.y + screen.cy}));
    EXPECT_TRUE(onTop);
    EXPECT_TRUE(secondRefused);
    EXPECT_EQ(ownListed, 0) << "Snapwren's own window is no click target";
    EXPECT_EQ(shown, "210,160,810,560");
    EXPECT_FALSE(Overlay()) << "the session is over";
    ASSERT_TRUE(frozen->width == screen.cx && frozen->height == screen.cy);
    EXPECT_TRUE(ClipboardShows(*frozen, {250, 180, 850, 580})) << "with the green window's corner";
    // The crosshair's hotspot on the pointer: two white lines of 32 with a gap of four around it.
    for (int k = -17; k <= 16; ++k) {
      const bool line = withCursor && k >= -16 && k < 16 && (k < -2 || k > 1);
      const DWORD expected = line ? 0xFFFFFFu : 0x00C800u;
      EXPECT_EQ(frozen->At(300 + k, 220), expected) << "across, " << k;
      EXPECT_EQ(frozen->At(300, 220 + k), expected) << "down, " << k;
    }
    frozen.reset(), Pump(300);  // what a destroyed window leaves is finished in later messages
    // The frozen screen, its darkened copy and the back buffer are a screen's worth each.
    EXPECT_LT(Committed(), start + SIZE_T(screen.cx) * SIZE_T(screen.cy) * 2) << withCursor;
  }
}
