// The editor as a capture session sets it up: the overlay's class, a known picture as the frozen
// screen, the toolbar images and a fresh state; an overlay window of the real class fed the
// messages of a user's actions; and the pixels of what it paints.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/gdiplus_handles.h"
#include "capture/capture_session.h"
#include "overlay/overlay_paint.h"
#include "overlay/overlay_window.h"
#include "overlay/toolbar.h"
#include "settings/settings.h"

// 0x00RRGGBB, as a 32-bit DIB stores a pixel.
inline DWORD Rgb(int r, int g, int b) { return static_cast<DWORD>(r << 16 | g << 8 | b); }
inline DWORD Dib(COLORREF c) { return Rgb(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline int Ch(DWORD pixel, int shift) { return static_cast<int>(pixel >> shift & 0xFF); }
inline bool Near(DWORD a, DWORD b, int most) {
  return std::abs(Ch(a, 0) - Ch(b, 0)) <= most && std::abs(Ch(a, 8) - Ch(b, 8)) <= most &&
         std::abs(Ch(a, 16) - Ch(b, 16)) <= most;
}
// No two neighbours alike, so a shifted copy cannot pass for the original; no channel at 0 or
// 255, so black, white and pure colours can only come from drawing.
inline DWORD PatternAt(int x, int y) {
  return Rgb(20 + x * 7 % 200, 20 + y * 5 % 200, 20 + (x + y) * 3 % 200);
}
inline std::string Str(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

// A top-down 32-bit DIB section, with the pattern if asked.
inline HBITMAP MakeDib(int width, int height, DWORD** bits, bool pattern = false) {
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS,
                                    reinterpret_cast<void**>(bits), nullptr, 0);
  for (int i = 0; pattern && i < width * height; ++i) (*bits)[i] = PatternAt(i % width, i / width);
  return bitmap;
}

// A DIB section selected into a memory DC of its own.
class Canvas {
 public:
  Canvas(int width, int height)
      : width_(width), height_(height), bitmap_(MakeDib(width, height, &bits_)),
        dc_(CreateCompatibleDC(nullptr)), select_(dc_.get(), bitmap_.get()) {}
  // A copy of any bitmap that no DC holds.
  static std::unique_ptr<Canvas> Of(HBITMAP bitmap) {
    BITMAP info = {};
    GetObjectW(bitmap, sizeof info, &info);
    auto canvas = std::make_unique<Canvas>(info.bmWidth, info.bmHeight);
    const UniqueMemoryDc source(CreateCompatibleDC(nullptr));
    const SelectGuard select(source.get(), bitmap);
    BitBlt(canvas->dc(), 0, 0, info.bmWidth, info.bmHeight, source.get(), 0, 0, SRCCOPY);
    return canvas;
  }
  HDC dc() const { return dc_.get(); }
  int width() const { return width_; }
  int height() const { return height_; }
  // Every pixel, rows top first, the fourth byte included.
  DWORD* bits() const { return GdiFlush(), bits_; }
  DWORD At(int x, int y) const { return bits()[y * width_ + x] & 0xFFFFFFu; }
  // Whether it shows the pattern's region, pixel for pixel.
  bool IsRegion(const RECT& r) const {
    bool same = width_ == r.right - r.left && height_ == r.bottom - r.top;
    for (int i = 0; same && i < width_ * height_; ++i) {
      same = At(i % width_, i / width_) == PatternAt(r.left + i % width_, r.top + i / width_);
    }
    return same;
  }
  template <typename Match>
  int Count(const RECT& area, Match match) const {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) count += match(At(x, y)) ? 1 : 0;
    }
    return count;
  }

 private:
  int width_, height_;
  DWORD* bits_ = nullptr;
  UniqueBitmap bitmap_;
  UniqueMemoryDc dc_;
  SelectGuard select_;
};

// Another thread's window holds the clipboard while this lives. Wine lets a second
// OpenClipboard(NULL) in while the holder also gave NULL, where Windows refuses any second thread.
class ClipboardHolder {
 public:
  ClipboardHolder() { WaitForSingleObject(opened_.get(), 5000); }
  ~ClipboardHolder() { SetEvent(release_.get()), thread_.join(); }

 private:
  UniqueHandle opened_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle release_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread thread_{[this] {
    const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                             nullptr, nullptr, nullptr));
    const ClipboardGuard clipboard(owner.get());
    SetEvent(opened_.get()), WaitForSingleObject(release_.get(), 10000);
  }};
};

