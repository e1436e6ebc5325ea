#include "overlay/session.h"

#include <cstdlib>
#include <cstring>

#include "app/png.h"
#include "overlay/crosshair_cursor.h"

CaptureSession::CaptureSession(UniqueBitmap screen, COLORREF color,
                               const COLORREF (&customColors)[16])
    : screen_(std::move(screen)) {
  State.CurrentColor = color;
  std::memcpy(State.CustomColors, customColors, sizeof State.CustomColors);
}

// The canvas goes first: its buffers were made from the screen.
CaptureSession::~CaptureSession() { Canvas.reset(); }

// Decoded when the toolbar is first drawn, not before the session's first frame, and only at
// the sizes shown. A failed image stays null until the session ends.
Gdiplus::GpImage* CaptureSession::ToolImage(int slot, int buttonSize) {
  if (slot < 0 || slot >= kToolImageCount) return nullptr;
  const int size = NearestToolImageSize(buttonSize);
  if (!toolImagesLoaded_[size]) {
    for (int i = 0; i < kToolImageCount; ++i) {
      toolImages_[size][i] = LoadPngResource(kFirstToolImageId + kToolImageIdStep * size + i);
    }
    toolImagesLoaded_[size] = true;
  }
  return toolImages_[size][slot].get();
}

HCURSOR CaptureSession::Crosshair(UINT dpi) {
  for (const auto& made : cursors_) {
    if (made.first == dpi) return made.second.get();
  }
  // A failure is tried again the next time.
  UniqueCursor cursor(CreateCrosshairCursor(dpi));
  if (!cursor) return nullptr;
  cursors_.emplace_back(dpi, std::move(cursor));
  return cursors_.back().second.get();
}

UniqueGpImage LoadPngResource(int id) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (!resource) return {};
  const HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, resource);
  if (!bytes || size == 0) return {};
  return DecodePng(bytes, size);
}

// On a tie the larger: shrinking keeps an image sharper than enlarging it.
int NearestToolImageSize(int buttonSize) {
  int nearest = 0;
  for (int i = 1; i < kToolImageSizeCount; ++i) {
    if (std::abs(kToolImageSizes[i] - buttonSize) <=
        std::abs(kToolImageSizes[nearest] - buttonSize)) {
      nearest = i;
    }
  }
  return nearest;
}
