// Everything one capture session uses, from the frozen screen to the toolbar's images: made
// when the session starts, reached by the overlay window through its window data, and gone
// with everything it holds when the session ends.
#pragma once

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "app/gdiplus_handles.h"
#include "app/win_handles.h"
#include "overlay/overlay_state.h"
#include "overlay/toolbar.h"

constexpr int kToolImageCount = 13;
// Each toolbar image is drawn at 100, 150 and 200 %, as RCDATA 101 to 113, 201 to 213 and 301
// to 313.
constexpr int kToolImageSizes[] = {28, 42, 56};
constexpr int kToolImageSizeCount = 3;
constexpr int kFirstToolImageId = 101;
constexpr int kToolImageIdStep = 100;

// The repaints' buffers (overlay_paint.cpp).
class OverlayCanvas;
struct OverlayCanvasDeleter {
  void operator()(OverlayCanvas* canvas) const;
};

class CaptureSession {
 public:
  // Owns screen from now on; the colour choice is the one the last session ended with.
  CaptureSession(UniqueBitmap screen, COLORREF color, const COLORREF (&customColors)[16]);
  ~CaptureSession();
  CaptureSession(const CaptureSession&) = delete;
  CaptureSession& operator=(const CaptureSession&) = delete;

  HBITMAP Screen() const { return screen_.get(); }
  // The image of a slot for a button of buttonSize pixels, or null.
  Gdiplus::GpImage* ToolImage(int slot, int buttonSize);
  // The crosshair cursor at dpi; null when the system cannot make it.
  HCURSOR Crosshair(UINT dpi);

  OverlayState State;
  ToolbarLayout Toolbar;
  std::unique_ptr<OverlayCanvas, OverlayCanvasDeleter> Canvas;
  // The picture a pin is to show once the overlay is gone.
  UniqueBitmap Pinned;
  // Set when the overlay window is destroyed; the session's loop then ends.
  bool Done = false;

 private:
  // A GDI+ start of the session's own, under which its images are freed: declared first, so
  // it ends last.
  GdiplusSession gdiplus_;
  UniqueBitmap screen_;
  UniqueGpImage toolImages_[kToolImageSizeCount][kToolImageCount];
  bool toolImagesLoaded_[kToolImageSizeCount] = {};
  // One per DPI met: the selection may move on to a monitor of another DPI.
  std::vector<std::pair<UINT, UniqueCursor>> cursors_;
};

// A PNG stored as RCDATA in the executable, or null.
UniqueGpImage LoadPngResource(int id);
// The index of the drawn size nearest to a button of buttonSize pixels.
int NearestToolImageSize(int buttonSize);
