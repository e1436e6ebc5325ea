#include "overlay/magnifier.h"

#include <algorithm>
#include <cwchar>

#include "app/app.h"
#include "app/clipboard.h"
#include "app/dpi.h"
#include "app/gdiplus_handles.h"
#include "app/notifier.h"
#include "app/win_handles.h"
#include "overlay/overlay_paint.h"
#include "overlay/session.h"

namespace {

// Sizes at 96 DPI: each screen pixel becomes a square of kZoom, and the grid sits in a frame of
// kFrame above a band of two text lines.
constexpr int kZoom = 8;
constexpr int kFrame = 1;
constexpr int kTextBand = 36;
constexpr int kTextInset = 6;
constexpr int kLineHeight = 16;
constexpr int kFontSize = 12;
constexpr int kSwatch = 10;
constexpr int kSwatchGap = 4;
// Far enough from the pointer's hot spot that the crosshair cursor does not cover the grid.
constexpr int kPointerGap = 20;
constexpr int kCrosshairWidth = 1;
constexpr int kCentre = kMagnifiedPixels / 2;
// Framed like the selection it helps to place.
constexpr COLORREF kFrameColor = kSelectionColor;
constexpr COLORREF kBandColor = RGB(50, 50, 50);
constexpr COLORREF kTextColor = RGB(255, 255, 255);

int GridSide(UINT dpi) { return kMagnifiedPixels * Scale(kZoom, dpi); }

void Fill(HDC hdc, const RECT& rect, COLORREF colour) {
  UniqueBrush brush(CreateSolidBrush(colour));
  if (brush) FillRect(hdc, &rect, brush.get());
}

// The screen's pixels around centre, enlarged into grid; black where the screen ends.
void DrawGrid(HDC hdc, HBITMAP screen, POINT centre, const RECT& grid, int zoom) {
  FillRect(hdc, &grid, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  BITMAP info = {};
  if (!screen || !GetObjectW(screen, sizeof info, &info)) return;
  const RECT around = {centre.x - kCentre, centre.y - kCentre, centre.x + kCentre + 1,
                       centre.y + kCentre + 1};
  const RECT bounds = {0, 0, info.bmWidth, info.bmHeight};
  RECT part = {};
  if (!IntersectRect(&part, &around, &bounds)) return;
  UniqueMemoryDc source(CreateCompatibleDC(hdc));
  if (!source) return;
  SelectGuard select(source.get(), screen);
  // Each pixel repeated, never blended with its neighbours.
  SetStretchBltMode(hdc, COLORONCOLOR);
  const int width = part.right - part.left;
  const int height = part.bottom - part.top;
  StretchBlt(hdc, grid.left + (part.left - around.left) * zoom,
             grid.top + (part.top - around.top) * zoom, width * zoom, height * zoom, source.get(),
             part.left, part.top, width, height, SRCCOPY);
}

// Lines along the centre pixel's column and row, just outside it, so that the pixel itself
// shows whole.
void DrawCrosshair(HDC hdc, const RECT& grid, int zoom, UINT dpi) {
  const int line = Scale(kCrosshairWidth, dpi);
  const int before = kCentre * zoom;
  const int after = before + zoom;
  const RECT lines[] = {
      {grid.left + before - line, grid.top, grid.left + before, grid.bottom},
      {grid.left + after, grid.top, grid.left + after + line, grid.bottom},
      {grid.left, grid.top + before - line, grid.right, grid.top + before},
      {grid.left, grid.top + after, grid.right, grid.top + after + line},
  };
  for (const RECT& rect : lines) Fill(hdc, rect, kFrameColor);
}

void DrawLine(HDC hdc, const RECT& box, int x, int y, const std::wstring& text) {
  ExtTextOutW(hdc, x, y, ETO_CLIPPED, &box, text.c_str(), static_cast<UINT>(text.size()),
              nullptr);
}

}  // namespace

RECT MagnifierRect(POINT pointer, const RECT& monitor, UINT dpi) {
  const int width = GridSide(dpi) + 2 * Scale(kFrame, dpi);
  const int height = width + Scale(kTextBand, dpi);
  const int gap = Scale(kPointerGap, dpi);
  LONG left = pointer.x + gap;
  if (left + width > monitor.right) left = pointer.x - gap - width;
  LONG top = pointer.y + gap;
  if (top + height > monitor.bottom) top = pointer.y - gap - height;
  // A monitor too small for either side keeps the magnifier at its top-left corner.
  left = std::max(left, monitor.left);
  top = std::max(top, monitor.top);
  return RECT{left, top, left + width, top + height};
}

std::wstring FormatColour(COLORREF colour) {
  wchar_t text[8];
  swprintf(text, 8, L"#%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return text;
}

bool ShowsMagnifier(const OverlayState& state) {
  return state.Phase == OverlayPhase::NoSelection && !IsRectEmpty(&state.PointerMonitor);
}

COLORREF ScreenColourAt(HBITMAP screen, POINT point) {
  UniqueMemoryDc source(CreateCompatibleDC(nullptr));
  if (!screen || !source) return RGB(0, 0, 0);
  SelectGuard select(source.get(), screen);
  const COLORREF colour = GetPixel(source.get(), point.x, point.y);
  return colour == CLR_INVALID ? RGB(0, 0, 0) : colour;
}

void DrawMagnifier(HDC hdc, HBITMAP screen, const OverlayState& state) {
  const UINT dpi = state.Dpi;
  const POINT pointer = state.Pointer;
  const RECT box = MagnifierRect(pointer, state.PointerMonitor, dpi);
  const int frame = Scale(kFrame, dpi);
  const int zoom = Scale(kZoom, dpi);
  const RECT grid = {box.left + frame, box.top + frame, box.left + frame + GridSide(dpi),
                     box.top + frame + GridSide(dpi)};
  // The stretch mode, font and text colours set here are the DC's own again afterwards.
  const int saved = SaveDC(hdc);
  Fill(hdc, box, kFrameColor);
  const RECT band = {box.left + frame, grid.bottom, box.right - frame, box.bottom - frame};
  Fill(hdc, band, kBandColor);
  DrawGrid(hdc, screen, pointer, grid, zoom);
  DrawCrosshair(hdc, grid, zoom, dpi);

  const COLORREF colour = ScreenColourAt(screen, pointer);
  const int x = band.left + Scale(kTextInset, dpi);
  const int firstLine = band.top + Scale(kTextInset, dpi) / 2;
  const int secondLine = firstLine + Scale(kLineHeight, dpi);
  const int swatch = Scale(kSwatch, dpi);
  const int swatchTop = secondLine + (Scale(kLineHeight, dpi) - swatch) / 2;
  Fill(hdc, RECT{x, swatchTop, x + swatch, swatchTop + swatch}, colour);

  UniqueFont font(CreateFontW(-Scale(kFontSize, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                              DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                              DEFAULT_QUALITY, DEFAULT_PITCH, kUiFontFamily));
  if (font) SelectObject(hdc, font.get());
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, kTextColor);
  SetTextAlign(hdc, TA_LEFT | TA_TOP);
  wchar_t position[32];
  swprintf(position, 32, L"%ld, %ld", pointer.x + state.ScreenOrigin.x,
           pointer.y + state.ScreenOrigin.y);
  DrawLine(hdc, band, x, firstLine, position);
  DrawLine(hdc, band, x + swatch + Scale(kSwatchGap, dpi), secondLine, FormatColour(colour));
  RestoreDC(hdc, saved);
}

void CopyPointerColour(const CaptureSession& session) {
  const std::wstring text = FormatColour(ScreenColourAt(session.Screen(), session.State.Pointer));
  if (CopyTextToClipboard(OwnerWindow(), text)) {
    ShowTrayNotification(kAppTitle, L"Farbe kopiert: " + text);
  } else {
    ShowTrayNotification(L"Fehler", L"Konnte Farbe nicht kopieren.");
  }
}
