// A bitmap as the clipboard's CF_DIB: a 40-byte header and 32-bit bottom-up pixels.
#pragma once

#include <windows.h>

#include <cstddef>

#include "app/win_handles.h"

BITMAPINFOHEADER MakeClipboardDibHeader(int width, int height);
// Header plus width x height x 4 bytes of pixels.
size_t ClipboardDibSize(int width, int height);
// GetDIBits leaves the fourth byte of each pixel at 0; programs that read it as alpha would
// paste an invisible picture.
void MakePixelsOpaque(BYTE* pixels, size_t pixelCount);
// The whole CF_DIB block for a bitmap, or null.
UniqueGlobal CreateClipboardDib(HBITMAP bitmap);
// Replaces the clipboard's content with the bitmap; false when nothing was placed.
bool PutBitmapOnClipboard(HWND owner, HBITMAP bitmap);
