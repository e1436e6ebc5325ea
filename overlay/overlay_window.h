// The full-screen overlay editor's window procedure and its input handling.
#pragma once

#include <windows.h>

#include "overlay/overlay_state.h"

enum class OverlayCursor { Crosshair, Arrow, SizeAll, SizeNWSE, SizeNS, SizeNESW, SizeWE };

LRESULT CALLBACK OverlayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
// Ends the session without a result.
void CancelOverlay(HWND hwnd);
// The cursor over a point: handle is HitTestHandle's answer there.
OverlayCursor ChooseOverlayCursor(OverlayPhase phase, Tool tool, int handle, bool insideSelection);
// Mouse coordinates are signed: monitors left of or above the primary one are negative.
POINT PointFromLParam(LPARAM lParam);
