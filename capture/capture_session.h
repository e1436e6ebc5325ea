// One capture session: freeze the screen, run the overlay, deliver its result.
#pragma once

#include <windows.h>

#include <functional>

#include "app/gdiplus_handles.h"
#include "app/win_handles.h"

// The overlay's completion callback, given the final selection in overlay client coordinates.
using SelectionDoneCallback = std::function<void(const RECT&)>;

constexpr int kToolImageCount = 12;
// Each toolbar image is drawn at 100, 150 and 200 %, as RCDATA 101 to 112, 201 to 212 and 301
// to 312.
constexpr int kToolImageSizes[] = {28, 42, 56};
constexpr int kToolImageSizeCount = 3;
constexpr int kFirstToolImageId = 101;
constexpr int kToolImageIdStep = 100;

extern bool g_capturing;
// The running session's capture; freed when the session ends.
extern UniqueBitmap g_screenBitmap;
// What the running session's overlay paints and composes from; lent, never owned.
extern HBITMAP g_sessionScreenBitmap;
extern SelectionDoneCallback g_onSelectionDone;
// The toolbar images of the running session by size, each in the order of resource ids 101 to
// 112.
extern UniqueGpImage g_toolImages[kToolImageSizeCount][kToolImageCount];

// Runs one session and returns when it has ended; does nothing while another one runs.
void StartCapture();
// Shows the overlay over screenBitmap and pumps the thread's messages until it is destroyed.
void RunOverlay(HINSTANCE instance, HBITMAP screenBitmap, SelectionDoneCallback onDone);
// A PNG stored as RCDATA in the executable, or null.
UniqueGpImage LoadPngResource(int id);
void FreeToolImages();
// The index of the drawn size nearest to a button of buttonSize pixels.
int NearestToolImageSize(int buttonSize);
// The image of a slot for such a button, or null.
Gdiplus::GpImage* ToolImage(int slot, int buttonSize);
// The crosshair cursor at dpi; null when the system cannot make it.
HCURSOR CrosshairCursor(UINT dpi);
// Puts the overlay's result bitmap on the clipboard, tells the user, and frees the bitmap.
void CopyResultToClipboard();
