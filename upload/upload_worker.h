// Uploading a PNG in the background behind a small progress window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/messages.h"

struct UploadOutcome {
  UINT64 uploadId = 0;
  std::wstring link;       // on success
  std::wstring deleteUrl;  // on success, when the server offers to take the image back
  std::wstring reason;     // on failure: why, in the user's words
  std::wstring keptPath;   // on failure: where the screenshot was saved, "" when it couldn't be
  std::vector<BYTE> png;   // the screenshot, for the history
};

// Shows the progress window and uploads png on a worker thread; call on the UI thread.
void StartUpload(std::vector<BYTE> png);
DWORD WINAPI UploadWorker(LPVOID parameter);
LRESULT CALLBACK ProgressWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
// The outcome of an upload that has no progress window (it could not be made), posted to the
// tray window: the link on the clipboard and the balloon, or the failure balloon.
void ReportUploadWithoutWindow(UINT message, LPARAM outcome);

// The balloon after a successful upload, from whether the link was meant to be copied and was.
std::wstring SuccessBalloonText(bool autoCopy, bool copied, const std::wstring& link);
