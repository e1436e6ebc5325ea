#include "update/update_download.h"

bool DownloadAndInstallUpdate(const std::wstring&, HWND) { return false; }
