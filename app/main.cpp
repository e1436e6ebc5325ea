#include <windows.h>
#include <commctrl.h>

#include "app/app.h"
#include "app/dpi.h"
#include "app/gdiplus_handles.h"
#include "app/tray.h"
#include "app/win_handles.h"
#include "history/history.h"
#include "overlay/overlay_window.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "update/download_window.h"
#include "update/update_check.h"

namespace {

constexpr wchar_t kMutexName[] = L"SnapwrenMutex";
constexpr wchar_t kOverlayClass[] = L"SnapwrenOverlay";
constexpr wchar_t kTrayClass[] = L"SnapwrenTrayClass";

void ShowStartupError(const wchar_t* text) { MessageBoxW(nullptr, text, kAppTitle, MB_ICONERROR); }

bool RegisterOverlayClass() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = OverlayWndProc;
  windowClass.hInstance = g_instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_CROSS);
  windowClass.lpszClassName = kOverlayClass;  // no background brush: the overlay paints it all
  return RegisterClassExW(&windowClass) != 0;
}

bool RegisterTrayClass() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = TrayWndProc;
  windowClass.hInstance = g_instance;
  windowClass.lpszClassName = kTrayClass;
  return RegisterClassExW(&windowClass) != 0;
}

int RunMessageLoop() {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // Declared in this order so that they go in the reverse one: the tray window (whose
  // destruction takes its icon and hotkey away), the drawn icon, GDI+, and last the mutex.
  UniqueOwnedMutex mutex;
  g_instance = instance;
  MakeProcessDpiAware();

  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);

  const GdiplusSession gdiplus;

  g_appIcon = LoadIconW(g_instance, MAKEINTRESOURCEW(IDI_APP_ICON));
  // LoadIcon's icon is shared and must never be destroyed; only the drawn one is ours.
  UniqueIcon drawnIcon;
  if (!g_appIcon) {
    drawnIcon = CreateAppIcon();
    g_appIcon = drawnIcon.get();
  }

  LoadSettings();

  // Resetting an empty owner calls nothing: the error is still CreateMutexW's.
  mutex.reset(CreateMutexW(nullptr, TRUE, kMutexName));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    MessageBoxW(nullptr, L"Snapwren läuft bereits!", kAppTitle, MB_ICONINFORMATION);
    return 0;
  }

  if (!RegisterOverlayClass()) {
    ShowStartupError(L"Overlay-Klasse konnte nicht registriert werden");
    return 1;
  }
  if (!RegisterTrayClass()) {
    ShowStartupError(L"Fensterklasse konnte nicht registriert werden");
    return 1;
  }
  const UniqueWindow tray(CreateWindowExW(0, kTrayClass, kAppTitle, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, g_instance, nullptr));
  if (!tray) {
    ShowStartupError(L"Fenster konnte nicht erstellt werden");
    return 1;
  }
  g_trayWnd = tray.get();
  // Without it Snapwren still runs: the tray window stands in as the owner.
  const UniqueWindow owner(CreateOwnerWindow(g_instance));
  g_ownerWnd = owner.get();
  LoadHistory(GetHistoryFolder());
  StartUpdateCheck(g_trayWnd, false);
  const int exitCode = RunMessageLoop();
  // A download that runs has to leave no half an installer behind.
  CancelUpdateDownload();
  // "Beenden" and a started update end the loop; the owners then close everything.
  return exitCode;
}
