// The full-screen overlay editor's window procedure.
#pragma once

#include <windows.h>

LRESULT CALLBACK OverlayWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
