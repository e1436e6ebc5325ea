// capturetool: scenery and obstacles for the capture tests inside the Wine prefix.
//
//   pattern <x> <y> <width> <height>   a window of known pixels at that place on the screen
//   lock <file>                        keeps a file open with no sharing, so writing it fails
//
// Each prints one JSON line ({"event":"ready",...}) once it is in place and then runs until the
// test stops it by its process id. Exit codes: 0 done, 2 a Win32 call failed, 64 bad usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 64;

// The tests compute the same colours in Python (tests/e2e/capture_support.py): tiles of 40 x 40
// in six colours, each pixel lowered by its position inside an 8 x 8 cell, so that neighbours
// differ and a picture shifted by a pixel never matches.
constexpr int kTile = 40;
constexpr COLORREF kPalette[] = {RGB(231, 111, 81), RGB(244, 162, 97), RGB(233, 196, 106),
                                 RGB(42, 157, 143), RGB(38, 70, 83),   RGB(142, 202, 230)};
constexpr int kPaletteSize = sizeof kPalette / sizeof kPalette[0];

// Rounding down, as Python's // and % do, so that monitors left of the primary one (negative x)
// get the same pattern.
int FloorDiv(int a, int b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }
int FloorMod(int a, int b) { return a - FloorDiv(a, b) * b; }

// 0x00RRGGBB for a top-down 32-bit DIB, at screen point (x, y).
DWORD PatternAt(int x, int y) {
  const COLORREF base =
      kPalette[FloorMod(FloorDiv(x, kTile) + 2 * FloorDiv(y, kTile), kPaletteSize)];
  const int r = GetRValue(base) - FloorMod(x, 8);
  const int g = GetGValue(base) - FloorMod(y, 8);
  const int b = GetBValue(base) - FloorMod(x + y, 8);
  return static_cast<DWORD>((r << 16) | (g << 8) | b);
}

struct PatternWindow {
  int x;
  int y;
  int width;
  int height;
  std::vector<DWORD> pixels;
};

PatternWindow g_pattern;

void PaintPattern(HWND hwnd) {
  PAINTSTRUCT paint;
  HDC hdc = BeginPaint(hwnd, &paint);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = g_pattern.width;
  info.bmiHeader.biHeight = -g_pattern.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(hdc, 0, 0, static_cast<DWORD>(g_pattern.width),
                    static_cast<DWORD>(g_pattern.height), 0, 0, 0,
                    static_cast<UINT>(g_pattern.height), g_pattern.pixels.data(), &info,
                    DIB_RGB_COLORS);
  EndPaint(hwnd, &paint);
}

LRESULT CALLBACK PatternProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintPattern(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

int CmdPattern(const std::vector<std::wstring>& args) {
  if (args.size() < 4) return kExitUsage;
  g_pattern.x = _wtoi(args[0].c_str());
  g_pattern.y = _wtoi(args[1].c_str());
  g_pattern.width = _wtoi(args[2].c_str());
  g_pattern.height = _wtoi(args[3].c_str());
  if (g_pattern.width <= 0 || g_pattern.height <= 0) return kExitUsage;
  g_pattern.pixels.resize(static_cast<size_t>(g_pattern.width) *
                          static_cast<size_t>(g_pattern.height));
  for (int row = 0; row < g_pattern.height; ++row) {
    for (int column = 0; column < g_pattern.width; ++column) {
      g_pattern.pixels[static_cast<size_t>(row) * static_cast<size_t>(g_pattern.width) +
                       static_cast<size_t>(column)] =
          PatternAt(g_pattern.x + column, g_pattern.y + row);
    }
  }

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = PatternProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"SnapwrenTestPattern";
  if (!RegisterClassExW(&windowClass)) return kExitFailed;
  // A plain popup: its client area is exactly the rectangle asked for.
  HWND hwnd = CreateWindowExW(0, L"SnapwrenTestPattern", L"Testbild", WS_POPUP | WS_VISIBLE,
                              g_pattern.x, g_pattern.y, g_pattern.width, g_pattern.height, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return kExitFailed;
  UpdateWindow(hwnd);
  printf("{\"event\":\"ready\",\"pid\":%lu,\"hwnd\":\"0x%llx\"}\n", GetCurrentProcessId(),
         static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)));
  fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return kExitOk;
}

int CmdLock(const std::vector<std::wstring>& args) {
  if (args.empty()) return kExitUsage;
  HANDLE file = CreateFileW(args[0].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "capturetool: CreateFile failed, error %lu\n", GetLastError());
    return kExitFailed;
  }
  printf("{\"event\":\"ready\",\"pid\":%lu}\n", GetCurrentProcessId());
  fflush(stdout);
  Sleep(INFINITE);
  CloseHandle(file);
  return kExitOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: capturetool pattern <x> <y> <width> <height> | lock <file>\n");
    return kExitUsage;
  }
  const std::wstring command = argv[1];
  const std::vector<std::wstring> args(argv + 2, argv + argc);
  if (command == L"pattern") return CmdPattern(args);
  if (command == L"lock") return CmdLock(args);
  return kExitUsage;
}
