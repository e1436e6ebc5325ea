// The overlay's thin white crosshair with a gap around its hotspot.
#pragma once

#include <windows.h>

constexpr int kCrosshairSize = 32;
constexpr int kCrosshairHotspot = 16;
constexpr int kCrosshairPlaneBytes = kCrosshairSize * kCrosshairSize / 8;

// Monochrome cursor planes: 32 rows of 4 bytes, the most significant bit the leftmost pixel.
struct CursorPlanes {
  BYTE And[kCrosshairPlaneBytes];
  BYTE Xor[kCrosshairPlaneBytes];
};

CursorPlanes BuildCrosshairPlanes();
// Null when the system cannot make it; the caller owns it.
HCURSOR CreateCrosshairCursor();
