#include "app/tray.h"

#include "app/app.h"
#include "app/notifier.h"
#include "app/win_handles.h"
#include "app/window_proc.h"
#include "capture/capture_session.h"
#include "history/history.h"
#include "pin/pin_window.h"
#include "settings/labels.h"
#include "settings/settings.h"
#include "settings/settings_window.h"
#include "update/update_check.h"
#include "upload/upload_worker.h"

NOTIFYICONDATAW g_trayIconData = {};

namespace {

constexpr UINT kAddIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr UINT kMenuFlags = TPM_RETURNCMD | TPM_NONOTIFY;

constexpr wchar_t kHotkeyTakenAtStart[] =
    L"Hotkey konnte nicht registriert werden.\n"
    L"Möglicherweise wird er bereits von einer anderen Anwendung verwendet.";
constexpr wchar_t kHotkeyTakenAfterChange[] =
    L"Hotkey konnte nicht registriert werden.\nMöglicherweise wird er bereits verwendet.";

constexpr wchar_t kOwnerClass[] = L"SnapwrenOwner";
UINT g_taskbarCreatedMessage = 0;

// The countdown of "Screenshot in N Sekunden": at most one runs, and any capture started
// meanwhile ends it.
struct Countdown {
  bool running = false;
  int secondsLeft = 0;
};
Countdown g_countdown;

void ShowTip(const std::wstring& tip) {
  wcsncpy_s(g_trayIconData.szTip, tip.c_str(), _TRUNCATE);
  // Only the tip changes; the flags stay as the icon was added, for when the shell restarts.
  const UINT flags = g_trayIconData.uFlags;
  g_trayIconData.uFlags = NIF_TIP;
  Shell_NotifyIconW(NIM_MODIFY, &g_trayIconData);
  g_trayIconData.uFlags = flags;
}

void EndCountdown(HWND hwnd) {
  if (!g_countdown.running) return;
  g_countdown = {};
  KillTimer(hwnd, IDT_CAPTURE_DELAY);
  ShowTip(kAppTitle);
}

void CaptureNow(HWND hwnd) {
  EndCountdown(hwnd);
  StartCapture();
}

void StartCountdown(HWND hwnd) {
  if (g_countdown.running || SessionRunning()) return;
  if (!SetTimer(hwnd, IDT_CAPTURE_DELAY, 1000, nullptr)) {
    StartCapture();
    return;
  }
  g_countdown.running = true;
  g_countdown.secondsLeft = ClampCaptureDelay(AppSettings.CaptureDelay);
  ShowTip(DelayedCaptureText(g_countdown.secondsLeft));
}

// The screen is frozen as it is at the last tick, with whatever menu or tooltip is open then.
void OnCountdownTick(HWND hwnd) {
  if (!g_countdown.running) {
    KillTimer(hwnd, IDT_CAPTURE_DELAY);
    return;
  }
  if (--g_countdown.secondsLeft > 0) {
    ShowTip(DelayedCaptureText(g_countdown.secondsLeft));
    return;
  }
  CaptureNow(hwnd);
}

bool RegisterCaptureHotkey(HWND hwnd) {
  return RegisterHotKey(hwnd, HOTKEY_ID, AppSettings.Modifiers, AppSettings.Key) != FALSE;
}

void OnTrayCreate(HWND hwnd) {
  g_trayIconData = {};
  g_trayIconData.cbSize = sizeof(NOTIFYICONDATAW);
  g_trayIconData.hWnd = hwnd;
  g_trayIconData.uID = kTrayIconId;
  g_trayIconData.uFlags = kAddIconFlags;
  g_trayIconData.uCallbackMessage = WM_TRAYICON;
  g_trayIconData.hIcon = AppIcon();
  wcscpy_s(g_trayIconData.szTip, kAppTitle);
  Shell_NotifyIconW(NIM_ADD, &g_trayIconData);

  if (!RegisterCaptureHotkey(hwnd)) {
    MessageBoxW(hwnd, kHotkeyTakenAtStart, kAppTitle, MB_ICONWARNING);
  }
}

void OnTrayDestroy(HWND hwnd) {
  UnregisterHotKey(hwnd, HOTKEY_ID);
  Shell_NotifyIconW(NIM_DELETE, &g_trayIconData);
  PostQuitMessage(0);
}

void OnTrayIcon(HWND hwnd, LPARAM lParam) {
  switch (LOWORD(lParam)) {
    case WM_LBUTTONDBLCLK:
      CaptureNow(hwnd);
      break;
    case WM_RBUTTONUP:
      ShowTrayMenu(hwnd);
      break;
    default:
      break;
  }
}

void OnSettingsChanged(HWND hwnd) {
  // Switched off: what was kept goes, as the switch promises.
  if (!AppSettings.SaveHistory) ClearHistory();
  UnregisterHotKey(hwnd, HOTKEY_ID);
  if (!RegisterCaptureHotkey(hwnd)) {
    MessageBoxW(hwnd, kHotkeyTakenAfterChange, kAppTitle, MB_ICONWARNING);
  }
}

void RunMenuCommand(HWND hwnd, UINT command) {
  switch (command) {
    case IDM_CAPTURE:
      CaptureNow(hwnd);
      break;
    case IDM_DELAYED_CAPTURE:
      StartCountdown(hwnd);
      break;
    case IDM_QUIT:
      CloseAllPins();
      PostQuitMessage(0);
      break;
    case IDM_SETTINGS:
      ShowSettingsWindow(hwnd);
      break;
    case IDM_CHECK_UPDATES:
      StartUpdateCheck(hwnd, true);
      break;
    default:
      RunHistoryCommand(command);
      break;
  }
}

LRESULT CALLBACK OwnerWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == g_taskbarCreatedMessage && g_taskbarCreatedMessage != 0) {
    ReAddTrayIcon();
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK TrayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return Guarded([&]() -> LRESULT {
    switch (message) {
      case WM_CREATE:
        OnTrayCreate(hwnd);
        return 0;
      case WM_DESTROY:
        OnTrayDestroy(hwnd);
        return 0;
      case WM_HOTKEY:
        if (wParam == HOTKEY_ID) CaptureNow(hwnd);
        return 0;
      case WM_TIMER:
        if (wParam == IDT_CAPTURE_DELAY) OnCountdownTick(hwnd);
        return 0;
      case WM_COMMAND:
        // The menu returns its choice; a command sent to the window does the same.
        RunMenuCommand(hwnd, LOWORD(wParam));
        return 0;
      case WM_HISTORY_RECORDED:
      case WM_HISTORY_THUMBNAILS:
      case WM_HISTORY_DELETED:
        OnHistoryMessage(message, lParam);
        return 0;
      case WM_TRAYICON:
        OnTrayIcon(hwnd, lParam);
        return 0;
      case WM_SETTINGS_CHANGED:
        OnSettingsChanged(hwnd);
        return 0;
      case WM_UPDATE_AVAILABLE:
        OnUpdateCheckOutcome(hwnd, lParam);
        return 0;
      case WM_UPLOAD_SUCCEEDED:
      case WM_UPLOAD_FAILED:
        ReportUploadWithoutWindow(message, lParam);
        return 0;
      default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
  });
}

void ShowTrayMenu(HWND hwnd) {
  UniqueMenu menu(CreatePopupMenu());
  if (!menu) return;
  AppendMenuW(menu.get(), MF_STRING, IDM_CAPTURE, L"Screenshot");
  AppendMenuW(menu.get(), MF_STRING, IDM_DELAYED_CAPTURE,
              DelayedCaptureText(ClampCaptureDelay(AppSettings.CaptureDelay)).c_str());
  AppendHistoryMenu(menu.get());
  AppendMenuW(menu.get(), MF_STRING, IDM_SETTINGS, GetLabel("settings"));
  AppendMenuW(menu.get(), MF_STRING, IDM_CHECK_UPDATES, L"Nach Updates suchen...");
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, IDM_QUIT, L"Beenden");

  POINT point{};
  GetCursorPos(&point);
  // The menu closes when the user clicks elsewhere only while its owner is the foreground
  // window, which the message-only tray window can never be; the hidden top-level one can.
  const HWND owner = g_ownerWnd ? g_ownerWnd : hwnd;
  SetForegroundWindow(owner);
  const UINT command = static_cast<UINT>(
      TrackPopupMenu(menu.get(), kMenuFlags, point.x, point.y, 0, owner, nullptr));
  // Switches the task, so that the menu opens properly the next time as well.
  PostMessageW(owner, WM_NULL, 0, 0);
  menu.reset();
  RunMenuCommand(hwnd, command);
}

void ReAddTrayIcon() { Shell_NotifyIconW(NIM_ADD, &g_trayIconData); }

HWND CreateOwnerWindow(HINSTANCE instance) {
  g_taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
  if (g_taskbarCreatedMessage == 0) return nullptr;

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = OwnerWndProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kOwnerClass;
  if (!RegisterClassExW(&windowClass)) return nullptr;

  // Top-level (so it receives broadcasts) but never shown and kept off the taskbar.
  HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, kOwnerClass, kAppTitle, WS_POPUP, 0, 0, 0, 0,
                              nullptr, nullptr, instance, nullptr);
  if (!hwnd) return nullptr;
  // An elevated Snapwren would otherwise never hear from the unelevated shell.
  ChangeWindowMessageFilterEx(hwnd, g_taskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
  return hwnd;
}
