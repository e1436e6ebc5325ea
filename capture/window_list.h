// The top-level windows a click in the overlay can select, as they were when the screen froze.
#pragma once

#include <windows.h>

#include <vector>

// The visible windows of other programs, topmost first, by the outline the user sees, in
// overlay client coordinates (screen coordinates minus the virtual screen's origin).
std::vector<RECT> ListTopLevelWindows();
