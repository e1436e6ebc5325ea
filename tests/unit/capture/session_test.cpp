// Whole capture sessions on the real screen: StartCapture and RunOverlay with their nested
// loop, driven from a thread timer that fires inside that loop.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "app/app.h"
#include "capture/capture_session.h"
#include "capture/clipboard_dib.h"
#include "capture/screen_capture.h"
#include "overlay/overlay_state.h"
#include "overlay/overlay_window.h"
#include "settings/settings.h"
#include "unit/overlay/pixel_support.h"

namespace {

constexpr UINT kTimerMs = 50;

// Runs one step per timer tick inside whatever loop is pumping; an empty step list ends.
std::vector<std::function<void()>> g_steps;
size_t g_nextStep = 0;

void CALLBACK RunNextStep(HWND, UINT, UINT_PTR, DWORD) {
  if (g_nextStep < g_steps.size()) g_steps[g_nextStep++]();
}

HWND FindOverlay() { return FindWindowW(L"SnapwrenOverlay", L"Snapwren Overlay"); }

int CountOverlays() {
  int count = 0;
  EnumWindows(
      [](HWND hwnd, LPARAM counter) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        if (wcscmp(name, L"SnapwrenOverlay") == 0) ++*reinterpret_cast<int*>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

void SendCtrlKey(HWND hwnd, WPARAM key) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  SendMessageW(hwnd, WM_KEYDOWN, key, 1);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
}

// The commit charge: Windows reports it in PrivateUsage, Wine 8 only in PagefileUsage.
SIZE_T CommittedBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  K32GetProcessMemoryInfo(GetCurrentProcess(),
                          reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
  return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// What a destroyed window leaves behind is finished in the messages that follow.
void Settle() {
  const ULONGLONG until = GetTickCount64() + 300;
  while (GetTickCount64() < until) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
}

class SessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = OverlayWndProc;
    windowClass.hInstance = g_instance;
    windowClass.lpszClassName = L"SnapwrenOverlay";
    RegisterClassExW(&windowClass);
  }
  void SetUp() override {
    saved_ = AppSettings;
    AppSettings.RememberSelection = false;
    AppSettings.CaptureCursor = false;
    g_steps.clear();
    g_nextStep = 0;
    timer_ = SetTimer(nullptr, 0, kTimerMs, RunNextStep);
    ASSERT_NE(timer_, 0u);
  }
  void TearDown() override {
    KillTimer(nullptr, timer_);
    if (HWND overlay = FindOverlay()) DestroyWindow(overlay);
    AppSettings = saved_;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  // Steps that end the session must come last; a safety step cancels a session left open.
  void Steps(std::vector<std::function<void()>> steps) {
    g_steps = std::move(steps);
    for (int i = 0; i < 40; ++i) {
      g_steps.push_back([] {
        if (HWND overlay = FindOverlay()) SendMessageW(overlay, WM_KEYDOWN, VK_ESCAPE, 1);
      });
    }
  }

  Settings saved_;
  UINT_PTR timer_ = 0;
};

TEST_F(SessionTest, OverlayCoversTheVirtualScreenOnTopAndCopiesToTheClipboard) {
  HWND overlay = nullptr;
  RECT windowRect = {};
  LONG_PTR exStyle = 0;
  LONG_PTR style = 0;
  bool foreground = false;
  int overlaysDuringSecondTrigger = 0;
  std::vector<DWORD> screen;
  int width = 0;
  int height = 0;
  Steps({
      [&] {
        overlay = FindOverlay();
        if (!overlay) return;
        GetWindowRect(overlay, &windowRect);
        exStyle = GetWindowLongPtrW(overlay, GWL_EXSTYLE);
        style = GetWindowLongPtrW(overlay, GWL_STYLE);
        foreground = GetForegroundWindow() == overlay;
        // A second trigger while the session runs is refused.
        StartCapture();
        overlaysDuringSecondTrigger = CountOverlays();
        if (g_screenBitmap) screen = testpixels::ReadPixels(g_screenBitmap.get(), &width, &height);
      },
      [&] {
        SendMessageW(overlay, WM_LBUTTONDOWN, MK_LBUTTON, At(10, 10));
        SendMessageW(overlay, WM_MOUSEMOVE, MK_LBUTTON, At(110, 60));
        SendMessageW(overlay, WM_LBUTTONUP, 0, At(110, 60));
        SendCtrlKey(overlay, 'C');
      },
  });
  StartCapture();

  ASSERT_NE(overlay, nullptr) << "the overlay opened";
  EXPECT_EQ(windowRect.left, GetSystemMetrics(SM_XVIRTUALSCREEN));
  EXPECT_EQ(windowRect.top, GetSystemMetrics(SM_YVIRTUALSCREEN));
  EXPECT_EQ(windowRect.right - windowRect.left, GetSystemMetrics(SM_CXVIRTUALSCREEN));
  EXPECT_EQ(windowRect.bottom - windowRect.top, GetSystemMetrics(SM_CYVIRTUALSCREEN));
  EXPECT_EQ(exStyle & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), WS_EX_TOPMOST | WS_EX_TOOLWINDOW);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_TRUE(foreground);
  EXPECT_EQ(overlaysDuringSecondTrigger, 1);
  EXPECT_FALSE(g_capturing);
  EXPECT_FALSE(IsWindow(overlay));
  for (const auto& image : g_toolImages) EXPECT_FALSE(image) << "images freed after the session";
  EXPECT_FALSE(g_screenBitmap) << "the frozen screen is freed with its session";
  ASSERT_FALSE(screen.empty());

  // The clipboard holds exactly the region (10,10)-(110,60) of the frozen screen.
  ClipboardGuard clipboard(nullptr);
  ASSERT_TRUE(clipboard.isOpen());
  HANDLE data = GetClipboardData(CF_DIB);
  ASSERT_NE(data, nullptr);
  const BYTE* block = static_cast<const BYTE*>(GlobalLock(data));
  const BITMAPINFOHEADER expected = MakeClipboardDibHeader(100, 50);
  EXPECT_EQ(std::memcmp(block, &expected, sizeof expected), 0);
  const DWORD* pixels = reinterpret_cast<const DWORD*>(block + 40);
  for (int row = 0; row < 50; ++row) {
    for (int x = 0; x < 100; ++x) {
      const DWORD want = 0xFF000000u | (screen[static_cast<size_t>((59 - row) * width + 10 + x)] &
                                        0xFFFFFFu);
      ASSERT_EQ(pixels[row * 100 + x], want) << x << "," << row;
    }
  }
  GlobalUnlock(data);
}

TEST_F(SessionTest, QuitRequestDuringTheSessionReachesTheMainLoopAfterwards) {
  bool stillOpenAfterQuit = false;
  Steps({
      [] { PostQuitMessage(7); },
      [&] { stillOpenAfterQuit = FindOverlay() != nullptr; },
  });
  WindowDc screen(nullptr);
  UniqueBitmap picture(CreateCompatibleBitmap(screen.get(), 8, 8));
  RunOverlay(g_instance, picture.get(), nullptr);
  EXPECT_TRUE(stillOpenAfterQuit) << "the session is not ended by it";
  MSG message = {};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 7u);
}

