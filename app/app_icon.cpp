#include <cmath>

#include "app/app.h"
#include "app/gdiplus_handles.h"

namespace {

constexpr int kIconSize = 32;
constexpr Gdiplus::ARGB kPetalColor = 0xFFFFB6C1;
constexpr Gdiplus::ARGB kCentreColor = 0xFFFFDC64;
constexpr Gdiplus::ARGB kDotColor = 0xFFFF8296;
constexpr float kPi = 3.14159f;

// Five circles of the given diameter around (16, 16), the first at startDegrees.
void FillRing(Gdiplus::GpGraphics* graphics, Gdiplus::GpBrush* brush, float startDegrees,
              float radius, float diameter) {
  for (float degrees = startDegrees; degrees < startDegrees + 360.0f; degrees += 72.0f) {
    const float radians = degrees * kPi / 180.0f;
    const float left = 16.0f + radius * std::cos(radians) - diameter / 2.0f;
    const float top = 16.0f + radius * std::sin(radians) - diameter / 2.0f;
    gp::GdipFillEllipse(graphics, brush, left, top, diameter, diameter);
  }
}

}  // namespace

UniqueIcon CreateAppIcon() {
  Gdiplus::GpBitmap* bitmap = nullptr;
  if (gp::GdipCreateBitmapFromScan0(kIconSize, kIconSize, 0, PixelFormat32bppARGB, nullptr,
                                    &bitmap) != Gdiplus::Ok) {
    return {};
  }
  UniqueGpImage image(AsImage(bitmap));
  {
    UniqueGpGraphics graphics;
    if (gp::GdipGetImageGraphicsContext(image.get(), graphics.put()) != Gdiplus::Ok) return {};
    gp::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
    gp::GdipGraphicsClear(graphics.get(), 0x00000000);

    // Petals, centre, dots: later shapes lie on top.
    UniqueGpBrush petals = SolidBrush(kPetalColor);
    FillRing(graphics.get(), petals.get(), -90.0f, 8.0f, 10.0f);
    UniqueGpBrush centre = SolidBrush(kCentreColor);
    gp::GdipFillEllipse(graphics.get(), centre.get(), 12.0f, 12.0f, 8.0f, 8.0f);
    UniqueGpBrush dots = SolidBrush(kDotColor);
    FillRing(graphics.get(), dots.get(), 0.0f, 2.5f, 2.0f);
  }
  UniqueIcon icon;
  if (gp::GdipCreateHICONFromBitmap(bitmap, icon.put()) != Gdiplus::Ok) return {};
  return icon;
}
