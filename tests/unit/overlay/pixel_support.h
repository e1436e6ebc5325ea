// Known pictures and pixel access for tests that look at what the overlay draws.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "app/win_handles.h"

namespace testpixels {

// 0x00RRGGBB, as a 32-bit DIB stores a pixel.
inline DWORD Rgb(BYTE r, BYTE g, BYTE b) {
  return (static_cast<DWORD>(r) << 16) | (static_cast<DWORD>(g) << 8) | b;
}
inline BYTE Red(DWORD pixel) { return static_cast<BYTE>(pixel >> 16); }
inline BYTE Green(DWORD pixel) { return static_cast<BYTE>(pixel >> 8); }
inline BYTE Blue(DWORD pixel) { return static_cast<BYTE>(pixel); }

// Every pixel differs from its neighbours, so a shifted copy cannot pass for the original;
// no channel is ever 0 or 255, so black and white marks stand out.
inline DWORD PatternAt(int x, int y) {
  return Rgb(static_cast<BYTE>(20 + (x * 7) % 200), static_cast<BYTE>(20 + (y * 5) % 200),
             static_cast<BYTE>(20 + ((x + y) * 3) % 200));
}

inline bool Near(DWORD actual, DWORD expected, int tolerance) {
  return std::abs(Red(actual) - Red(expected)) <= tolerance &&
         std::abs(Green(actual) - Green(expected)) <= tolerance &&
         std::abs(Blue(actual) - Blue(expected)) <= tolerance;
}

// Black blended at 128 of 255 over a pixel.
inline DWORD Darkened(DWORD pixel) {
  auto half = [](BYTE channel) { return static_cast<BYTE>(channel * 127 / 255); };
  return Rgb(half(Red(pixel)), half(Green(pixel)), half(Blue(pixel)));
}

// A top-down 32-bit DIB section selected into its own memory DC.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<DWORD*>(bits);
    dc_.reset(CreateCompatibleDC(nullptr));
    previous_ = SelectObject(dc_.get(), bitmap_.get());
  }
  ~Canvas() { SelectObject(dc_.get(), previous_); }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_.get(); }
  HBITMAP bitmap() const { return bitmap_.get(); }
  int width() const { return width_; }
  int height() const { return height_; }
  DWORD At(int x, int y) const {
    GdiFlush();
    return bits_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] &
           0xFFFFFFu;
  }
  // Every pixel, rows top first, the fourth byte included.
  const DWORD* bits() const {
    GdiFlush();
    return bits_;
  }
  void Set(int x, int y, DWORD pixel) {
    bits_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)] = pixel;
  }
  void FillPattern() {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) Set(x, y, PatternAt(x, y));
    }
  }

 private:
  int width_;
  int height_;
  UniqueBitmap bitmap_;
  UniqueMemoryDc dc_;
  DWORD* bits_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

// The pattern in a bitmap that is not selected into any DC, as the session's screen bitmap is
// when the overlay paints from it.
class PatternBitmap {
 public:
  PatternBitmap(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    DWORD* pixels = static_cast<DWORD*>(bits);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
            PatternAt(x, y);
      }
    }
  }
  HBITMAP get() const { return bitmap_.get(); }

 private:
  UniqueBitmap bitmap_;
};

// Any bitmap's pixels, top row first, with the fourth byte kept.
inline std::vector<DWORD> ReadPixels(HBITMAP bitmap, int* width, int* height) {
  BITMAP info = {};
  GetObjectW(bitmap, sizeof info, &info);
  *width = info.bmWidth;
  *height = info.bmHeight;
  BITMAPINFO header = {};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = info.bmWidth;
  header.bmiHeader.biHeight = -info.bmHeight;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> pixels(static_cast<size_t>(info.bmWidth) * static_cast<size_t>(info.bmHeight));
  WindowDc screen(nullptr);
  GetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(info.bmHeight), pixels.data(), &header,
            DIB_RGB_COLORS);
  return pixels;
}

}  // namespace testpixels
