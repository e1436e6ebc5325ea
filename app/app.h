// Process-wide handles that start-up acquires and the rest of the program uses.
#pragma once

#include <windows.h>

extern HINSTANCE g_instance;
extern ULONG_PTR g_gdiplusToken;
extern HICON g_appIcon;
extern HWND g_trayWnd;

// The fallback application icon, drawn with GDI+ (which must be started).
HICON CreateAppIcon();
