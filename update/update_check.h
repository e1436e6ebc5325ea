// Asking the update server whether a newer version exists.
#pragma once

#include <windows.h>

#include <string>

struct UpdateInfo {
  bool available = false;
  std::wstring version;
  std::wstring url;
  std::wstring changelog;
  std::wstring error;
};

UpdateInfo CheckForUpdate();
// Thread procedure of the start-up check; its argument is a heap HWND cell that it frees.
DWORD WINAPI UpdateCheckThread(LPVOID parameter);
