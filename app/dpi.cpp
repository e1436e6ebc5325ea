#include "app/dpi.h"

#include "app/win_handles.h"

namespace {

// MONITOR_DPI_TYPE's MDT_EFFECTIVE_DPI: the scale the user chose, which Windows scales by.
constexpr int kEffectiveDpi = 0;

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
using SetProcessDpiAwarenessContextFunction = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);

// Windows 10 1607 and 8.1 added these; on an older system the lookup finds nothing and the
// caller falls back to the system DPI. The cast through void(*)() is the one GCC accepts
// between unrelated function types.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

HMODULE User32() { return GetModuleHandleW(L"user32.dll"); }

// Loaded once and kept: the function it yields is called for as long as the process runs.
HMODULE ShellScaling() {
  static const HMODULE module =
      LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module;
}

}  // namespace

int Scale(int size, UINT dpi) { return MulDiv(size, static_cast<int>(dpi), kDefaultDpi); }

float ScaleF(float size, UINT dpi) {
  return size * static_cast<float>(dpi) / static_cast<float>(kDefaultDpi);
}

RECT ScaleRect(const RECT& rect, UINT dpi) {
  return RECT{Scale(rect.left, dpi), Scale(rect.top, dpi), Scale(rect.right, dpi),
              Scale(rect.bottom, dpi)};
}

// The manifest declares the same; then the call fails with ERROR_ACCESS_DENIED, as it does
// under Wine, which makes every process aware by itself. Neither is a fault, and nothing
// else could be done about one.
void MakeProcessDpiAware() {
  static const auto setContext =
      Lookup<SetProcessDpiAwarenessContextFunction>(User32(), "SetProcessDpiAwarenessContext");
  if (setContext) setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

// For a per-monitor aware process the screen's logical pixels are the system DPI, which is
// what windows without a DPI of their own are laid out for.
UINT SystemDpi() {
  WindowDc screen(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
  return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

UINT DpiForWindow(HWND hwnd) {
  static const auto forWindow = Lookup<GetDpiForWindowFunction>(User32(), "GetDpiForWindow");
  const UINT dpi = forWindow ? forWindow(hwnd) : 0;
  return dpi ? dpi : SystemDpi();
}

UINT DpiForMonitor(HMONITOR monitor) {
  static const auto forMonitor =
      Lookup<GetDpiForMonitorFunction>(ShellScaling(), "GetDpiForMonitor");
  UINT x = 0;
  UINT y = 0;
  if (forMonitor && monitor && SUCCEEDED(forMonitor(monitor, kEffectiveDpi, &x, &y)) && x) {
    return x;
  }
  return SystemDpi();
}

int SystemMetricForDpi(int index, UINT dpi) {
  static const auto forDpi =
      Lookup<GetSystemMetricsForDpiFunction>(User32(), "GetSystemMetricsForDpi");
  if (forDpi) return forDpi(index, dpi);
  // Without it the metrics are those of the system DPI.
  return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}
