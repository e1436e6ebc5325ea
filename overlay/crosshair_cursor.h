// The overlay's thin white crosshair with a gap around its hotspot.
#pragma once

#include <windows.h>

#include <vector>

// Drawn at 96 DPI on a 32 x 32 cursor; at other sizes the drawing is scaled to fit.
constexpr int kCrosshairSize = 32;
constexpr int kCrosshairHotspot = 16;

// Monochrome cursor planes of size x size pixels: rows of whole 16-bit words, as monochrome
// bitmaps store them, the most significant bit the leftmost pixel.
struct CursorPlanes {
  int Size = 0;
  std::vector<BYTE> And;
  std::vector<BYTE> Xor;
};

CursorPlanes BuildCrosshairPlanes(int size);
// Null when the system cannot make it; the caller owns it.
HCURSOR CreateCrosshairCursor(UINT dpi);
