// The editor's three ways out that keep the picture: Copy, Save and Upload, and the PNG
// encoding behind the last two.
#pragma once

#include <windows.h>

#include <vector>

#include "app/png.h"
#include "app/win_handles.h"

class CaptureSession;

// The selected part of the frozen screen with its annotations; null when the selection has
// no area.
UniqueBitmap ComposeSelection(const CaptureSession& session);

// Puts the picture on the clipboard, then closes the overlay.
void CopySelection(HWND overlay, CaptureSession& session);
// showError: the toolbar button reports a failed save in a message box, Ctrl+S does not.
void SaveSelection(HWND overlay, CaptureSession& session, bool showError);
void UploadSelection(HWND overlay, CaptureSession& session);
