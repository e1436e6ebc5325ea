#include "overlay/overlay_window.h"

#include "app/messages.h"
#include "app/window_proc.h"
#include "overlay/annotations.h"
#include "overlay/export.h"
#include "overlay/magnifier.h"
#include "overlay/overlay_paint.h"
#include "overlay/session.h"
#include "overlay/toolbar.h"
#include "settings/settings.h"

namespace {

// The pointer rests this long on a button before its label shows.
constexpr UINT kTooltipDelayMs = 300;

const ToolbarButtonId kToolButtons[] = {ToolbarButtonId::Pen,    ToolbarButtonId::Line,
                                        ToolbarButtonId::Arrow,  ToolbarButtonId::Rectangle,
                                        ToolbarButtonId::Text,   ToolbarButtonId::Mosaic,
                                        ToolbarButtonId::Number};

void Repaint(HWND hwnd, const CaptureSession& session) { InvalidateChanges(hwnd, session); }

bool OnButton(const CaptureSession& session, ToolbarButtonId id, POINT point) {
  return RectContains(session.Toolbar.Button(id), point);
}

HCURSOR LoadOverlayCursor(CaptureSession& session, OverlayCursor cursor) {
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
      if (const HCURSOR crosshair = session.Crosshair(session.State.Dpi)) return crosshair;
      return LoadCursorW(nullptr, IDC_CROSS);
  }
}

void OnCreate(HWND hwnd, CaptureSession& session, const CREATESTRUCTW& create) {
  session.State.ScreenOrigin = {create.x, create.y};
  SetCapture(hwnd);
  // Without this the pointer keeps its old shape until it first moves.
  SetCursor(LoadOverlayCursor(session, OverlayCursor::Crosshair));
}

void OnDestroy(HWND hwnd, CaptureSession& session) {
  KillTimer(hwnd, IDT_TOOLTIP);
  KillTimer(hwnd, IDT_CARET);
  session.Done = true;
  // The session's loop may be waiting for a message that never comes: the window went in a
  // message sent to it, not one the loop took.
  PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
}

// Ctrl+Z, and Ctrl+Y or Ctrl+Shift+Z; not while a text is typed, which has the keys.
void TakeBackOrRedo(HWND hwnd, CaptureSession& session, bool redo) {
  OverlayState& state = session.State;
  if (!state.TextEntries.empty()) return;
  if (redo ? RedoAnnotation(state) : UndoAnnotation(state)) Repaint(hwnd, session);
}

