// Snapwren's own window messages and timers. Each message number is used once, so that a
// message that reaches the wrong window (the tray window stands in for a progress window that
// could not be made) is never taken for another one.
#pragma once

#include <windows.h>

// The shell's callback for the tray icon.
constexpr UINT WM_TRAYICON = WM_USER + 1;
// Posted to the tray window by the settings window's Save.
constexpr UINT WM_SETTINGS_CHANGED = WM_USER + 2;
// Posted to the tray window by an update check, whatever its outcome; lParam is an UpdateInfo
// that the tray window then owns.
constexpr UINT WM_UPDATE_AVAILABLE = WM_USER + 100;
// Posted by an upload's worker to its progress window, or to the tray window when there is
// none; lParam is an UploadOutcome that the receiver then owns.
constexpr UINT WM_UPLOAD_SUCCEEDED = WM_USER + 101;
constexpr UINT WM_UPLOAD_FAILED = WM_USER + 102;
// Posted by the installer's download worker to its progress window: more bytes have arrived
// (no parameters; the window reads the counts from the download), and the outcome, whose lParam
// is a DownloadOutcome that the window then owns.
constexpr UINT WM_UPDATE_DOWNLOAD_PROGRESS = WM_USER + 103;
constexpr UINT WM_UPDATE_DOWNLOADED = WM_USER + 104;

// Posted to the tray window by the history's workers; lParam is their job, which the tray
// window then owns: a picture stored, the pictures of the menu made, a deletion answered.
constexpr UINT WM_HISTORY_RECORDED = WM_USER + 105;
constexpr UINT WM_HISTORY_THUMBNAILS = WM_USER + 106;
constexpr UINT WM_HISTORY_DELETED = WM_USER + 107;

// Timer ids belong to their window, so the progress window's and the overlay's may repeat.
constexpr UINT_PTR IDT_SPINNER = 998;
constexpr UINT_PTR IDT_AUTOCLOSE = 999;
constexpr UINT_PTR IDT_CARET = 999;
constexpr UINT_PTR IDT_TOOLTIP = 997;
// The tray window's countdown of a delayed capture, once a second.
constexpr UINT_PTR IDT_CAPTURE_DELAY = 996;
