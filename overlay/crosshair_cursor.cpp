#include "overlay/crosshair_cursor.h"

#include "app/dpi.h"

namespace {

// Pixels 14 to 17 of both lines stay transparent, so the exact point under the hotspot is not
// hidden by the cursor itself.
constexpr int kGapFirst = 14;
constexpr int kGapLast = 17;

bool WhiteAt96(int x, int y) {
  const bool onRow = y == kCrosshairHotspot && (x < kGapFirst || x > kGapLast);
  const bool onColumn = x == kCrosshairHotspot && (y < kGapFirst || y > kGapLast);
  return onRow || onColumn;
}

}  // namespace

CursorPlanes BuildCrosshairPlanes(int size) {
  CursorPlanes planes;
  planes.Size = size;
  const int rowBytes = (size + 15) / 16 * 2;
  planes.And.assign(static_cast<size_t>(rowBytes * size), 0xFF);
  planes.Xor.assign(static_cast<size_t>(rowBytes * size), 0x00);
  // Each pixel takes the look of the 96-DPI pixel it covers, so lines and gap grow together.
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      if (!WhiteAt96(x * kCrosshairSize / size, y * kCrosshairSize / size)) continue;
      // AND 0 with XOR 1 draws white.
      const auto index = static_cast<size_t>(y * rowBytes + x / 8);
      const BYTE bit = static_cast<BYTE>(0x80u >> (x % 8));
      planes.And[index] = static_cast<BYTE>(planes.And[index] & ~bit);
      planes.Xor[index] = static_cast<BYTE>(planes.Xor[index] | bit);
    }
  }
  return planes;
}

// The system's own cursor size at the DPI, which is 32 at 96 DPI and which CreateCursor is
// documented to take.
HCURSOR CreateCrosshairCursor(UINT dpi) {
  int size = SystemMetricForDpi(SM_CXCURSOR, dpi);
  if (size <= 0) size = Scale(kCrosshairSize, dpi);
  const CursorPlanes planes = BuildCrosshairPlanes(size);
  const int hotspot = size * kCrosshairHotspot / kCrosshairSize;
  return CreateCursor(GetModuleHandleW(nullptr), hotspot, hotspot, size, size, planes.And.data(),
                      planes.Xor.data());
}
