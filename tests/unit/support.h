// What the unit tests share: pixels, canvases, files, a held clipboard, and the editor's fixture.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include "app/gdiplus_handles.h"
#include "app/notifier.h"
#include "overlay/overlay_paint.h"
#include "overlay/overlay_window.h"
#include "overlay/session.h"
#include "overlay/toolbar.h"
#include "settings/settings.h"

// Holds the balloons shown while it lives, as "title|message", the newest last.
struct BalloonRecorder {
  std::vector<std::wstring> shown;
  BalloonRecorder() {
    SetBalloonSink([this](const std::wstring& t, const std::wstring& m) { shown.push_back(t + L"|" + m); });
  }
  ~BalloonRecorder() { SetBalloonSink({}); }
  std::wstring Last() const { return shown.empty() ? L"" : shown.back(); }
};

// 0x00RRGGBB, as a 32-bit DIB stores a pixel.
inline DWORD Rgb(int r, int g, int b) { return static_cast<DWORD>(r << 16 | g << 8 | b); }
inline DWORD Dib(COLORREF c) { return Rgb(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline int Ch(DWORD pixel, int shift) { return static_cast<int>(pixel >> shift & 0xFF); }
// No two neighbours alike, so a shifted copy cannot pass for the original; no channel at 0 or
// 255, so black, white and pure colours can only come from drawing.
inline DWORD PatternAt(int x, int y) {
  return Rgb(20 + x * 7 % 200, 20 + y * 5 % 200, 20 + (x + y) * 3 % 200);
}
inline std::vector<BYTE> FileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(file), {});
}
inline std::string Str(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}
inline HBITMAP MakeDib(int width, int height, DWORD** bits, bool pattern = false) {
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS,
                                    reinterpret_cast<void**>(bits), nullptr, 0);
  for (int i = 0; pattern && i < width * height; ++i) (*bits)[i] = PatternAt(i % width, i / width);
  return bitmap;
}

// A DIB section in a memory DC of its own; its pixels are read once GDI has flushed its drawing.
struct Canvas {
  Canvas(int w, int h)
      : width(w), height(h), bitmap(MakeDib(w, h, &pixels)), dc(CreateCompatibleDC(nullptr)),
        select(dc.get(), bitmap.get()) {}
  // A copy of any bitmap that no DC holds.
  static std::unique_ptr<Canvas> Of(HBITMAP source) {
    BITMAP info = {};
    GetObjectW(source, sizeof info, &info);
    auto canvas = std::make_unique<Canvas>(info.bmWidth, info.bmHeight);
    const UniqueMemoryDc from(CreateCompatibleDC(nullptr));
    const SelectGuard select(from.get(), source);
    BitBlt(canvas->dc.get(), 0, 0, info.bmWidth, info.bmHeight, from.get(), 0, 0, SRCCOPY);
    return canvas;
  }
  DWORD At(int x, int y) const { return GdiFlush(), pixels[y * width + x] & 0xFFFFFFu; }
  bool IsRegion(const RECT& r) const {
    bool same = width == r.right - r.left && height == r.bottom - r.top;
    for (int i = 0; same && i < width * height; ++i) {
      same = At(i % width, i / width) == PatternAt(r.left + i % width, r.top + i / width);
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
  int width, height;
  DWORD* pixels = nullptr;
  UniqueBitmap bitmap;
  UniqueMemoryDc dc;
  SelectGuard select;
};

// Another thread's window holds the clipboard while this lives; the owner's thread keeps pumping
// meanwhile. Wine lets a second OpenClipboard(NULL) in, where Windows refuses any second thread.
struct ClipboardHolder {
  ClipboardHolder() {
    for (MSG m; WaitForSingleObject(opened_.get(), 10) == WAIT_TIMEOUT;) {
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
  }
  ~ClipboardHolder() { SetEvent(release_.get()), thread_.join(); }
  UniqueHandle opened_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle release_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread thread_{[this] {
    const UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                             nullptr, nullptr, nullptr));
    for (int i = 0; i < 500 && !OpenClipboard(owner.get()); ++i) Sleep(10);
    SetEvent(opened_.get()), WaitForSingleObject(release_.get(), 10000), CloseClipboard();
  }};
};
// GetKeyState reads the thread's own key state, which SetKeyboardState writes.
inline void SetKeys(bool ctrl, bool shift = false) {
  BYTE keys[256] = {};
  keys[VK_CONTROL] = keys[VK_LCONTROL] = ctrl ? 0x80 : 0, keys[VK_SHIFT] = shift ? 0x80 : 0;
  SetKeyboardState(keys);
}
inline void RegisterOverlayClass() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass, windowClass.lpfnWndProc = OverlayWndProc;
  windowClass.lpszClassName = L"SnapwrenOverlay";
  RegisterClassExW(&windowClass);
}
using Id = ToolbarButtonId;
constexpr const wchar_t* kButtons[] = {L"Pen",  L"Line", L"Arrow",  L"Rect",  L"Text",
                                       L"Undo", L"Colour", L"Copy", L"Save",  L"Upload",
                                       L"Close", L"Mosaic", L"Number", L"Pin"};

class EditorFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    RegisterOverlayClass(), NewSession();
  }
  void TearDown() override {
    if (SetKeys(false), Alive()) DestroyWindow(hwnd_);
    Drain(), session_.reset();
    AppSettings = saved_, DeleteFileW(GetSettingsPath().c_str());
  }
  // A session over a copy of the pattern, in the colour the last one ended with.
  void NewSession() {
    const COLORREF color = session_ ? State().CurrentColor : RGB(255, 0, 0);
    DWORD* bits = nullptr;
    session_.reset();
    session_ = std::make_unique<CaptureSession>(UniqueBitmap(MakeDib(width_, height_, &bits, true)),
                                                color, custom_);
    clipboardSequence_ = GetClipboardSequenceNumber();
  }
  static void Drain() {
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&message);
  }
  OverlayState& State() const { return session_->State; }
  const ToolbarLayout& Layout() const { return session_->Toolbar; }
  // Whether the session put the pattern's region r on the clipboard, bottom-up and opaque. The
  // editor's tests have no owner window: Wine takes the data anyway, Windows would refuse it
  // (CopyResultTest gives the clipboard its owner).
  bool CopiedExactly(const RECT& r) const {
    const ClipboardGuard clipboard(nullptr);
    const HANDLE dib = GetClipboardData(CF_DIB);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
    const LONG width = r.right - r.left, height = r.bottom - r.top;
    bool same = header && header->biWidth == width && header->biHeight == height;
    const auto* pixels = reinterpret_cast<const DWORD*>(header + 1);
    for (LONG i = 0; same && i < width * height; ++i) {
      same = pixels[i] == (0xFF000000u | PatternAt(r.left + i % width, r.bottom - 1 - i / width));
    }
    return GlobalUnlock(dib), same;
  }
  bool Copied() const { return GetClipboardSequenceNumber() != clipboardSequence_; }
  // A shown window keeps an update region and gets WM_PAINT, as during a session; a hidden one
  // is painted only when a test asks.
  void OpenOverlay(bool shown) {
    if (Alive()) DestroyWindow(hwnd_);
    NewSession();
    hwnd_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"SnapwrenOverlay", L"", WS_POPUP,
                            GetSystemMetrics(SM_XVIRTUALSCREEN),
                            GetSystemMetrics(SM_YVIRTUALSCREEN), width_, height_, nullptr,
                            nullptr, nullptr, session_.get());
    ASSERT_TRUE(Alive());
    ShowWindow(hwnd_, shown ? SW_SHOW : SW_HIDE), UpdateWindow(hwnd_);
  }
  static LPARAM At(int x, int y) { return MAKELPARAM(short(x), short(y)); }
  void Send(UINT message, int x, int y, WPARAM keys = MK_LBUTTON) {
    SendMessageW(hwnd_, message, message == WM_LBUTTONUP ? 0 : keys, At(x, y));
  }
  // Steps separated by commas: "drag x y u v", "press|move|hover|release|click|right x y", a
  // button's name, a letter, "Esc", "Enter", "Back" or an arrow ("Left", "Up"...) as a key with "ctrl+" and "shift+" if
  // held, "type <text>" as characters, "check <what>", "lost" (the capture taken away).
  void Run(const std::wstring& script) {
    std::wistringstream steps(script);
    for (std::wstring step; std::getline(steps, step, L',');) {
      std::wistringstream in(step);
      std::wstring verb, word;
      int x = 0, y = 0, u = 0, v = 0;
      in >> verb;
      if (verb == L"type" || verb == L"check") std::getline(in >> std::ws, word);
      in >> x >> y >> u >> v;
      const bool ctrl = verb.rfind(L"ctrl+", 0) == 0;
      if (ctrl) verb.erase(0, 5);
      const bool shift = verb.rfind(L"shift+", 0) == 0;
      if (SetKeys(ctrl, shift), shift) verb.erase(0, 6);
      const auto button = std::find(std::begin(kButtons), std::end(kButtons), verb);
      if (button != std::end(kButtons)) {
        const RECT& b = Layout().Buttons[button - std::begin(kButtons)];
        verb = L"click", x = b.left + 14, y = b.top + 14;
      }
      if (verb == L"drag") Send(WM_LBUTTONDOWN, x, y), Send(WM_MOUSEMOVE, (x + u) / 2, (y + v) / 2);
      if (verb == L"drag") Send(WM_MOUSEMOVE, u, v), Send(WM_LBUTTONUP, u, v);
      if (verb == L"press" || verb == L"click") Send(WM_LBUTTONDOWN, x, y);
      if (verb == L"move") Send(WM_MOUSEMOVE, x, y);
      if (verb == L"hover") Send(WM_MOUSEMOVE, x, y, 0);
      if (verb == L"release" || verb == L"click") Send(WM_LBUTTONUP, x, y);
      if (verb == L"right") Send(WM_RBUTTONDOWN, x, y, MK_LBUTTON | MK_RBUTTON);
      if (verb == L"lost") ReleaseCapture();
      const WPARAM key = verb == L"Esc" ? VK_ESCAPE : verb == L"Enter" ? VK_RETURN
                         : verb == L"Back" ? VK_BACK : verb == L"Left" ? VK_LEFT
                         : verb == L"Right" ? VK_RIGHT : verb == L"Up" ? VK_UP
                         : verb == L"Down" ? VK_DOWN : verb.size() == 1 ? verb.back() : 0;
      if (key) SendMessageW(hwnd_, WM_KEYDOWN, key, 1);
      for (wchar_t c : verb == L"type" ? word : L"") SendMessageW(hwnd_, WM_CHAR, c, 1);
      SetKeys(false);
      if (verb == L"check") Checkpoint(word);
    }
  }
  virtual void Checkpoint(const std::wstring&) {}
  bool Alive() const { return IsWindow(hwnd_) != FALSE; }
  std::unique_ptr<Canvas> Paint() {
    auto frame = std::make_unique<Canvas>(width_, height_);
    PaintOverlayFrame(*session_, frame->dc.get(), width_, height_);
    return frame;
  }
  GdiplusSession gdiplus_;
  const int width_ = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height_ = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const Settings saved_ = AppSettings;
  HWND hwnd_ = nullptr;
  COLORREF custom_[16] = {};
  std::unique_ptr<CaptureSession> session_;
  DWORD clipboardSequence_ = 0;
};
