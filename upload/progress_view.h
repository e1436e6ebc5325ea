// What the upload progress window looks like and where it stands.
#pragma once

#include <windows.h>

// A small captioned window on top of everything, without a taskbar button; the update's download
// window has the same look.
constexpr DWORD kProgressExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
constexpr DWORD kProgressStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
// At 96 DPI.
constexpr int kProgressWidth = 350;
constexpr int kProgressHeight = 140;

// Slot 0 stands 20 pixels from the right and 50 above the bottom of the primary screen, scaled
// to dpi like the window itself; each further upload running at the same time stacks its window
// above, wrapping to the bottom when the screen is full.
RECT ProgressWindowRect(int screenWidth, int screenHeight, int slot, UINT dpi);
// 10 degrees further, kept in [0, 360).
float AdvanceSpinnerAngle(float angle);
// The petals turned by angle degrees and the state's text at dpi, into any DC (GDI+ must be
// started).
void PaintProgress(HDC hdc, const RECT& client, float angle, bool succeeded, UINT dpi);
