// The arithmetic of a pinned screenshot: its zoom and opacity steps and where its picture lies
// on the screen when it zooms about the pointer.
#pragma once

#include <windows.h>

constexpr int kPinMinZoom = 25;
constexpr int kPinMaxZoom = 400;
constexpr int kPinMinOpacity = 20;
constexpr int kPinMaxOpacity = 100;
constexpr int kPinFullSize = 100;

// Percentages after steps of the wheel (positive: up), clamped to their ranges; off the 10 %
// grid (25 %) the first step lands on it.
int StepZoom(int zoom, int steps);
int StepOpacity(int opacity, int steps);
// Whole notches of a wheel delta; what is left of a finer wheel's delta waits in remainder.
int WheelNotches(int& remainder, int delta);
// A side of length image pixels at zoom percent, at least one pixel.
int ZoomedLength(int length, int zoom);
// The picture's screen rectangle at newZoom, so that the picture's point under pointer stays
// under it.
RECT ZoomAbout(const RECT& picture, POINT pointer, SIZE image, int newZoom);
// The constant alpha of a layered window at opacity percent.
BYTE OpacityAlpha(int opacity);
