// PNG files from bitmaps, through GDI+'s encoder (GDI+ must be started on the process).
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "app/gdiplus_handles.h"

// The encoder's index, or -1 when GDI+ has no PNG encoder.
int GetPngEncoderClsid(CLSID* clsid);
// A complete PNG file, or an empty buffer on failure. The bitmap stays the caller's.
std::vector<BYTE> EncodePng(HBITMAP bitmap);
bool SavePngFile(HBITMAP bitmap, const wchar_t* path);
// The image of a PNG file held in memory (the bytes are copied), or null.
UniqueGpImage DecodePng(const void* bytes, size_t size);
