// Pinned screenshots: borderless topmost windows that keep a picture on the screen, any number
// at a time, each with its own place, zoom and opacity.
#pragma once

#include <windows.h>

#include "app/win_handles.h"
#include "pin/pin_geometry.h"

// One pin's state, reached by its window through its window data and owned by the list of open
// pins until the window is gone.
struct Pin {
  HWND Window = nullptr;
  UniqueBitmap Picture;
  SIZE Image = {0, 0};
  int Zoom = kPinFullSize;
  int Opacity = kPinMaxOpacity;
  int WheelRemainder = 0;
  bool Moving = false;
  // Screen coordinates: the pointer where the move began, and the window's top-left corner then.
  POINT MoveAnchor = {0, 0};
  POINT MoveOrigin = {0, 0};
};

// Shows the picture at 100 % with its top-left pixel at place (screen coordinates), without
// taking the focus; the pin owns the picture from now on. Null when no window could be made.
HWND CreatePin(HINSTANCE instance, UniqueBitmap picture, POINT place);
void CloseAllPins();
// The framed picture at the pin's zoom into any DC of the window's size.
void PaintPin(HDC hdc, const Pin& pin, int width, int height);
