#include "app/gdiplus_handles.h"

UniqueGpGraphics GraphicsOn(HDC hdc, bool smooth) {
  Gdiplus::GpGraphics* graphics = nullptr;
  if (gp::GdipCreateFromHDC(hdc, &graphics) != Gdiplus::Ok) return {};
  UniqueGpGraphics owner(graphics);
  if (smooth) {
    gp::GdipSetTextRenderingHint(graphics, Gdiplus::TextRenderingHintAntiAlias);
    gp::GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeAntiAlias);
  }
  return owner;
}

UniqueGpBrush SolidBrush(Gdiplus::ARGB colour) {
  Gdiplus::GpSolidFill* brush = nullptr;
  if (gp::GdipCreateSolidFill(colour, &brush) != Gdiplus::Ok) return {};
  return UniqueGpBrush(brush);
}

UniqueGpPen SolidPen(Gdiplus::ARGB colour, float width) {
  Gdiplus::GpPen* pen = nullptr;
  if (gp::GdipCreatePen1(colour, width, Gdiplus::UnitWorld, &pen) != Gdiplus::Ok) return {};
  return UniqueGpPen(pen);
}

// Segoe UI is missing on some Windows installations and under Wine unless a replacement is set
// up; text in the generic sans-serif family of the same size beats no text at all.
UniqueGpFont UiFont(float size, INT style) {
  Gdiplus::GpFontFamily* rawFamily = nullptr;
  if (gp::GdipCreateFontFamilyFromName(kUiFontFamily, nullptr, &rawFamily) != Gdiplus::Ok) {
    rawFamily = nullptr;
    if (gp::GdipGetGenericFontFamilySansSerif(&rawFamily) != Gdiplus::Ok) rawFamily = nullptr;
  }
  const UniqueGpFontFamily family(rawFamily);
  if (!family) return {};
  Gdiplus::GpFont* font = nullptr;
  if (gp::GdipCreateFont(family.get(), size, style, Gdiplus::UnitPixel, &font) != Gdiplus::Ok) {
    return {};
  }
  return UniqueGpFont(font);
}
