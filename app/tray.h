// The hidden tray window: the icon in the notification area, its menu, the hotkey and balloons.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "app/messages.h"

constexpr int HOTKEY_ID = 1;

constexpr UINT IDM_CAPTURE = 1;
constexpr UINT IDM_QUIT = 2;
constexpr UINT IDM_SETTINGS = 3;
constexpr UINT IDM_CHECK_UPDATES = 4;
constexpr UINT IDM_DELAYED_CAPTURE = 5;

extern NOTIFYICONDATAW g_trayIconData;

LRESULT CALLBACK TrayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
void ShowTrayMenu(HWND hwnd);

// The window for g_ownerWnd, which also puts the icon back when the shell restarts: the
// message-only tray window never sees the shell's broadcast. Null on failure.
HWND CreateOwnerWindow(HINSTANCE instance);
// Puts the tray icon back from g_trayIconData.
void ReAddTrayIcon();
