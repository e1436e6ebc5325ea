// Keeping the screenshot of a failed upload, which is the user's only copy once the overlay is gone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// "Snapwren_2024-05-01_09-05-07.png"; attempt 2 and later add "_2", "_3", ... before ".png".
std::wstring FailedUploadFileName(const SYSTEMTIME& time, int attempt);
// Writes png under "Snapwren" in the user's pictures folder without replacing any file;
// returns the file's path, or "" when nothing could be written.
std::wstring KeepFailedUpload(const std::vector<BYTE>& png);
// KeepFailedUpload into folder, which is created when missing.
std::wstring KeepFailedUploadIn(const std::wstring& folder, const std::vector<BYTE>& png);
// The failure balloon's message: why, and where the screenshot is, within the balloon's 255
// characters.
std::wstring FailureBalloonText(const std::wstring& reason, const std::wstring& keptPath);
