#include "overlay/overlay_window.h"

#include "app/window_proc.h"
#include "capture/capture_session.h"
#include "overlay/annotations.h"
#include "overlay/export.h"
#include "overlay/overlay_paint.h"
#include "overlay/toolbar.h"
#include "settings/settings.h"

namespace {

const ToolbarButtonId kToolButtons[] = {ToolbarButtonId::Pen,    ToolbarButtonId::Line,
                                        ToolbarButtonId::Arrow,  ToolbarButtonId::Rectangle,
                                        ToolbarButtonId::Text,   ToolbarButtonId::Mosaic,
                                        ToolbarButtonId::Number};

void Repaint(HWND hwnd) { InvalidateChanges(hwnd); }

bool OnButton(ToolbarButtonId id, POINT point) {
  return RectContains(g_toolbarLayout.Button(id), point);
}

HCURSOR LoadOverlayCursor(OverlayCursor cursor) {
  switch (cursor) {
    case OverlayCursor::Arrow:
      return LoadCursorW(nullptr, IDC_ARROW);
    case OverlayCursor::SizeAll:
      return LoadCursorW(nullptr, IDC_SIZEALL);
    case OverlayCursor::SizeNWSE:
      return LoadCursorW(nullptr, IDC_SIZENWSE);
    case OverlayCursor::SizeNS:
      return LoadCursorW(nullptr, IDC_SIZENS);
    case OverlayCursor::SizeNESW:
      return LoadCursorW(nullptr, IDC_SIZENESW);
    case OverlayCursor::SizeWE:
      return LoadCursorW(nullptr, IDC_SIZEWE);
    case OverlayCursor::Crosshair:
    default:
      if (const HCURSOR crosshair = CrosshairCursor(g_overlayState.Dpi)) return crosshair;
      return LoadCursorW(nullptr, IDC_CROSS);
  }
}

void OnCreate(HWND hwnd) {
  SetCapture(hwnd);
  // Without this the pointer keeps its old shape until it first moves.
  SetCursor(LoadOverlayCursor(OverlayCursor::Crosshair));
}

void OnDestroy() {
  OverlayState& state = g_overlayState;
  state.SessionDone = true;
  if (state.Result == OverlayResult::Done && g_onSelectionDone && state.ResultBitmap) {
    g_onSelectionDone(state.SelectionRect);
  }
}

// Ctrl+Z, and Ctrl+Y or Ctrl+Shift+Z; not while a text is typed, which has the keys.
void TakeBackOrRedo(HWND hwnd, bool redo) {
  OverlayState& state = g_overlayState;
  if (state.TextEntries > 0) return;
  if (redo ? RedoAnnotation(state) : UndoAnnotation(state)) Repaint(hwnd);
}

LRESULT OnKeyDown(HWND hwnd, WPARAM key, LPARAM lParam) {
  if (key == VK_ESCAPE) {
    CancelOverlay(hwnd);
    return 0;
  }
  const bool ctrlDown = GetKeyState(VK_CONTROL) < 0;
  if (g_overlayState.Phase != OverlayPhase::Selected || !ctrlDown) {
    return DefWindowProcW(hwnd, WM_KEYDOWN, key, lParam);
  }
  switch (key) {
    case 'C':
      CopySelection(hwnd);
      return 0;
    case 'S':
      SaveSelection(hwnd, false);
      return 0;
    case 'D':
      UploadSelection(hwnd);
      return 0;
    case 'X':
      CancelOverlay(hwnd);
      return 0;
    case 'Z':
    case 'Y':
      TakeBackOrRedo(hwnd, key == 'Y' || GetKeyState(VK_SHIFT) < 0);
      return 0;
    default:
      return DefWindowProcW(hwnd, WM_KEYDOWN, key, lParam);
  }
}

void UpdateTooltip(POINT point) {
  OverlayState& state = g_overlayState;
  const wchar_t* label = GetToolbarLabel(point);
  if (!label) {
    state.TooltipText.clear();
    return;
  }
  // Unchanged while the pointer stays on the same button, so the box keeps its place.
  if (state.TooltipText == label) return;
  state.TooltipText = label;
  state.TooltipAnchor = point;
  state.TooltipTime = GetTickCount();
}

void ContinueDrag(HWND hwnd, POINT point) {
  OverlayState& state = g_overlayState;
  switch (state.DragMode) {
    case DragMode::None:
      return;
    case DragMode::Draw:
      state.DrawEnd = point;
      if (state.CurrentTool == Tool::Pen) state.PenPoints.push_back(point);
      Repaint(hwnd);
      return;
    default:
      state.SelectionRect = ApplyDrag(state.DragMode, state.DragOrigin,
                                      point.x - state.DragAnchor.x, point.y - state.DragAnchor.y);
      LayoutToolbar();
      Repaint(hwnd);
      return;
  }
}

void OnMouseMove(HWND hwnd, POINT point) {
  OverlayState& state = g_overlayState;
  const bool selected = state.Phase == OverlayPhase::Selected;
  // Until there is a selection, the overlay takes on the DPI of the monitor under the pointer.
  if (!selected) state.Dpi = MonitorAtPoint(point).Dpi;
  const int handle = selected ? HitTestHandle(point) : kNoHandle;
  SetCursor(LoadOverlayCursor(ChooseOverlayCursor(state.Phase, state.CurrentTool, handle,
                                                  RectContains(state.SelectionRect, point))));
  if (!selected) {
    if (state.IsSelecting) {
      state.SelectCurrent = point;
    } else {
      state.HoverTarget = ClickTargetAt(point);
    }
    Repaint(hwnd);
    return;
  }
  state.HoverPoint = point;
  UpdateTooltip(point);
  Repaint(hwnd);
  ContinueDrag(hwnd, point);
}

void BeginDrag(DragMode mode, POINT point) {
  OverlayState& state = g_overlayState;
  state.DragMode = mode;
  state.DragAnchor = point;
  state.DragOrigin = state.SelectionRect;
}

void BeginStroke(POINT point) {
  OverlayState& state = g_overlayState;
  state.DragMode = DragMode::Draw;
  state.IsDrawing = true;
  state.DrawStart = state.DrawEnd = point;
  state.PenPoints.clear();
  state.PenPoints.push_back(point);
}

// True when the press landed on a toolbar button, which then has acted.
bool PressToolbar(HWND hwnd, POINT point) {
  OverlayState& state = g_overlayState;
  // Actions before tools: where buttons overlap, the one that ends the session wins.
  if (OnButton(ToolbarButtonId::Copy, point)) {
    CopySelection(hwnd);
    return true;
  }
  if (OnButton(ToolbarButtonId::Close, point)) {
    CancelOverlay(hwnd);
    return true;
  }
  if (OnButton(ToolbarButtonId::Save, point)) {
    SaveSelection(hwnd, true);
    return true;
  }
  if (OnButton(ToolbarButtonId::Upload, point)) {
    UploadSelection(hwnd);
    return true;
  }
  for (const ToolbarButtonId id : kToolButtons) {
    if (!OnButton(id, point)) continue;
    const Tool tool = ToolOfButton(id);
    state.CurrentTool = state.CurrentTool == tool ? Tool::None : tool;
    Repaint(hwnd);
    return true;
  }
  if (OnButton(ToolbarButtonId::Undo, point)) {
    if (UndoAnnotation(state)) Repaint(hwnd);
    return true;
  }
  if (OnButton(ToolbarButtonId::Color, point)) {
    ChooseAnnotationColor(hwnd);
    return true;
  }
  return false;
}

void PressSelected(HWND hwnd, POINT point) {
  OverlayState& state = g_overlayState;
  if (PressToolbar(hwnd, point)) return;
  const int handle = HitTestHandle(point);
  if (handle != kNoHandle) {
    BeginDrag(static_cast<DragMode>(handle), point);
    return;
  }
  if (!RectContains(state.SelectionRect, point)) {
    Repaint(hwnd);
    return;
  }
  switch (state.CurrentTool) {
    case Tool::None:
      BeginDrag(DragMode::Move, point);
      Repaint(hwnd);
      return;
    case Tool::Text:
      RunTextEntry(hwnd, point);
      return;
    case Tool::Number:
      AddAnnotation(state, NumberAt(state, point));
      Repaint(hwnd);
      return;
    default:
      BeginStroke(point);
      Repaint(hwnd);
      return;
  }
}

void OnLButtonDown(HWND hwnd, POINT point) {
  OverlayState& state = g_overlayState;
  if (state.Phase == OverlayPhase::Selected) {
    PressSelected(hwnd, point);
    return;
  }
  state.IsSelecting = true;
  state.SelectStart = state.SelectCurrent = point;
  state.HoverTarget = ClickTargetAt(point);
  Repaint(hwnd);
}

// A click selects the window or monitor it was pressed on, as if that had been dragged out.
void FinishFirstDrag(HWND hwnd, POINT point) {
  OverlayState& state = g_overlayState;
  state.IsSelecting = false;
  state.SelectCurrent = point;
  const bool click = IsClick(state.SelectStart, point);
  state.SelectionRect = click ? state.HoverTarget : NormalizedRect(state.SelectStart, point);
  if (IsAcceptableSelection(state.SelectionRect)) {
    state.Phase = OverlayPhase::Selected;
    LayoutToolbar();
    if (AppSettings.RememberSelection) {
      AppSettings.Selection = state.SelectionRect;
      SaveSettings();
    }
  }
  Repaint(hwnd);
}

void OnLButtonUp(HWND hwnd, POINT point) {
  OverlayState& state = g_overlayState;
  if (state.Phase == OverlayPhase::NoSelection) {
    if (state.IsSelecting) FinishFirstDrag(hwnd, point);
    return;
  }
  if (state.DragMode == DragMode::Draw && state.IsDrawing) CommitStroke();
  state.DragMode = DragMode::None;
  Repaint(hwnd);
}

// Another window took the mouse (a window that popped up, the system's task switcher): the
// button's release will not come here, and a drag that went on would follow a pointer whose
// button is up. It ends as if released where the pointer was last seen.
void OnCaptureChanged(HWND hwnd, HWND gaining) {
  const OverlayState& state = g_overlayState;
  if (gaining == hwnd) return;
  if (state.Phase == OverlayPhase::NoSelection) {
    if (state.IsSelecting) OnLButtonUp(hwnd, state.SelectCurrent);
    return;
  }
  if (state.DragMode != DragMode::None) OnLButtonUp(hwnd, state.DrawEnd);
}

// The overlay keeps covering the whole virtual screen, whatever rectangle Windows suggests;
// only what it draws takes on the DPI.
void OnDpiChanged(HWND hwnd) {
  OverlayState& state = g_overlayState;
  if (state.Phase == OverlayPhase::Selected) {
    LayoutToolbar();
  } else {
    POINT pointer = {};
    GetCursorPos(&pointer);
    ScreenToClient(hwnd, &pointer);
    state.Dpi = MonitorAtPoint(pointer).Dpi;
  }
  InvalidateRect(hwnd, nullptr, FALSE);
}

}  // namespace

