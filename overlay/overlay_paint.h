// Painting the overlay: the frozen screen, the darkening, the selection's border and size, and
// in phase Selected the handles, the toolbar and its tooltip.
#pragma once

#include <windows.h>

#include <string>

class CaptureSession;

// The selection's frame, and the frame of a pinned selection.
constexpr COLORREF kSelectionColor = RGB(255, 182, 193);

// WM_PAINT: the frame inside the update region into the session's back buffer, then one copy
// to the window.
void PaintOverlay(HWND hwnd, CaptureSession& session);
// Invalidates the parts of the overlay that differ from what its last paint showed.
void InvalidateChanges(HWND hwnd, const CaptureSession& session);
// The whole frame, width x height, into any device context.
void PaintOverlayFrame(CaptureSession& session, HDC hdc, int width, int height);
// Each pixel (0x00RRGGBB) as the darkening layer over it shows it.
void DarkenPixels(DWORD* pixels, size_t count);
// "W x H" of a rectangle, as the label above the selection shows it.
std::wstring FormatSizeLabel(const RECT& rect);