// GetKeyState reads the thread's own key state, which SetKeyboardState writes.
inline void SetCtrl(bool down) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = keys[VK_LCONTROL] = down ? 0x80 : 0;
  SetKeyboardState(keys);
}

inline void RegisterOverlayClass() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = OverlayWndProc;
  windowClass.lpszClassName = L"SnapwrenOverlay";
  RegisterClassExW(&windowClass);
}

class EditorFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    RegisterOverlayClass();
    DWORD* bits = nullptr;
    picture_.reset(MakeDib(width_, height_, &bits, true));
    g_sessionScreenBitmap = picture_.get();
    for (int i = 0; i < kToolImageCount; ++i) g_toolImages[i] = LoadPngResource(101 + i);
    ResetOverlayState(g_overlayState);
    AppSettings.RememberSelection = false;
    g_onSelectionDone = [this](const RECT& rect) {
      ++calls_, doneRect_ = rect;
      if (g_overlayState.ResultBitmap) result_ = Canvas::Of(g_overlayState.ResultBitmap.get());
    };
  }
  void TearDown() override {
    SetCtrl(false);
    if (Alive()) DestroyWindow(hwnd_);
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
    }
    ReleaseOverlayCanvas();
    g_onSelectionDone = nullptr, g_sessionScreenBitmap = nullptr;
    for (auto& image : g_toolImages) image.reset();
    ResetOverlayState(g_overlayState);
    AppSettings = saved_;
    DeleteFileW(GetSettingsPath().c_str());
  }
  // A shown window keeps an update region and gets WM_PAINT, as during a session; a hidden one
  // is painted only when a test asks.
  void OpenOverlay(bool shown) {
    if (Alive()) DestroyWindow(hwnd_);
    ResetOverlayState(g_overlayState);
    hwnd_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"SnapwrenOverlay", L"", WS_POPUP,
                            GetSystemMetrics(SM_XVIRTUALSCREEN),
                            GetSystemMetrics(SM_YVIRTUALSCREEN), width_, height_, nullptr,
                            nullptr, nullptr, nullptr);
    ASSERT_TRUE(Alive());
    ShowWindow(hwnd_, shown ? SW_SHOW : SW_HIDE);
    UpdateWindow(hwnd_);
  }
  static LPARAM At(int x, int y) { return MAKELPARAM(static_cast<short>(x), static_cast<short>(y)); }
  void Send(UINT message, int x, int y, WPARAM keys = MK_LBUTTON) {
    SendMessageW(hwnd_, message, message == WM_LBUTTONUP ? 0 : keys, At(x, y));
  }
  void Press(int x, int y) { Send(WM_LBUTTONDOWN, x, y); }
  void Move(int x, int y, bool held = true) { Send(WM_MOUSEMOVE, x, y, held ? MK_LBUTTON : 0); }
  void Release(int x, int y) { Send(WM_LBUTTONUP, x, y); }
  void Drag(int x0, int y0, int x1, int y1) {
    Press(x0, y0), Move((x0 + x1) / 2, (y0 + y1) / 2), Move(x1, y1), Release(x1, y1);
  }
  void Click(int x, int y) { Press(x, y), Release(x, y); }
  void Click(ToolbarButtonId id) {
    Click(g_toolbarLayout.Button(id).left + 14, g_toolbarLayout.Button(id).top + 14);
  }
  void Key(WPARAM key, bool ctrl) {
    SetCtrl(ctrl), SendMessageW(hwnd_, WM_KEYDOWN, key, 1), SetCtrl(false);
  }
  bool Alive() const { return IsWindow(hwnd_) != FALSE; }
  // The whole frame as the overlay paints it.
  std::unique_ptr<Canvas> Paint() {
    auto frame = std::make_unique<Canvas>(width_, height_);
    PaintOverlayFrame(frame->dc(), width_, height_);
    return frame;
  }

  GdiplusSession gdiplus_;
  const int width_ = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height_ = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  UniqueBitmap picture_;
  const Settings saved_ = AppSettings;
  HWND hwnd_ = nullptr;
  // What the session's completion callback was handed.
  int calls_ = 0;
  RECT doneRect_ = {};
  std::unique_ptr<Canvas> result_;
};
