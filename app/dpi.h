// Scaled displays. Every size is named once at 96 DPI and scaled where it is used, with the DPI
// of the monitor that shows it.
#pragma once

#include <windows.h>

constexpr UINT kDefaultDpi = USER_DEFAULT_SCREEN_DPI;

// size at dpi, rounded to the nearest pixel.
int Scale(int size, UINT dpi);
float ScaleF(float size, UINT dpi);
RECT ScaleRect(const RECT& rect, UINT dpi);

// Per-monitor awareness for a process that was started without its manifest.
void MakeProcessDpiAware();
UINT SystemDpi();
UINT DpiForWindow(HWND hwnd);
UINT DpiForMonitor(HMONITOR monitor);
int SystemMetricForDpi(int index, UINT dpi);