POINT PointFromLParam(LPARAM lParam) {
  return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

OverlayCursor ChooseOverlayCursor(OverlayPhase phase, Tool tool, int handle, bool insideSelection) {
  if (phase != OverlayPhase::Selected) return OverlayCursor::Crosshair;
  switch (static_cast<DragMode>(handle)) {
    case DragMode::TopLeft:
    case DragMode::BottomRight:
      return OverlayCursor::SizeNWSE;
    case DragMode::Top:
    case DragMode::Bottom:
      return OverlayCursor::SizeNS;
    case DragMode::TopRight:
    case DragMode::BottomLeft:
      return OverlayCursor::SizeNESW;
    case DragMode::Right:
    case DragMode::Left:
      return OverlayCursor::SizeWE;
    default:
      break;
  }
  if (tool != Tool::None) return OverlayCursor::Crosshair;
  return insideSelection ? OverlayCursor::SizeAll : OverlayCursor::Arrow;
}

void CancelOverlay(HWND hwnd) {
  OverlayState& state = g_overlayState;
  state.Result = OverlayResult::Cancelled;
  // A drag in progress is dropped: releasing the capture must not finish it (and store a
  // remembered selection) on the way out.
  state.IsSelecting = false;
  state.IsDrawing = false;
  state.DragMode = DragMode::None;
  ReleaseCapture();
  DestroyWindow(hwnd);
}

LRESULT CALLBACK OverlayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return Guarded([&]() -> LRESULT {
    switch (message) {
      case WM_CREATE:
        OnCreate(hwnd);
        return 0;
      case WM_DESTROY:
        OnDestroy();
        return 0;
      case WM_PAINT:
        PaintOverlay(hwnd);
        return 0;
      case WM_SETCURSOR:
        return TRUE;  // set on every WM_MOUSEMOVE instead
      case WM_KEYDOWN:
        return OnKeyDown(hwnd, wParam, lParam);
      case WM_TIMER:
        return 0;
      case WM_MOUSEMOVE:
        OnMouseMove(hwnd, PointFromLParam(lParam));
        return 0;
      case WM_LBUTTONDOWN:
        OnLButtonDown(hwnd, PointFromLParam(lParam));
        return 0;
      case WM_LBUTTONUP:
        OnLButtonUp(hwnd, PointFromLParam(lParam));
        return 0;
      case WM_RBUTTONDOWN:
        CancelOverlay(hwnd);
        return 0;
      case WM_CAPTURECHANGED:
        OnCaptureChanged(hwnd, reinterpret_cast<HWND>(lParam));
        return 0;
      case WM_DPICHANGED:
        OnDpiChanged(hwnd);
        return 0;
      default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
  });
}
