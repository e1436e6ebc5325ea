#include "overlay/toolbar.h"

#include "app/dpi.h"
#include "overlay/overlay_state.h"

namespace {

// Sizes at 96 DPI.
constexpr int kGap = 2;
constexpr int kMargin = 12;
constexpr int kToolCount = 7;
constexpr int kTopFallback = 10;
constexpr int kInsideGap = 4;  // between the row inside the selection and its bottom
constexpr int kHandleHalf = 4;

struct ButtonInfo {
  const wchar_t* label;
  int imageSlot;
  Tool tool;
};

// Image slots follow the resource ids 101 to 113.
constexpr ButtonInfo kButtons[kToolbarButtonCount] = {
    {L"Stift", 0, Tool::Pen},
    {L"Linie", 1, Tool::Line},
    {L"Pfeil", 2, Tool::Arrow},
    {L"Rechteck", 3, Tool::Rectangle},
    {L"Text", 7, Tool::Text},
    {L"Rückgängig", 4, Tool::None},
    {L"Farbe", -1, Tool::None},
    {L"Kopieren (Strg+C)", 5, Tool::None},
    {L"Speichern (Strg+S)", 8, Tool::None},
    {L"Hochladen (Strg+D)", 9, Tool::None},
    {L"Schließen (Strg+X)", 6, Tool::None},
    {L"Verpixeln", 10, Tool::Mosaic},
    {L"Nummer", 11, Tool::Number},
    {L"Anheften (Strg+P)", 12, Tool::None},
};

OverlayMonitor DescribeMonitor(HMONITOR monitor) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  const LONG x = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const LONG y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const RECT& area = info.rcMonitor;
  return {RECT{area.left - x, area.top - y, area.right - x, area.bottom - y},
          DpiForMonitor(monitor)};
}

}  // namespace

OverlayMonitor MonitorOfRect(const RECT& rect) {
  // A resize may have turned the selection inside out; its monitor is the same.
  const LONG x = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const LONG y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const RECT normal =
      NormalizedRect({rect.left + x, rect.top + y}, {rect.right + x, rect.bottom + y});
  return DescribeMonitor(MonitorFromRect(&normal, MONITOR_DEFAULTTONEAREST));
}

OverlayMonitor MonitorAtPoint(POINT point) {
  const POINT onScreen = {point.x + GetSystemMetrics(SM_XVIRTUALSCREEN),
                          point.y + GetSystemMetrics(SM_YVIRTUALSCREEN)};
  return DescribeMonitor(MonitorFromPoint(onScreen, MONITOR_DEFAULTTONEAREST));
}

RECT ClickTargetAt(const OverlayState& state, POINT point) {
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXVIRTUALSCREEN),
                       GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  // The pointer's monitor, while the pointer is on it, is known already.
  const RECT monitor = RectContains(state.PointerMonitor, point) ? state.PointerMonitor
                                                                 : MonitorAtPoint(point).Area;
  return PickTarget(state.Windows, point, monitor, screen);
}

ToolbarLayout ComputeToolbarLayout(const RECT& selection, const RECT& monitor, UINT dpi) {
  const LONG left = selection.left;
  const LONG top = selection.top;
  const LONG right = selection.right;
  const LONG bottom = selection.bottom;
  const LONG size = Scale(kToolbarButtonSize, dpi);
  const LONG step = size + Scale(kGap, dpi);
  const LONG margin = Scale(kMargin, dpi);
  const LONG flip = size + margin;  // to the other side of the selection
  ToolbarLayout layout;
  auto square = [size](LONG x, LONG y) { return RECT{x, y, x + size, y + size}; };

  const bool flipped = right + margin + size > monitor.right;
  const LONG columnX = flipped ? left - flip : right + margin;
  // By default the column ends level with the selection's bottom, but it never starts above
  // the selection's top.
  LONG columnY = bottom - (step * kToolCount - Scale(kGap, dpi));
  if (columnY < monitor.top) columnY = monitor.top + Scale(kTopFallback, dpi);
  if (columnY < top) columnY = top;
  for (int k = 0; k < kToolCount; ++k) layout.Buttons[k] = square(columnX, columnY + step * k);
  // The second column stands beside the first, away from the selection.
  const LONG secondX = flipped ? columnX - step : columnX + step;
  layout.Buttons[static_cast<int>(ToolbarButtonId::Mosaic)] = square(secondX, columnY);
  layout.Buttons[static_cast<int>(ToolbarButtonId::Number)] = square(secondX, columnY + step);
  layout.Buttons[static_cast<int>(ToolbarButtonId::Pin)] = square(secondX, columnY + 2 * step);

  // Below the selection; above it when the monitor ends; inside along its bottom when there is
  // no room above either.
  LONG rowY = bottom + margin;
  if (rowY + size > monitor.bottom) {
    rowY = top - flip;
    if (rowY < monitor.top) rowY = bottom - size - Scale(kInsideGap, dpi);
  }
  // Right-aligned to the selection: Close last, Copy first.
  const ToolbarButtonId row[] = {ToolbarButtonId::Copy, ToolbarButtonId::Save,
                                 ToolbarButtonId::Upload, ToolbarButtonId::Close};
  for (int i = 0; i < 4; ++i) {
    layout.Buttons[static_cast<int>(row[i])] = square(right - step * (3 - i) - size, rowY);
  }

  const LONG half = Scale(kHandleHalf, dpi);
  const LONG midX = (left + right) / 2;
  const LONG midY = (top + bottom) / 2;
  const POINT centres[kHandleCount] = {{left, top},     {midX, top},    {right, top},
                                       {right, midY},   {right, bottom}, {midX, bottom},
                                       {left, bottom},  {left, midY}};
  for (int i = 0; i < kHandleCount; ++i) {
    layout.Handles[i] = RECT{centres[i].x - half, centres[i].y - half, centres[i].x + half,
                             centres[i].y + half};
  }
  return layout;
}

int HitTestHandle(const ToolbarLayout& layout, POINT point) {
  for (int i = 0; i < kHandleCount; ++i) {
    if (RectContains(layout.Handles[i], point)) return kFirstHandle + i;
  }
  return kNoHandle;
}

const wchar_t* GetToolbarLabel(const ToolbarLayout& layout, POINT point) {
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    if (RectContains(layout.Buttons[i], point)) return kButtons[i].label;
  }
  return nullptr;
}

const wchar_t* ToolbarLabel(ToolbarButtonId id) { return kButtons[static_cast<int>(id)].label; }

int ToolbarImageSlot(ToolbarButtonId id) { return kButtons[static_cast<int>(id)].imageSlot; }

Tool ToolOfButton(ToolbarButtonId id) { return kButtons[static_cast<int>(id)].tool; }

void LayoutToolbar(OverlayState& state, ToolbarLayout& layout) {
  const OverlayMonitor monitor = MonitorOfRect(state.SelectionRect);
  state.Dpi = monitor.Dpi;
  layout = ComputeToolbarLayout(state.SelectionRect, monitor.Area, monitor.Dpi);
}
