#include "capture/crosshair_cursor.h"

#include <cstring>

namespace {

constexpr int kRowBytes = kCrosshairSize / 8;
// Pixels 14 to 17 of both lines stay transparent, so the exact point under the hotspot is not
// hidden by the cursor itself.
constexpr int kGapFirst = 14;
constexpr int kGapLast = 17;

// AND 0 with XOR 1 draws white.
void SetWhite(CursorPlanes& planes, int x, int y) {
  const int index = y * kRowBytes + x / 8;
  const BYTE bit = static_cast<BYTE>(0x80u >> (x % 8));
  planes.And[index] = static_cast<BYTE>(planes.And[index] & ~bit);
  planes.Xor[index] = static_cast<BYTE>(planes.Xor[index] | bit);
}

}  // namespace

CursorPlanes BuildCrosshairPlanes() {
  CursorPlanes planes;
  std::memset(planes.And, 0xFF, sizeof planes.And);
  std::memset(planes.Xor, 0x00, sizeof planes.Xor);
  for (int k = 0; k < kCrosshairSize; ++k) {
    if (k >= kGapFirst && k <= kGapLast) continue;
    SetWhite(planes, k, kCrosshairHotspot);
    SetWhite(planes, kCrosshairHotspot, k);
  }
  return planes;
}

HCURSOR CreateCrosshairCursor() {
  const CursorPlanes planes = BuildCrosshairPlanes();
  return CreateCursor(GetModuleHandleW(nullptr), kCrosshairHotspot, kCrosshairHotspot,
                      kCrosshairSize, kCrosshairSize, planes.And, planes.Xor);
}
