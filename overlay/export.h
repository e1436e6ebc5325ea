// The editor's three ways out that keep the picture: Copy, Save and Upload, and the PNG
// encoding behind the last two.
#pragma once

#include <windows.h>

#include <vector>

#include "app/win_handles.h"

class CaptureSession;

// The selected part of the frozen screen with its annotations; null when the selection has
// no area.
UniqueBitmap ComposeSelection(const CaptureSession& session);
// The encoder's index, or -1 when GDI+ has no PNG encoder.
int GetPngEncoderClsid(CLSID* clsid);
// A complete PNG file, or an empty buffer on failure. The bitmap stays the caller's.
std::vector<BYTE> EncodePng(HBITMAP bitmap);
bool SavePngFile(HBITMAP bitmap, const wchar_t* path);

// Puts the picture on the clipboard, then closes the overlay.
void CopySelection(HWND overlay, CaptureSession& session);
// showError: the toolbar button reports a failed save in a message box, Ctrl+S does not.
void SaveSelection(HWND overlay, CaptureSession& session, bool showError);
void UploadSelection(HWND overlay, CaptureSession& session);
