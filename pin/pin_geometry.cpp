#include "pin/pin_geometry.h"

#include <algorithm>

namespace {

constexpr int kStep = 10;
constexpr int kWheelNotch = WHEEL_DELTA;

// Up to the next multiple of the step, or down to the one before, clamped at every step: 400 up
// stays 400, so the next step down gives 390.
int StepOnGrid(int value, int steps, int low, int high) {
  for (; steps > 0; --steps) value = std::min(high, (value / kStep + 1) * kStep);
  for (; steps < 0; ++steps) value = std::max(low, ((value + kStep - 1) / kStep - 1) * kStep);
  return std::clamp(value, low, high);
}

}  // namespace

int StepZoom(int zoom, int steps) { return StepOnGrid(zoom, steps, kPinMinZoom, kPinMaxZoom); }

int StepOpacity(int opacity, int steps) {
  return StepOnGrid(opacity, steps, kPinMinOpacity, kPinMaxOpacity);
}

int WheelNotches(int& remainder, int delta) {
  remainder += delta;
  const int notches = remainder / kWheelNotch;
  remainder -= notches * kWheelNotch;
  return notches;
}

int ZoomedLength(int length, int zoom) { return std::max(1, MulDiv(length, zoom, kPinFullSize)); }

RECT ZoomAbout(const RECT& picture, POINT pointer, SIZE image, int newZoom) {
  const int oldWidth = std::max(1L, picture.right - picture.left);
  const int oldHeight = std::max(1L, picture.bottom - picture.top);
  const int width = ZoomedLength(image.cx, newZoom);
  const int height = ZoomedLength(image.cy, newZoom);
  // The pointer's share of the way across the picture stays the same.
  const int left = pointer.x - MulDiv(pointer.x - picture.left, width, oldWidth);
  const int top = pointer.y - MulDiv(pointer.y - picture.top, height, oldHeight);
  return RECT{left, top, left + width, top + height};
}

BYTE OpacityAlpha(int opacity) {
  return static_cast<BYTE>(MulDiv(255, std::clamp(opacity, 0, kPinMaxOpacity), kPinMaxOpacity));
}
