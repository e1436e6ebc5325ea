// Replacing the clipboard's content, the one way Snapwren writes to it.
#pragma once

#include <windows.h>

#include "app/win_handles.h"

// Snapwren's hidden top-level window, which lives as long as the process; the tray window
// while there is none.
HWND ClipboardOwner();
// Puts data in format on the clipboard as its only content; false when nothing changed. On
// success the system owns data.
bool ReplaceClipboard(HWND owner, UINT format, UniqueGlobal& data);
