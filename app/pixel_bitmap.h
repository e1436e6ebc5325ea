// The one kind of bitmap whose pixels Snapwren reads and writes in memory.
#pragma once

#include <windows.h>

#include "app/win_handles.h"

// A top-down 32-bit DIB section of width x height, 0x00RRGGBB per pixel, its pixels in *pixels
// (null on failure).
UniqueBitmap CreatePixelBitmap(int width, int height, DWORD** pixels);
