#include "app/pixel_bitmap.h"

UniqueBitmap CreatePixelBitmap(int width, int height, DWORD** pixels) {
  BITMAPINFO info = {};
  // A negative height puts the top row first, so pixel (x, y) is pixels[y * width + x].
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  UniqueBitmap bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  *pixels = bitmap ? static_cast<DWORD*>(bits) : nullptr;
  return bitmap;
}
