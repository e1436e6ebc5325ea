// The editor as a capture session sets it up: the overlay's window class, the test pattern as
// the session's frozen screen, the toolbar images and a fresh editor state; and an overlay
// window of the real class, fed the messages that a user's actions produce.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "app/gdiplus_handles.h"
#include "capture/capture_session.h"
#include "overlay/overlay_paint.h"
#include "overlay/overlay_state.h"
#include "overlay/overlay_window.h"
#include "overlay/toolbar.h"
#include "settings/settings.h"
#include "unit/overlay/pixel_support.h"

class EditorFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = OverlayWndProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"SnapwrenOverlay";
    RegisterClassExW(&windowClass);
  }

  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    width_ = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    height_ = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    picture_ = std::make_unique<testpixels::PatternBitmap>(width_, height_);
    g_sessionScreenBitmap = picture_->get();
    for (int i = 0; i < kToolImageCount; ++i) {
      g_toolImages[i] = LoadPngResource(kFirstToolImageId + i);
    }
    ResetOverlayState(g_overlayState);
    AppSettings.RememberSelection = false;
  }

  // A shown window keeps an update region and gets WM_PAINT, as during a session; a hidden
  // one is painted only when a test asks.
  void OpenOverlay(DWORD exStyle, bool shown) {
    hwnd_ = CreateWindowExW(exStyle, L"SnapwrenOverlay", L"Snapwren Overlay", WS_POPUP,
                            GetSystemMetrics(SM_XVIRTUALSCREEN),
                            GetSystemMetrics(SM_YVIRTUALSCREEN), width_, height_, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(hwnd_, nullptr);
    if (!shown) return;
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
  }

  void TearDown() override {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    ReleaseOverlayCanvas();
    g_onSelectionDone = nullptr;
    g_sessionScreenBitmap = nullptr;
    for (auto& image : g_toolImages) image.reset();
    ResetOverlayState(g_overlayState);
  }

  static LPARAM At(int x, int y) {
    return MAKELPARAM(static_cast<WORD>(static_cast<short>(x)),
                      static_cast<WORD>(static_cast<short>(y)));
  }
  void Press(int x, int y) { SendMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y)); }
  void Move(int x, int y, bool held = true) {
    SendMessageW(hwnd_, WM_MOUSEMOVE, held ? MK_LBUTTON : 0, At(x, y));
  }
  void Release(int x, int y) { SendMessageW(hwnd_, WM_LBUTTONUP, 0, At(x, y)); }
  void Drag(int x0, int y0, int x1, int y1) {
    Press(x0, y0);
    Move((x0 + x1) / 2, (y0 + y1) / 2);
    Move(x1, y1);
    Release(x1, y1);
  }
  void Click(int x, int y) {
    Press(x, y);
    Release(x, y);
  }
  void Click(const RECT& button) { Click(button.left + 14, button.top + 14); }
  void Click(ToolbarButtonId id) { Click(g_toolbarLayout.Button(id)); }
  // GetKeyState reads the thread's own key state, which SetKeyboardState writes.
  static void SetCtrl(bool down) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = down ? 0x80 : 0;
    keys[VK_LCONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
  }
  void Key(WPARAM key, bool ctrl) {
    SetCtrl(ctrl);
    SendMessageW(hwnd_, WM_KEYDOWN, key, 1);
    SetCtrl(false);
  }
  bool Alive() const { return IsWindow(hwnd_) != FALSE; }
  // The whole frame as the overlay paints it.
  std::unique_ptr<testpixels::Canvas> Paint() {
    auto frame = std::make_unique<testpixels::Canvas>(width_, height_);
    PaintOverlayFrame(frame->dc(), width_, height_);
    return frame;
  }

  GdiplusSession gdiplus_;
  int width_ = 0;
  int height_ = 0;
  std::unique_ptr<testpixels::PatternBitmap> picture_;
  HWND hwnd_ = nullptr;
};
