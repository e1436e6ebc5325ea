#include "app/app.h"

HINSTANCE g_instance = nullptr;
HICON g_appIcon = nullptr;
HWND g_trayWnd = nullptr;
HWND g_ownerWnd = nullptr;

HWND OwnerWindow() { return g_ownerWnd ? g_ownerWnd : g_trayWnd; }

HICON AppIcon() { return g_appIcon ? g_appIcon : LoadIconW(nullptr, IDI_APPLICATION); }
