#include "settings/settings_window.h"

void ShowSettingsWindow(HWND) {}
