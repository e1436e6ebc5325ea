// Process-wide handles that start-up acquires and the rest of the program uses.
#pragma once

#include <windows.h>

#include "app/win_handles.h"

// The caption of Snapwren's message boxes and the title of its balloons.
constexpr wchar_t kAppTitle[] = L"Snapwren";
// Snapwren's one icon in the notification area.
constexpr UINT kTrayIconId = 1;

extern HINSTANCE g_instance;
extern HICON g_appIcon;
extern HWND g_trayWnd;
// Snapwren's hidden top-level window. Unlike the message-only tray window it can be the
// foreground window and hears broadcasts: it owns the tray menu, the clipboard's content and
// the message boxes of features that have no window of their own.
extern HWND g_ownerWnd;

// The hidden top-level window, which lives as long as the process; the tray window while there
// is none.
HWND OwnerWindow();
// The application icon, or the system's while there is none.
HICON AppIcon();

// The fallback application icon, drawn with GDI+ (which must be started).
UniqueIcon CreateAppIcon();
