#include "capture/window_list.h"

#include <dwmapi.h>

#include <cwchar>

namespace {

struct Listing {
  DWORD ownProcess;
  HWND shell;
  POINT origin;
  std::vector<RECT> windows;
};

// The wallpaper's windows: the shell's desktop and the layers behind it.
bool IsDesktopLayer(HWND hwnd, HWND shell) {
  if (hwnd == shell) return true;
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  return std::wcscmp(name, L"WorkerW") == 0 || std::wcscmp(name, L"Progman") == 0;
}

// Windows 8 and later hide windows of other virtual desktops and suspended apps by cloaking
// them: they count as visible but show nothing.
bool IsCloaked(HWND hwnd) {
  DWORD cloaked = 0;
  return SUCCEEDED(DwmGetWindowAttribute(hwnd, DWMWA_CLOAKED, &cloaked, sizeof cloaked)) &&
         cloaked != 0;
}

// Since Windows 10 the window rectangle includes invisible resize borders around the frame
// that is drawn; the DWM knows the drawn one. Without it (no composition) the rectangle is it.
RECT OuterBounds(HWND hwnd) {
  RECT bounds = {};
  if (SUCCEEDED(DwmGetWindowAttribute(hwnd, DWMWA_EXTENDED_FRAME_BOUNDS, &bounds, sizeof bounds))) {
    return bounds;
  }
  GetWindowRect(hwnd, &bounds);
  return bounds;
}

BOOL CALLBACK AddWindow(HWND hwnd, LPARAM context) {
  auto& listing = *reinterpret_cast<Listing*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  if (process == listing.ownProcess || !IsWindowVisible(hwnd) || IsIconic(hwnd) ||
      IsDesktopLayer(hwnd, listing.shell) || IsCloaked(hwnd)) {
    return TRUE;
  }
  RECT bounds = OuterBounds(hwnd);
  if (IsRectEmpty(&bounds)) return TRUE;
  OffsetRect(&bounds, -listing.origin.x, -listing.origin.y);
  // No exception may unwind through EnumWindows: out of memory ends the list where it is.
  try {
    listing.windows.push_back(bounds);
  } catch (...) {
    return FALSE;
  }
  return TRUE;
}

}  // namespace

// EnumWindows goes through the top-level windows in z-order, the topmost first.
std::vector<RECT> ListTopLevelWindows() {
  const POINT origin = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN)};
  Listing listing = {GetCurrentProcessId(), GetShellWindow(), origin, {}};
  EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&listing));
  return listing.windows;
}
