#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "app/app.h"
#include "app/gdiplus_handles.h"
#include "app/tray.h"
#include "capture/capture_session.h"
#include "capture/clipboard_dib.h"
#include "capture/crosshair_cursor.h"
#include "capture/screen_capture.h"
#include "overlay/overlay_state.h"
#include "overlay/overlay_window.h"
#include "settings/settings.h"
#include "unit/overlay/pixel_support.h"

namespace {

using testpixels::Canvas;
using testpixels::PatternAt;

bool PlaneBit(const BYTE* plane, int x, int y) {
  return (plane[y * 4 + x / 8] & (0x80 >> (x % 8))) != 0;
}

TEST(CrosshairCursorTest, TwoWhiteLinesWithAGapAroundTheHotspot) {
  const CursorPlanes planes = BuildCrosshairPlanes();
  int white = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool andBit = PlaneBit(planes.And, x, y);
      const bool xorBit = PlaneBit(planes.Xor, x, y);
      // Only transparent (1, 0) and white (0, 1) occur.
      ASSERT_NE(andBit, xorBit) << x << "," << y;
      white += xorBit;
    }
  }
  EXPECT_EQ(white, 2 * 28);
  for (int k : {0, 13, 18, 31}) {
    EXPECT_TRUE(PlaneBit(planes.Xor, k, 16)) << "row 16 at " << k;
    EXPECT_TRUE(PlaneBit(planes.Xor, 16, k)) << "column 16 at " << k;
  }
  for (int k = 14; k <= 17; ++k) {
    EXPECT_FALSE(PlaneBit(planes.Xor, k, 16)) << "gap at " << k;
    EXPECT_FALSE(PlaneBit(planes.Xor, 16, k)) << "gap at " << k;
  }
  EXPECT_FALSE(PlaneBit(planes.Xor, 15, 15));
  EXPECT_FALSE(PlaneBit(planes.Xor, 17, 18));
  // Most significant bit first: pixel 0 of row 16 is bit 7 of byte 64, pixel 16 of row 0
  // bit 7 of byte 2.
  EXPECT_EQ(planes.Xor[64] & 0x80, 0x80);
  EXPECT_EQ(planes.Xor[2], 0x80);
}

TEST(CrosshairCursorTest, SystemMakesItWithTheHotspotInTheMiddle) {
  UniqueCursor cursor(CreateCrosshairCursor());
  ASSERT_TRUE(cursor);
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(cursor.get(), &info));
  UniqueBitmap mask(info.hbmMask);
  UniqueBitmap colour(info.hbmColor);
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(info.xHotspot, 16u);
  EXPECT_EQ(info.yHotspot, 16u);
}

TEST(ClipboardDibTest, HeaderAndSize) {
  const BITMAPINFOHEADER header = MakeClipboardDibHeader(100, 50);
  EXPECT_EQ(header.biSize, 40u);
  EXPECT_EQ(header.biWidth, 100);
  EXPECT_EQ(header.biHeight, 50) << "positive: bottom-up";
  EXPECT_EQ(header.biPlanes, 1);
  EXPECT_EQ(header.biBitCount, 32);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(header.biSizeImage, 0u);
  EXPECT_EQ(header.biXPelsPerMeter, 0);
  EXPECT_EQ(header.biYPelsPerMeter, 0);
  EXPECT_EQ(header.biClrUsed, 0u);
  EXPECT_EQ(header.biClrImportant, 0u);
  EXPECT_EQ(ClipboardDibSize(100, 50), 100u * 50u * 4u + 40u);
  EXPECT_EQ(ClipboardDibSize(3200, 1080), 3200u * 1080u * 4u + 40u);
}

// The block as it would go on the clipboard: the plain header, then opaque bottom-up rows.
TEST(ClipboardDibTest, BlockHoldsOpaqueBottomUpPixels) {
  Canvas picture(30, 20);
  picture.FillPattern();
  UniqueGlobal block = CreateClipboardDib(picture.bitmap());
  ASSERT_TRUE(block);
  ASSERT_GE(GlobalSize(block.get()), ClipboardDibSize(30, 20));
  const BYTE* data = static_cast<const BYTE*>(GlobalLock(block.get()));
  ASSERT_NE(data, nullptr);
  const BITMAPINFOHEADER expected = MakeClipboardDibHeader(30, 20);
  EXPECT_EQ(std::memcmp(data, &expected, sizeof expected), 0) << "header as made, no fields added";
  const DWORD* pixels = reinterpret_cast<const DWORD*>(data + 40);
  for (int row = 0; row < 20; ++row) {
    const int y = 19 - row;  // first stored row is the bottom one
    for (int x = 0; x < 30; ++x) {
      const DWORD pixel = pixels[row * 30 + x];
      ASSERT_EQ(pixel >> 24, 0xFFu) << "opaque at " << x << "," << y;
      ASSERT_EQ(pixel & 0xFFFFFFu, PatternAt(x, y)) << x << "," << y;
    }
  }
  GlobalUnlock(block.get());
}

TEST(ClipboardDibTest, NoBitmapNoBlock) {
  EXPECT_FALSE(CreateClipboardDib(nullptr));
}

