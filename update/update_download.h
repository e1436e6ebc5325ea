// Downloading the installer of a newer version and starting it.
#pragma once

#include <windows.h>

#include <string>

// True only when the user confirmed and the installer was started; the program then quits.
bool DownloadAndInstallUpdate(const std::wstring& url, HWND owner);
