#include "update/update_check.h"

UpdateInfo CheckForUpdate() { return {}; }

DWORD WINAPI UpdateCheckThread(LPVOID parameter) {
  delete static_cast<HWND*>(parameter);
  return 0;
}
