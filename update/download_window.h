// The installer's download behind a small progress window, and what follows once it has arrived.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct UpdateInfo;

// Downloads the installer that `update` names on a worker thread, showing the progress with a
// button "Abbrechen"; once it has arrived and matches its signed SHA-256, asks and starts it, and
// Snapwren quits. `owner` owns the message boxes. A second call while one runs shows its window.
void DownloadAndInstallUpdate(const UpdateInfo& update, HWND owner);
// Stops a running download as Snapwren quits; its partial file goes.
void CancelUpdateDownload();
LRESULT CALLBACK DownloadWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// "Update wird heruntergeladen: 1,5 MB von 30,0 MB", without the total when it is kUnknownSize.
std::wstring DownloadProgressText(uint64_t received, uint64_t total);
// How much of a bar `width` wide stands for what has arrived; none while the total is unknown.
int ProgressBarFill(int width, uint64_t received, uint64_t total);
