#include "capture/screen_capture.h"

#include "app/pixel_bitmap.h"
#include "app/win_handles.h"

namespace {

// A hidden pointer, or any failure on the way, leaves the picture without one.
void DrawPointer(HDC target, POINT virtualOrigin) {
  CURSORINFO cursor = {};
  cursor.cbSize = sizeof cursor;
  if (!GetCursorInfo(&cursor) || !(cursor.flags & CURSOR_SHOWING)) return;
  ICONINFO icon = {};
  if (!GetIconInfo(cursor.hCursor, &icon)) return;
  // GetIconInfo hands out copies of both bitmaps.
  UniqueBitmap mask(icon.hbmMask);
  UniqueBitmap colour(icon.hbmColor);
  const POINT hotspot = {static_cast<LONG>(icon.xHotspot), static_cast<LONG>(icon.yHotspot)};
  const POINT at = CursorDrawPosition(cursor.ptScreenPos, hotspot, virtualOrigin);
  DrawIconEx(target, at.x, at.y, cursor.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
}

}  // namespace

POINT CursorDrawPosition(POINT pointer, POINT hotspot, POINT virtualOrigin) {
  return POINT{pointer.x - hotspot.x - virtualOrigin.x, pointer.y - hotspot.y - virtualOrigin.y};
}

// A DIB section is as good a target for the screen's copy as a compatible bitmap, and its pixels
// can be darkened in memory, without GDI.
UniqueBitmap CaptureScreen(bool withCursor) {
  const POINT origin = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)};
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);

  WindowDc screen(nullptr);
  if (!screen) return {};
  DWORD* pixels = nullptr;
  UniqueBitmap bitmap = CreatePixelBitmap(width, height, &pixels);
  if (!bitmap) return {};
  UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  if (!memory) return {};
  {
    SelectGuard select(memory.get(), bitmap.get());
    // Without CAPTUREBLT: layered windows stay out, as the user expects of a frozen desktop.
    BitBlt(memory.get(), 0, 0, width, height, screen.get(), origin.x, origin.y, SRCCOPY);
    if (withCursor) DrawPointer(memory.get(), origin);
  }
  return bitmap;
}
