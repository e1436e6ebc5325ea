// PNG files from bitmaps, through GDI+'s encoder (GDI+ must be started on the process).
#pragma once

#include <windows.h>

#include <vector>

// The encoder's index, or -1 when GDI+ has no PNG encoder.
int GetPngEncoderClsid(CLSID* clsid);
// A complete PNG file, or an empty buffer on failure. The bitmap stays the caller's.
std::vector<BYTE> EncodePng(HBITMAP bitmap);
bool SavePngFile(HBITMAP bitmap, const wchar_t* path);
