// Freezing the whole virtual screen (all monitors) into one bitmap.
#pragma once

#include <windows.h>

#include "app/win_handles.h"

// A 32-bit DIB section as large as the virtual screen, its (0,0) at the virtual screen's top-left
// corner; null on failure.
UniqueBitmap CaptureScreen(bool withCursor);
// Where a cursor's image goes in the bitmap so that its hotspot covers the pointer.
POINT CursorDrawPosition(POINT pointer, POINT hotspot, POINT virtualOrigin);
