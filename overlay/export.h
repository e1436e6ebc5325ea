// The editor's three ways out that keep the picture: Copy, Save and Upload, and the PNG
// encoding behind the last two.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/png.h"
#include "app/win_handles.h"

class CaptureSession;

// The selected part of the frozen screen with its annotations; null when the selection has
// no area.
UniqueBitmap ComposeSelection(const CaptureSession& session);

enum class SaveOutcome { Cancelled, Saved, Failed };
// The save dialog owned by owner, then the PNG file; a success shows its balloon and leaves the
// file's path in savedPath.
SaveOutcome SavePictureAs(HWND owner, HBITMAP picture, std::wstring& savedPath);
// Replaces the clipboard's content with the picture and tells the user how that went.
void CopyPictureToClipboard(HBITMAP picture);

// Puts the picture on the clipboard, then closes the overlay.
void CopySelection(HWND overlay, CaptureSession& session);
// showError: the toolbar button reports a failed save in a message box, Ctrl+S does not.
void SaveSelection(HWND overlay, CaptureSession& session, bool showError);
void UploadSelection(HWND overlay, CaptureSession& session);
// Leaves the picture in the session for a pin, then closes the overlay.
void PinSelection(HWND overlay, CaptureSession& session);
