// The toolbar beside the selection and the eight resize handles on its outline: their
// rectangles, computed from the selection, and the hit tests the editor needs.
#pragma once

#include <windows.h>

#include "overlay/overlay_state.h"

// In the order the tooltip looks labels up.
enum class ToolbarButtonId {
  Pen = 0,
  Line,
  Arrow,
  Rectangle,
  Text,
  Undo,
  Color,
  Copy,
  Save,
  Upload,
  Close,
  Mosaic,
  Number,
  Pin,
};

constexpr int kToolbarButtonCount = 14;
constexpr int kHandleCount = 8;
constexpr int kNoHandle = 0;
constexpr int kFirstHandle = 2;  // handle numbers run 2 to 9, as DragMode's resize values
// At 96 DPI.
constexpr int kToolbarButtonSize = 28;

struct ToolbarLayout {
  RECT Buttons[kToolbarButtonCount] = {};
  // Handles 2 to 9 at index 0 to 7.
  RECT Handles[kHandleCount] = {};

  const RECT& Button(ToolbarButtonId id) const { return Buttons[static_cast<int>(id)]; }
};

// A monitor in overlay client coordinates: its whole area (the overlay covers the taskbar too)
// and its DPI.
struct OverlayMonitor {
  RECT Area;
  UINT Dpi;
};
// The monitor that holds most of rect, or the nearest one.
OverlayMonitor MonitorOfRect(const RECT& rect);
OverlayMonitor MonitorAtPoint(POINT point);
// What a click at point selects: the window of the frozen screen or the monitor there.
RECT ClickTargetAt(const OverlayState& state, POINT point);

// Buttons and handles at dpi, kept to monitor by flipping to the other side of the selection.
ToolbarLayout ComputeToolbarLayout(const RECT& selection, const RECT& monitor, UINT dpi);
// 2 to 9 for the first handle holding the point, 0 for none.
int HitTestHandle(const ToolbarLayout& layout, POINT point);
// The label of the first button holding the point, or null.
const wchar_t* GetToolbarLabel(const ToolbarLayout& layout, POINT point);
const wchar_t* ToolbarLabel(ToolbarButtonId id);
// The toolbar image slot the button shows, or -1 for the colour swatch.
int ToolbarImageSlot(ToolbarButtonId id);
// The tool a tool button toggles; Tool::None for the other buttons.
Tool ToolOfButton(ToolbarButtonId id);
// The layout for the state's selection on its monitor, whose DPI the overlay takes on.
void LayoutToolbar(OverlayState& state, ToolbarLayout& layout);