// The arrow keys move the selection or one of its edges, once no drag or typing has them.
bool NudgeByKey(HWND hwnd, CaptureSession& session, WPARAM key, bool ctrlDown) {
  OverlayState& state = session.State;
  if (key != VK_LEFT && key != VK_RIGHT && key != VK_UP && key != VK_DOWN) return false;
  if (state.Phase != OverlayPhase::Selected || state.DragMode != DragMode::None ||
      !state.TextEntries.empty()) {
    return false;
  }
  const RECT screen = {0, 0, GetSystemMetrics(SM_CXVIRTUALSCREEN),
                       GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  state.SelectionRect = NudgeSelection(state.SelectionRect, static_cast<UINT>(key),
                                       GetKeyState(VK_SHIFT) < 0, ctrlDown, screen);
  LayoutToolbar(state, session.Toolbar);
  Repaint(hwnd, session);
  return true;
}

LRESULT OnKeyDown(HWND hwnd, CaptureSession& session, WPARAM key, LPARAM lParam) {
  if (!session.State.TextEntries.empty()) {
    ApplyTextEntryInput(hwnd, session.State, WM_KEYDOWN, key);
    Repaint(hwnd, session);
  }
  if (key == VK_ESCAPE) {
    CancelOverlay(hwnd);
    return 0;
  }
  const bool ctrlDown = GetKeyState(VK_CONTROL) < 0;
  if (key == 'C' && !ctrlDown && ShowsMagnifier(session.State)) {
    CopyPointerColour(session);
    return 0;
  }
  if (NudgeByKey(hwnd, session, key, ctrlDown)) return 0;
  if (session.State.Phase != OverlayPhase::Selected || !ctrlDown) {
    return DefWindowProcW(hwnd, WM_KEYDOWN, key, lParam);
  }
  switch (key) {
    case 'C':
      CopySelection(hwnd, session);
      return 0;
    case 'S':
      SaveSelection(hwnd, session, false);
      return 0;
    case 'D':
      UploadSelection(hwnd, session);
      return 0;
    case 'P':
      PinSelection(hwnd, session);
      return 0;
    case 'X':
      CancelOverlay(hwnd);
      return 0;
    case 'Z':
    case 'Y':
      TakeBackOrRedo(hwnd, session, key == 'Y' || GetKeyState(VK_SHIFT) < 0);
      return 0;
    default:
      return DefWindowProcW(hwnd, WM_KEYDOWN, key, lParam);
  }
}

LRESULT OnChar(HWND hwnd, CaptureSession& session, WPARAM character, LPARAM lParam) {
  if (session.State.TextEntries.empty()) return DefWindowProcW(hwnd, WM_CHAR, character, lParam);
  ApplyTextEntryInput(hwnd, session.State, WM_CHAR, character);
  Repaint(hwnd, session);
  return 0;
}

void OnTimer(HWND hwnd, CaptureSession& session, UINT_PTR id) {
  OverlayState& state = session.State;
  if (id == IDT_CARET) {
    ApplyTextEntryInput(hwnd, state, WM_TIMER, id);
  } else if (id == IDT_TOOLTIP) {
    KillTimer(hwnd, IDT_TOOLTIP);
    state.TooltipShown = !state.TooltipText.empty();
  }
  Repaint(hwnd, session);
}

// The label shows once the pointer has been on its button for a moment, whether it then rests
// or moves on it; leaving the button takes it away.
void UpdateTooltip(HWND hwnd, CaptureSession& session, POINT point) {
  OverlayState& state = session.State;
  const wchar_t* label = GetToolbarLabel(session.Toolbar, point);
  if (!label) {
    if (!state.TooltipText.empty()) KillTimer(hwnd, IDT_TOOLTIP);
    state.TooltipText.clear();
    state.TooltipShown = false;
    return;
  }
  // Unchanged while the pointer stays on the same button, so the box keeps its place.
  if (state.TooltipText == label) return;
  state.TooltipText = label;
  state.TooltipAnchor = point;
  state.TooltipShown = false;
  SetTimer(hwnd, IDT_TOOLTIP, kTooltipDelayMs, nullptr);
}

void ContinueDrag(HWND hwnd, CaptureSession& session, POINT point) {
  OverlayState& state = session.State;
  switch (state.DragMode) {
    case DragMode::None:
      return;
    case DragMode::Draw:
      state.DrawEnd = point;
      if (state.CurrentTool == Tool::Pen) state.PenPoints.push_back(point);
      Repaint(hwnd, session);
      return;
    default:
      state.SelectionRect = ApplyDrag(state.DragMode, state.DragOrigin,
                                      point.x - state.DragAnchor.x, point.y - state.DragAnchor.y);
      LayoutToolbar(state, session.Toolbar);
      Repaint(hwnd, session);
      return;
  }
}

void OnMouseMove(HWND hwnd, CaptureSession& session, POINT point) {
  OverlayState& state = session.State;
  const bool selected = state.Phase == OverlayPhase::Selected;
  // Until there is a selection, the overlay takes on the DPI of the monitor under the pointer,
  // and the magnifier follows the pointer on it. The monitor is looked up only when the pointer
  // leaves the last one: under Wine each question about the screen takes a good part of a
  // millisecond.
  if (!selected && !RectContains(state.PointerMonitor, point)) {
    const OverlayMonitor monitor = MonitorAtPoint(point);
    state.Dpi = monitor.Dpi;
    state.PointerMonitor = monitor.Area;
  }
  if (!selected) state.Pointer = point;
  const int handle = selected ? HitTestHandle(session.Toolbar, point) : kNoHandle;
  const OverlayCursor cursor = ChooseOverlayCursor(state.Phase, state.CurrentTool, handle,
                                                   RectContains(state.SelectionRect, point));
  SetCursor(LoadOverlayCursor(session, cursor));
  if (!selected) {
    if (state.IsSelecting) {
      state.SelectCurrent = point;
    } else {
      state.HoverTarget = ClickTargetAt(state, point);
    }
    Repaint(hwnd, session);
    return;
  }
  state.HoverPoint = point;
  UpdateTooltip(hwnd, session, point);
  Repaint(hwnd, session);
  ContinueDrag(hwnd, session, point);
}

void BeginDrag(OverlayState& state, DragMode mode, POINT point) {
  state.DragMode = mode;
  state.DragAnchor = point;
  state.DragOrigin = state.SelectionRect;
}

void BeginStroke(OverlayState& state, POINT point) {
  state.DragMode = DragMode::Draw;
  state.IsDrawing = true;
  state.DrawStart = state.DrawEnd = point;
  state.PenPoints.clear();
  state.PenPoints.push_back(point);
}

// True when the press landed on a toolbar button, which then has acted.
bool PressToolbar(HWND hwnd, CaptureSession& session, POINT point) {
  OverlayState& state = session.State;
  // Actions before tools: where buttons overlap, the one that ends the session wins.
  if (OnButton(session, ToolbarButtonId::Copy, point)) {
    CopySelection(hwnd, session);
    return true;
  }
  if (OnButton(session, ToolbarButtonId::Close, point)) {
    CancelOverlay(hwnd);
    return true;
  }
  if (OnButton(session, ToolbarButtonId::Save, point)) {
    SaveSelection(hwnd, session, true);
    return true;
  }
  if (OnButton(session, ToolbarButtonId::Upload, point)) {
    UploadSelection(hwnd, session);
    return true;
  }
  if (OnButton(session, ToolbarButtonId::Pin, point)) {
    PinSelection(hwnd, session);
    return true;
  }
  for (const ToolbarButtonId id : kToolButtons) {
    if (!OnButton(session, id, point)) continue;
    const Tool tool = ToolOfButton(id);
    state.CurrentTool = state.CurrentTool == tool ? Tool::None : tool;
    Repaint(hwnd, session);
    return true;
  }
  if (OnButton(session, ToolbarButtonId::Undo, point)) {
    if (UndoAnnotation(state)) Repaint(hwnd, session);
    return true;
  }
  if (OnButton(session, ToolbarButtonId::Color, point)) {
    ChooseAnnotationColor(hwnd, state);
    return true;
  }
  return false;
}

void PressSelected(HWND hwnd, CaptureSession& session, POINT point) {
  OverlayState& state = session.State;
  if (PressToolbar(hwnd, session, point)) return;
  const int handle = HitTestHandle(session.Toolbar, point);
  if (handle != kNoHandle) {
    BeginDrag(state, static_cast<DragMode>(handle), point);
    return;
  }
  if (!RectContains(state.SelectionRect, point)) {
    Repaint(hwnd, session);
    return;
  }
  switch (state.CurrentTool) {
    case Tool::None:
      BeginDrag(state, DragMode::Move, point);
      Repaint(hwnd, session);
      return;
    case Tool::Text:
      BeginTextEntry(hwnd, state, point);
      Repaint(hwnd, session);
      return;
    case Tool::Number:
      AddAnnotation(state, NumberAt(state, point));
      Repaint(hwnd, session);
      return;
    default:
      BeginStroke(state, point);
      Repaint(hwnd, session);
      return;
  }
}

void OnLButtonDown(HWND hwnd, CaptureSession& session, POINT point) {
  OverlayState& state = session.State;
  if (state.Phase == OverlayPhase::Selected) {
    PressSelected(hwnd, session, point);
    return;
  }
  state.IsSelecting = true;
  state.SelectStart = state.SelectCurrent = point;
  state.HoverTarget = ClickTargetAt(state, point);
  Repaint(hwnd, session);
}

// A click selects the window or monitor it was pressed on, as if that had been dragged out.
void FinishFirstDrag(HWND hwnd, CaptureSession& session, POINT point) {
  OverlayState& state = session.State;
  state.IsSelecting = false;
  state.SelectCurrent = point;
  const bool click = IsClick(state.SelectStart, point);
  state.SelectionRect = click ? state.HoverTarget : NormalizedRect(state.SelectStart, point);
  if (IsAcceptableSelection(state.SelectionRect)) {
    state.Phase = OverlayPhase::Selected;
    LayoutToolbar(state, session.Toolbar);
    if (AppSettings.RememberSelection) {
      AppSettings.Selection = state.SelectionRect;
      SaveSettings();
    }
  }
  Repaint(hwnd, session);
}

void OnLButtonUp(HWND hwnd, CaptureSession& session, POINT point) {
  OverlayState& state = session.State;
  if (state.Phase == OverlayPhase::NoSelection) {
    if (state.IsSelecting) FinishFirstDrag(hwnd, session, point);
    return;
  }
  if (state.DragMode == DragMode::Draw && state.IsDrawing) CommitStroke(state, session.Screen());
  state.DragMode = DragMode::None;
  Repaint(hwnd, session);
}

// Another window took the mouse (a window that popped up, the system's task switcher): the
// button's release will not come here, and a drag that went on would follow a pointer whose
// button is up. It ends as if released where the pointer was last seen.
void OnCaptureChanged(HWND hwnd, CaptureSession& session, HWND gaining) {
  const OverlayState& state = session.State;
  if (gaining == hwnd) return;
  if (state.Phase == OverlayPhase::NoSelection) {
    if (state.IsSelecting) OnLButtonUp(hwnd, session, state.SelectCurrent);
    return;
  }
  if (state.DragMode != DragMode::None) OnLButtonUp(hwnd, session, state.DrawEnd);
}

// The overlay keeps covering the whole virtual screen, whatever rectangle Windows suggests;
// only what it draws takes on the DPI.
void OnDpiChanged(HWND hwnd, CaptureSession& session) {
  OverlayState& state = session.State;
  if (state.Phase == OverlayPhase::Selected) {
    LayoutToolbar(state, session.Toolbar);
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
  CaptureSession* session = WindowState<CaptureSession>(hwnd, WM_NULL, 0);
  if (session) {
    OverlayState& state = session->State;
    state.Result = OverlayResult::Cancelled;
    // A drag in progress is dropped: releasing the capture must not finish it (and store a
    // remembered selection) on the way out.
    state.IsSelecting = false;
    state.IsDrawing = false;
    state.DragMode = DragMode::None;
  }
  ReleaseCapture();
  DestroyWindow(hwnd);
}

namespace {

LRESULT HandleOverlayMessage(HWND hwnd, CaptureSession& session, UINT message, WPARAM wParam,
                             LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(hwnd, session, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
      return 0;
    case WM_DESTROY:
      OnDestroy(hwnd, session);
      return 0;
    case WM_PAINT:
      PaintOverlay(hwnd, session);
      return 0;
    case WM_SETCURSOR:
      return TRUE;  // set on every WM_MOUSEMOVE instead
    case WM_KEYDOWN:
      return OnKeyDown(hwnd, session, wParam, lParam);
    case WM_CHAR:
      return OnChar(hwnd, session, wParam, lParam);
    case WM_TIMER:
      OnTimer(hwnd, session, wParam);
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(hwnd, session, PointFromLParam(lParam));
      return 0;
    case WM_LBUTTONDOWN:
      OnLButtonDown(hwnd, session, PointFromLParam(lParam));
      return 0;
    case WM_LBUTTONUP:
      OnLButtonUp(hwnd, session, PointFromLParam(lParam));
      return 0;
    case WM_RBUTTONDOWN:
      CancelOverlay(hwnd);
      return 0;
    case WM_CAPTURECHANGED:
      OnCaptureChanged(hwnd, session, reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(hwnd, session);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

LRESULT CALLBACK OverlayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return StateWindowProc<CaptureSession, HandleOverlayMessage>(hwnd, message, wParam, lParam);
}
