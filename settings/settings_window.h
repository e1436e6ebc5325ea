// The dark settings window.
#pragma once

#include <windows.h>

// Opens the window, or brings the open one to the front.
void ShowSettingsWindow(HWND owner);

LRESULT CALLBACK SettingsWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