class ClipboardTest : public ::testing::Test {
 protected:
  static void PutText(const wchar_t* text) {
    ClipboardGuard clipboard(nullptr);
    ASSERT_TRUE(clipboard.isOpen());
    EmptyClipboard();
    const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(block), text, bytes);
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
  }
  static std::wstring ReadText() {
    ClipboardGuard clipboard(nullptr);
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data) return L"";
    std::wstring text = static_cast<const wchar_t*>(GlobalLock(data));
    GlobalUnlock(data);
    return text;
  }
  static std::vector<BYTE> ReadDib() {
    ClipboardGuard clipboard(nullptr);
    HANDLE data = GetClipboardData(CF_DIB);
    if (!data) return {};
    const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(data));
    std::vector<BYTE> copy(bytes, bytes + GlobalSize(data));
    GlobalUnlock(data);
    return copy;
  }
  void TearDown() override { ResetOverlayState(g_overlayState); }
};

TEST_F(ClipboardTest, CopiedResultReadsBackAndIsFreed) {
  auto picture = std::make_unique<Canvas>(40, 10);
  picture->FillPattern();
  // The result is a screen-compatible bitmap, as ComposeSelection makes it.
  WindowDc screen(nullptr);
  HBITMAP result = CreateCompatibleBitmap(screen.get(), 40, 10);
  {
    UniqueMemoryDc dc(CreateCompatibleDC(screen.get()));
    SelectGuard select(dc.get(), result);
    BitBlt(dc.get(), 0, 0, 40, 10, picture->dc(), 0, 0, SRCCOPY);
  }
  g_overlayState.ResultBitmap.reset(result);
  CopyResultToClipboard();
  EXPECT_FALSE(g_overlayState.ResultBitmap);
  EXPECT_FALSE(GetObjectType(result)) << "the bitmap was deleted";
  EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle), L"Screenshot kopiert!");
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), L"Bild ist in der Zwischenablage.");

  const std::vector<BYTE> dib = ReadDib();
  ASSERT_GE(dib.size(), ClipboardDibSize(40, 10));
  const BITMAPINFOHEADER expected = MakeClipboardDibHeader(40, 10);
  EXPECT_EQ(std::memcmp(dib.data(), &expected, sizeof expected), 0);
  const DWORD* pixels = reinterpret_cast<const DWORD*>(dib.data() + 40);
  EXPECT_EQ(pixels[0], 0xFF000000u | PatternAt(0, 9));
  EXPECT_EQ(pixels[9 * 40 + 39], 0xFF000000u | PatternAt(39, 0));
}

TEST_F(ClipboardTest, BusyClipboardKeepsItsContentAndSaysSo) {
  PutText(L"vorher");
  // Another thread holds the clipboard open, as a clipboard viewer in the middle of a read would.
  // It opens it with a window of its own: Wine lets a second OpenClipboard(NULL) in while the
  // first holder also gave NULL, where Windows refuses any second thread.
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  struct Events {
    HANDLE opened;
    HANDLE release;
  } events = {opened, release};
  HANDLE holder = CreateThread(
      nullptr, 0,
      [](void* parameter) -> DWORD {
        auto* e = static_cast<Events*>(parameter);
        UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"holder", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                           nullptr, nullptr, nullptr));
        OpenClipboard(owner.get());
        SetEvent(e->opened);
        WaitForSingleObject(e->release, 10000);
        CloseClipboard();
        return 0;
      },
      &events, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(opened, 5000), WAIT_OBJECT_0);

  WindowDc screen(nullptr);
  HBITMAP result = CreateCompatibleBitmap(screen.get(), 8, 8);
  g_overlayState.ResultBitmap.reset(result);
  CopyResultToClipboard();
  SetEvent(release);
  WaitForSingleObject(holder, 5000);
  CloseHandle(holder);
  CloseHandle(opened);
  CloseHandle(release);

  EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle), L"Fehler");
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), L"Konnte Bild nicht kopieren.");
  EXPECT_FALSE(GetObjectType(result)) << "freed on failure too";
  EXPECT_EQ(ReadText(), L"vorher");
}

TEST_F(ClipboardTest, UnreadableResultKeepsTheClipboardAndSaysSo) {
  PutText(L"vorher");
  WindowDc screen(nullptr);
  HBITMAP gone = CreateCompatibleBitmap(screen.get(), 8, 8);
  DeleteObject(gone);
  g_overlayState.ResultBitmap.reset(gone);
  CopyResultToClipboard();
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), L"Konnte Bild nicht kopieren.");
  EXPECT_EQ(ReadText(), L"vorher") << "nothing was emptied for a picture that never came";
}

TEST_F(ClipboardTest, NoResultNoBalloon) {
  wcscpy_s(g_trayIconData.szInfo, L"unverändert");
  CopyResultToClipboard();
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), L"unverändert");
}

