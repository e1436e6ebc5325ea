#include "capture/capture_session.h"

#include <cstring>
#include <optional>
#include <utility>

#include "app/app.h"
#include "app/dpi.h"
#include "app/notifier.h"
#include "app/window_proc.h"
#include "capture/screen_capture.h"
#include "capture/window_list.h"
#include "overlay/session.h"
#include "overlay/toolbar.h"
#include "pin/pin_window.h"
#include "settings/settings.h"

namespace {

constexpr wchar_t kOverlayClass[] = L"SnapwrenOverlay";
constexpr wchar_t kOverlayTitle[] = L"Snapwren Overlay";
constexpr DWORD kOverlayExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;

// The annotation colour and the colour dialog's custom colours outlive every session: the
// next one starts with what the last one chose.
struct ColorChoice {
  COLORREF Current = RGB(255, 0, 0);
  COLORREF Custom[16] = {};
};
ColorChoice g_colorChoice;

// A remembered selection that is still usable opens the session with the toolbar up, so the
// user can act on the same region at once.
void RestoreRememberedSelection(CaptureSession& session, int width, int height) {
  if (!AppSettings.RememberSelection) return;
  if (!CanRestoreSelection(AppSettings.Selection, width, height)) return;
  session.State.SelectionRect = AppSettings.Selection;
  session.State.Phase = OverlayPhase::Selected;
  LayoutToolbar(session.State, session.Toolbar);
}

// Waits for the thread's messages until the overlay is gone. Returns the exit code of a quit
// request that arrived meanwhile: the tray's "Beenden" or a started installer must not be
// lost to this loop.
std::optional<int> RunSessionLoop(const CaptureSession& session, HWND overlay) {
  std::optional<int> quitCode;
  MSG message = {};
  while (!session.Done && IsWindow(overlay)) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      quitCode = static_cast<int>(message.wParam);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return quitCode;
}

}  // namespace

// Between the screen's capture and the overlay's creation, and after the overlay is gone,
// nothing dispatches a message: a second StartCapture can only come from a message that the
// open overlay's loop dispatched.
bool SessionRunning() { return FindThreadWindow(kOverlayClass) != nullptr; }

void RunOverlay(HINSTANCE instance, CaptureSession& session) {
  OverlayState& state = session.State;
  // The screen froze a moment ago and the overlay does not cover it yet: the windows are as
  // the picture shows them.
  state.Windows = ListTopLevelWindows();
  POINT pointer = {};
  GetCursorPos(&pointer);
  // Until a selection exists, the overlay looks as the monitor under the pointer needs.
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  // The magnifier stands beside the pointer from the first frame, before the pointer moves.
  state.Pointer = POINT{pointer.x - x, pointer.y - y};
  const OverlayMonitor monitor = MonitorAtPoint(state.Pointer);
  state.Dpi = monitor.Dpi;
  state.PointerMonitor = monitor.Area;
  state.HoverTarget = ClickTargetAt(state, state.Pointer);
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  RestoreRememberedSelection(session, width, height);

  const HWND overlay = CreateWindowExW(kOverlayExStyle, kOverlayClass, kOverlayTitle, WS_POPUP, x,
                                       y, width, height, nullptr, nullptr, instance, &session);
  if (!overlay) return;
  ShowWindow(overlay, SW_SHOW);
  UpdateWindow(overlay);
  SetForegroundWindow(overlay);
  SetFocus(overlay);
  const std::optional<int> quitCode = RunSessionLoop(session, overlay);
  if (quitCode) PostQuitMessage(*quitCode);
}

void StartCapture() {
  if (SessionRunning()) return;
  UniqueBitmap screen = CaptureScreen(AppSettings.CaptureCursor);
  if (!screen) {
    ShowTrayNotification(L"Fehler", L"Konnte Bildschirm nicht erfassen");
    return;
  }
  // Nothing of it outlives the session; a 4K desktop is 33 MB.
  CaptureSession session(std::move(screen), g_colorChoice.Current, g_colorChoice.Custom);
  RunOverlay(g_instance, session);
  // Only now, with the overlay gone: the pin never shows in the overlay's own frame.
  if (session.State.Result == OverlayResult::Pinned && session.Pinned) {
    const RECT& selection = session.State.SelectionRect;
    const POINT place = {selection.left + GetSystemMetrics(SM_XVIRTUALSCREEN),
                         selection.top + GetSystemMetrics(SM_YVIRTUALSCREEN)};
    CreatePin(g_instance, std::move(session.Pinned), place);
  }
  g_colorChoice.Current = session.State.CurrentColor;
  std::memcpy(g_colorChoice.Custom, session.State.CustomColors, sizeof g_colorChoice.Custom);
}
