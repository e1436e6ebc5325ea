// The magnifier beside the pointer before a selection exists: the frozen screen's pixels around
// the pointer, enlarged, with the pointer's screen coordinates and the colour under it.
#pragma once

#include <windows.h>

#include <string>

#include "overlay/overlay_state.h"

class CaptureSession;

// The pixels shown around the centre one, across and down.
constexpr int kMagnifiedPixels = 15;

// Where the magnifier shows for the pointer at dpi: below and right of it, or above and left
// where that would leave its monitor; everything in overlay coordinates.
RECT MagnifierRect(POINT pointer, const RECT& monitor, UINT dpi);
// "#RRGGBB", in capitals.
std::wstring FormatColour(COLORREF colour);
// Only until the selection is accepted, and once the pointer has been seen.
bool ShowsMagnifier(const OverlayState& state);
// The frozen screen's colour at point; black outside it.
COLORREF ScreenColourAt(HBITMAP screen, POINT point);
// The magnifier for the state's pointer, into hdc in overlay coordinates. It covers all of its
// rectangle, so nothing beneath needs drawing first.
void DrawMagnifier(HDC hdc, HBITMAP screen, const OverlayState& state);
// The colour under the pointer onto the clipboard as text, and a balloon saying so.
void CopyPointerColour(const CaptureSession& session);
