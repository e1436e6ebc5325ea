// Freezing the whole virtual screen (all monitors) into one bitmap.
#pragma once

#include <windows.h>

// A 32-bit DIB section as large as the virtual screen, its (0,0) at the virtual screen's top-left
// corner; null on failure. The caller owns it.
HBITMAP CaptureScreen(bool withCursor);
// A top-down 32-bit DIB section of width x height, 0x00RRGGBB per pixel, its pixels in *pixels.
HBITMAP CreatePixelBitmap(int width, int height, DWORD** pixels);
// Where a cursor's image goes in the bitmap so that its hotspot covers the pointer.
POINT CursorDrawPosition(POINT pointer, POINT hotspot, POINT virtualOrigin);
