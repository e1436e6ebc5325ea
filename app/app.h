// Process-wide handles that start-up acquires and the rest of the program uses.
#pragma once

#include <windows.h>

extern HINSTANCE g_instance;
extern ULONG_PTR g_gdiplusToken;
extern HICON g_appIcon;
extern HWND g_trayWnd;
// Snapwren's hidden top-level window. Unlike the message-only tray window it can be the
// foreground window and hears broadcasts: it owns the tray menu and the clipboard's content.
extern HWND g_ownerWnd;

// The fallback application icon, drawn with GDI+ (which must be started).
HICON CreateAppIcon();
