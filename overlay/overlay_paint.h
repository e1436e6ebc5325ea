// Painting the overlay: the frozen screen, the darkening, the selection's border and size, and
// in phase Selected the handles, the toolbar and its tooltip.
#pragma once

#include <windows.h>

#include <string>

#include "app/gdiplus_handles.h"

// WM_PAINT: the frame inside the update region into the session's back buffer, then one copy
// to the window.
void PaintOverlay(HWND hwnd);
// Invalidates the parts of the overlay that differ from what its last paint showed.
void InvalidateChanges(HWND hwnd);
// The whole frame, width x height, into any device context.
void PaintOverlayFrame(HDC hdc, int width, int height);
// Frees what the session's paints kept: the darkened screen and the back buffer.
void ReleaseOverlayCanvas();
// The tooltip box of the button under the pointer, when it is due.
void DrawTooltip(HDC hdc);
void DrawToolbarIcon(HDC hdc, const RECT& button, Gdiplus::GpImage* image, bool active,
                     bool hovered);
void FillRoundedPanel(HDC hdc, const RECT& panel, UINT dpi);
// Each pixel (0x00RRGGBB) as the darkening layer over it shows it.
void DarkenPixels(DWORD* pixels, size_t count);
// "W x H" of a rectangle, as the label above the selection shows it.
std::wstring FormatSizeLabel(const RECT& rect);
// The panels behind the tool column, the second column and the action row.
RECT ToolPanelRect();
RECT SecondPanelRect();
RECT ActionPanelRect();
