// Downloading the installer of a newer version and starting it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// True only when the user confirmed and the installer was started; the program then quits.
bool DownloadAndInstallUpdate(const std::wstring& url, HWND owner);

// Where the installer goes: the Downloads folder, else the folder of Snapwren's own executable.
std::wstring UpdateTargetPath();
// "<folder>\Snapwren_Update.exe".
std::wstring UpdateFileIn(const std::wstring& folder);
// The path cut before its last backslash; the whole path when it has none.
std::wstring FolderOf(const std::wstring& path);
// A Content-Length header value, or nothing when it is not a plain decimal number.
std::optional<uint64_t> ParseContentLength(const std::wstring& value);
