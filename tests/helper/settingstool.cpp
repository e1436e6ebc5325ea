// settingstool: what the settings window tests need beyond snaptool. It reports where a
// window's client area and close box lie on the screen, which window is in the foreground, and
// puts a window of its own in front of everything. Output is one JSON object per line.
//
// Exit codes: 0 done, 1 not found, 2 a Win32 call failed, 64 bad usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tool_output.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 64;
constexpr UINT kSendTimeoutMs = 2000;
constexpr wchar_t kFrontClass[] = L"SettingstoolFront";

HWND ParseHwnd(const wchar_t* text) {
  return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wcstoull(text, nullptr, 0)));
}

// client <hwnd>: the client area's top-left corner on the screen and its size.
int CmdClient(HWND hwnd) {
  if (!IsWindow(hwnd)) return kExitNotFound;
  RECT client = {};
  POINT origin = {0, 0};
  if (!GetClientRect(hwnd, &client) || !ClientToScreen(hwnd, &origin)) return kExitFailed;
  char line[128];
  snprintf(line, sizeof line, "{\"origin\":[%ld,%ld],\"size\":[%ld,%ld]}", origin.x, origin.y,
           client.right, client.bottom);
  WriteLine(line);
  return kExitOk;
}

// closebox <hwnd>: a screen point on the caption's close box, found by asking the window
// itself (WM_NCHITTEST) along the middle of its caption, from the right edge inwards.
int CmdCloseBox(HWND hwnd) {
  RECT window = {};
  POINT origin = {0, 0};
  if (!GetWindowRect(hwnd, &window) || !ClientToScreen(hwnd, &origin)) return kExitNotFound;
  const int y = (window.top + origin.y) / 2;
  for (int x = window.right - 1; x > window.left; --x) {
    DWORD_PTR hit = HTNOWHERE;
    if (!SendMessageTimeoutW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &hit)) {
      return kExitFailed;
    }
    if (hit == HTCLOSE) {
      // The middle of the run of HTCLOSE points is safer than its first pixel.
      int left = x;
      for (DWORD_PTR more = HTCLOSE; more == HTCLOSE && left > window.left; --left) {
        SendMessageTimeoutW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(left - 1, y), SMTO_ABORTIFHUNG,
                            kSendTimeoutMs, &more);
      }
      char line[64];
      snprintf(line, sizeof line, "{\"point\":[%d,%d]}", (left + x) / 2, y);
      WriteLine(line);
      return kExitOk;
    }
  }
  return kExitNotFound;
}

// foreground: the window that has the user's attention now.
int CmdForeground() {
  WriteLine("{\"hwnd\":" + HwndJson(GetForegroundWindow()) + "}");
  return kExitOk;
}

// front: shows a window of its own, takes the foreground and waits until it is closed or the
// process is ended.
int CmdFront() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    if (message == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  };
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kFrontClass;
  if (!RegisterClassExW(&windowClass)) return kExitFailed;
  HWND hwnd = CreateWindowExW(0, kFrontClass, L"settingstool front", WS_OVERLAPPEDWINDOW, 100,
                              100, 600, 400, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (!hwnd) return kExitFailed;
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
  WriteLine("{\"hwnd\":" + HwndJson(hwnd) + "}");
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return kExitOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return kExitUsage;
  const std::wstring command = argv[1];
  if (command == L"client" && argc == 3) return CmdClient(ParseHwnd(argv[2]));
  if (command == L"closebox" && argc == 3) return CmdCloseBox(ParseHwnd(argv[2]));
  if (command == L"foreground") return CmdForeground();
  if (command == L"front") return CmdFront();
  fprintf(stderr, "usage: settingstool client|closebox <hwnd> | foreground | front\n");
  return kExitUsage;
}