TEST(ToolImageTest, ResourcesLoadAsTwentyEightPixelImages) {
  GdiplusSession gdiplus;
  for (int id = 101; id <= 110; ++id) {
    UniqueGpImage image = LoadPngResource(id);
    ASSERT_TRUE(image) << id;
    UINT width = 0;
    UINT height = 0;
    gp::GdipGetImageWidth(image.get(), &width);
    gp::GdipGetImageHeight(image.get(), &height);
    EXPECT_EQ(width, 28u) << id;
    EXPECT_EQ(height, 28u) << id;
  }
  EXPECT_FALSE(LoadPngResource(111));
  EXPECT_FALSE(LoadPngResource(1)) << "an icon, not RCDATA";
}

TEST(CursorPositionTest, HotspotLandsOnThePointerWithANegativeOrigin) {
  const POINT at = CursorDrawPosition(POINT{-1000, 300}, POINT{16, 16}, POINT{-1280, 0});
  EXPECT_EQ(at.x, 264);
  EXPECT_EQ(at.y, 284);
}

// A window of known content on the real screen, captured.
class ScreenTest : public ::testing::Test {
 protected:
  static LRESULT CALLBACK PatternProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETCURSOR) {
      SetCursor(g_crosshairCursor.get());
      return TRUE;
    }
    if (message == WM_PAINT) {
      PAINTSTRUCT paint;
      HDC hdc = BeginPaint(hwnd, &paint);
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(hdc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      RECT marker = {10, 10, 30, 20};
      UniqueBrush green(CreateSolidBrush(RGB(0, 200, 0)));
      FillRect(hdc, &marker, green.get());
      EndPaint(hwnd, &paint);
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

  void SetUp() override {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = PatternProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"SnapwrenCaptureTestPattern";
    RegisterClassExW(&windowClass);
    if (!g_crosshairCursor) g_crosshairCursor.reset(CreateCrosshairCursor());
    origin_ = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)};
    window_.reset(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"SnapwrenCaptureTestPattern",
                                  L"pattern", WS_POPUP | WS_VISIBLE, origin_.x + 200,
                                  origin_.y + 150, 200, 120, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(window_);
    SetForegroundWindow(window_.get());
    UpdateWindow(window_.get());
  }

  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }

  // Pixels (bitmap coordinates) of a capture, once the window shows on the screen.
  std::vector<DWORD> CaptureWhenShown(bool withCursor, int* width, int* height) {
    std::vector<DWORD> pixels;
    for (int attempt = 0; attempt < 50; ++attempt) {
      Pump();
      UniqueBitmap captured(CaptureScreen(withCursor));
      if (!captured) return {};
      pixels = testpixels::ReadPixels(captured.get(), width, height);
      if ((pixels[static_cast<size_t>(165 * *width + 220)] & 0xFFFFFFu) == 0x00C800u) break;
      Sleep(100);
    }
    return pixels;
  }

  POINT origin_ = {};
  UniqueWindow window_;
};

TEST_F(ScreenTest, CaptureCoversTheVirtualScreenAtItsOrigin) {
  int width = 0;
  int height = 0;
  const auto pixels = CaptureWhenShown(false, &width, &height);
  ASSERT_EQ(width, GetSystemMetrics(SM_CXVIRTUALSCREEN));
  ASSERT_EQ(height, GetSystemMetrics(SM_CYVIRTUALSCREEN));
  auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y * width + x)] & 0xFFFFFFu; };
  EXPECT_EQ(at(220, 165), 0x00C800u) << "the marker, where the window put it";
  EXPECT_EQ(at(209, 165), 0u);
  EXPECT_EQ(at(230, 165), 0u);
  EXPECT_EQ(at(399, 269), 0u) << "the window's far corner";
}

TEST_F(ScreenTest, PointerIsDrawnWithItsHotspotOnThePointer) {
  // The crosshair over the black window: white lines through the pointer with a gap around it.
  const POINT pointer = {origin_.x + 300, origin_.y + 220};
  SetCursorPos(pointer.x, pointer.y);
  SetCursor(g_crosshairCursor.get());
  int width = 0;
  int height = 0;
  const auto plain = CaptureWhenShown(false, &width, &height);
  const auto withPointer = CaptureWhenShown(true, &width, &height);
  auto at = [&](const std::vector<DWORD>& pixels, int x, int y) {
    return pixels[static_cast<size_t>(y * width + x)] & 0xFFFFFFu;
  };
  const int x = 300;
  const int y = 220;
  EXPECT_EQ(at(plain, x - 5, y), 0u) << "no pointer unless asked";
  EXPECT_EQ(at(withPointer, x - 5, y), 0xFFFFFFu);
  EXPECT_EQ(at(withPointer, x + 5, y), 0xFFFFFFu);
  EXPECT_EQ(at(withPointer, x, y - 5), 0xFFFFFFu);
  EXPECT_EQ(at(withPointer, x, y + 15), 0xFFFFFFu);
  EXPECT_EQ(at(withPointer, x, y), 0u) << "the gap around the hotspot";
  EXPECT_EQ(at(withPointer, x - 16, y), 0xFFFFFFu) << "the line's first pixel";
  EXPECT_EQ(at(withPointer, x - 17, y), 0u);
}

}  // namespace
