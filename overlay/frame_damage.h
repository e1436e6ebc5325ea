// Which parts of the overlay a change of the editor's state makes stale. A pointer move on a
// 4K screen touches a few hundred thousand pixels at most; repainting only those keeps the
// selection on the pointer instead of redrawing eight million per move.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "overlay/overlay_state.h"
#include "overlay/toolbar.h"

// As much of a frame as decides where it differs from another one. Every bound is generous:
// a bound too large costs a little time, one too small leaves stale pixels.
struct FrameLook {
  // Every size in the frame follows it.
  UINT Dpi = USER_DEFAULT_SCREEN_DPI;
  OverlayPhase Phase = OverlayPhase::NoSelection;
  // The selection (or first drag) is shown bright with border and size label.
  bool HasRectangle = false;
  RECT Shown = {0, 0, 0, 0};
  // Bright inside, border, size label, handles and toolbar panels together; empty when none.
  RECT Extent = {0, 0, 0, 0};
  RECT Panels = {0, 0, 0, 0};
  // One bit per toolbar button under the pointer.
  unsigned Hovered = 0;
  Tool CurrentTool = Tool::None;
  COLORREF CurrentColor = 0;
  size_t AnnotationCount = 0;
  bool Stroking = false;
  RECT Stroke = {0, 0, 0, 0};
  // The tooltip's label once its box shows.
  std::wstring Tooltip;
  POINT TooltipAnchor = {0, 0};
  // Before the selection: the magnifier and the pointer whose pixels it shows; empty when none.
  RECT Magnifier = {0, 0, 0, 0};
  POINT MagnifierPointer = {0, 0};
  // The texts being typed with the caret as shown, and what they cover.
  std::wstring Typed;
  RECT Typing = {0, 0, 0, 0};
};

FrameLook LookOf(const OverlayState& state, const ToolbarLayout& layout);
// The rectangles to repaint when the window shows before and the state has become after; one
// rectangle of the whole client area when the change is too wide to be worth splitting.
std::vector<RECT> StaleRects(const FrameLook& before, const FrameLook& after, int width,
                             int height);

// Bounds of what single elements paint at dpi.
RECT SizeLabelBounds(const RECT& shown, UINT dpi);
RECT TooltipBounds(const std::wstring& text, POINT anchor, UINT dpi);
RECT AnnotationBounds(const Annotation& annotation);
// Text of size pixels with the caret, as the text entry shows it while typing.
RECT TextPreviewBounds(POINT origin, size_t characters, int size);