TEST_F(SessionTest, RememberedSelectionOpensTheSessionSelected) {
  AppSettings.RememberSelection = true;
  AppSettings.Selection = RECT{50, 60, 250, 160};
  OverlayPhase phase = OverlayPhase::NoSelection;
  RECT selection = {};
  Steps({[&] {
    phase = g_overlayState.Phase;
    selection = g_overlayState.SelectionRect;
  }});
  StartCapture();
  EXPECT_EQ(phase, OverlayPhase::Selected);
  EXPECT_EQ(selection.left, 50);
  EXPECT_EQ(selection.bottom, 160);

  // Off the screen it is not used.
  AppSettings.Selection = RECT{-400, 60, -100, 160};
  g_nextStep = 0;
  StartCapture();
  EXPECT_EQ(phase, OverlayPhase::NoSelection);
}

}  // namespace

TEST_F(SessionTest, NothingOfASessionIsHeldOnceItHasEnded) {
  auto session = [this] {
    g_nextStep = 0;
    Steps({
        [] {
          HWND overlay = FindOverlay();
          SendMessageW(overlay, WM_LBUTTONDOWN, MK_LBUTTON, At(100, 100));
          SendMessageW(overlay, WM_MOUSEMOVE, MK_LBUTTON, At(700, 500));
          SendMessageW(overlay, WM_LBUTTONUP, 0, At(700, 500));
          UpdateWindow(overlay);
          SendMessageW(overlay, WM_LBUTTONDOWN, MK_LBUTTON, At(300, 300));
          SendMessageW(overlay, WM_MOUSEMOVE, MK_LBUTTON, At(340, 320));
          SendMessageW(overlay, WM_LBUTTONUP, 0, At(340, 320));
          UpdateWindow(overlay);
        },
    });
    StartCapture();
    Settle();
  };
  // Wine keeps a screen's worth of memory for reading the screen once it has done so twice:
  // that is the platform's, not the session's.
  for (int i = 0; i < 2; ++i) UniqueBitmap warmUp(CaptureScreen(false));
  const SIZE_T start = CommittedBytes();
  session();
  const SIZE_T afterFirst = CommittedBytes();
  session();
  const SIZE_T afterSecond = CommittedBytes();
  // The frozen screen, its darkened copy and the back buffer are a screen's worth each.
  const auto screenBytes = static_cast<SIZE_T>(GetSystemMetrics(SM_CXVIRTUALSCREEN)) *
                           static_cast<SIZE_T>(GetSystemMetrics(SM_CYVIRTUALSCREEN)) * 4;
  EXPECT_FALSE(g_screenBitmap);
  EXPECT_LT(afterFirst, start + screenBytes / 2) << "committed before " << start;
  EXPECT_LT(afterSecond, start + screenBytes / 2) << "committed before " << start;
}
