// Replacing the clipboard's content, the one way Snapwren writes to it.
#pragma once

#include <windows.h>

#include <string>

#include "app/win_handles.h"

// Puts data in format on the clipboard as its only content; false when nothing changed. On
// success the system owns data.
bool ReplaceClipboard(HWND owner, UINT format, UniqueGlobal& data);
// Puts text on the clipboard as CF_UNICODETEXT, its only format; false when nothing changed.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);
