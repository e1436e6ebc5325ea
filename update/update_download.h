// Downloading the installer of a newer version and starting it.
#pragma once

#include <windows.h>

#include <string>

struct UpdateInfo;

// Downloads the installer that `update` names, checks it against its signed SHA-256 and starts
// it. True only when the user confirmed and the installer was started; the program then quits.
bool DownloadAndInstallUpdate(const UpdateInfo& update, HWND owner);

// Where the installer goes: the Downloads folder, else the folder of Snapwren's own executable.
std::wstring UpdateTargetPath();
// "<folder>\Snapwren_Update.exe".
std::wstring UpdateFileIn(const std::wstring& folder);
// The path cut before its last backslash; the whole path when it has none.
std::wstring FolderOf(const std::wstring& path);
