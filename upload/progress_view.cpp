#include "upload/progress_view.h"

#include <cmath>

#include "app/dpi.h"
#include "app/gdiplus_handles.h"

namespace {

// Sizes at 96 DPI.
constexpr int kRightMargin = 20;
constexpr int kBottomMargin = 50;
constexpr int kStackGap = 10;

constexpr float kSpinnerStep = 10.0f;
constexpr float kFullTurn = 360.0f;
constexpr float kPi = 3.14159f;

// The flower turns about this point of the client area.
constexpr float kCentreX = 35.0f;
constexpr float kCentreY = 40.0f;
constexpr int kPetalCount = 5;
constexpr float kPetalDistance = 12.0f;
constexpr float kPetalWidth = 16.0f;
constexpr float kPetalHeight = 20.0f;
constexpr float kDiscRadius = 6.0f;
constexpr Gdiplus::ARGB kPetalColour = 0xFFFFB6C1;
constexpr Gdiplus::ARGB kDiscColour = 0xFFFFDCB4;

constexpr Gdiplus::ARGB kUploadingColour = 0xFF000000;
constexpr Gdiplus::ARGB kSucceededColour = 0xFF008000;
constexpr wchar_t kUploadingText[] = L"Screenshot wird hochgeladen...";
constexpr wchar_t kSucceededText[] = L"Upload erfolgreich! \u2714";
constexpr wchar_t kFontFamily[] = L"Segoe UI";
// 11 points at 96 DPI. In pixels: GDI+ would convert points with the DC's DPI, which for a
// per-monitor aware process is the system's, not the monitor's.
constexpr float kFontPixels = 11.0f * 96.0f / 72.0f;
constexpr float kTextLeft = 70.0f;
constexpr float kTextTop = 32.0f;

void FillEllipse(Gdiplus::GpGraphics* graphics, Gdiplus::ARGB colour, float x, float y,
                 float width, float height) {
  Gdiplus::GpSolidFill* fill = nullptr;
  if (gp::GdipCreateSolidFill(colour, &fill) != Gdiplus::Ok) return;
  const UniqueGpBrush brush(reinterpret_cast<Gdiplus::GpBrush*>(fill));
  gp::GdipFillEllipse(graphics, brush.get(), x, y, width, height);
}

void PaintFlower(Gdiplus::GpGraphics* graphics, float angle, UINT dpi) {
  // Drawn in 96-DPI units, scaled to the window's DPI.
  const float scale = ScaleF(1.0f, dpi);
  gp::GdipScaleWorldTransform(graphics, scale, scale, Gdiplus::MatrixOrderPrepend);
  gp::GdipTranslateWorldTransform(graphics, kCentreX, kCentreY, Gdiplus::MatrixOrderPrepend);
  gp::GdipRotateWorldTransform(graphics, angle, Gdiplus::MatrixOrderPrepend);
  gp::GdipTranslateWorldTransform(graphics, -kCentreX, -kCentreY, Gdiplus::MatrixOrderPrepend);
  for (int i = 0; i < kPetalCount; ++i) {
    const float a = static_cast<float>(i) * 72.0f * kPi / 180.0f;
    FillEllipse(graphics, kPetalColour, kCentreX + kPetalDistance * std::cos(a) - kPetalWidth / 2,
                kCentreY + kPetalDistance * std::sin(a) - kPetalHeight / 2, kPetalWidth,
                kPetalHeight);
  }
  FillEllipse(graphics, kDiscColour, kCentreX - kDiscRadius, kCentreY - kDiscRadius,
              2 * kDiscRadius, 2 * kDiscRadius);
  gp::GdipResetWorldTransform(graphics);
}

// Segoe UI is missing on many systems (and in Wine without substitutes): fall back to the
// generic sans-serif family, and draw no text when that is missing too.
UniqueGpFont CreateTextFont(UINT dpi) {
  UniqueGpFontFamily family;
  if (gp::GdipCreateFontFamilyFromName(kFontFamily, nullptr, family.put()) != Gdiplus::Ok &&
      gp::GdipGetGenericFontFamilySansSerif(family.put()) != Gdiplus::Ok) {
    return {};
  }
  if (!family) return {};
  UniqueGpFont font;
  if (gp::GdipCreateFont(family.get(), ScaleF(kFontPixels, dpi), Gdiplus::FontStyleRegular,
                         Gdiplus::UnitPixel, font.put()) != Gdiplus::Ok) {
    return {};
  }
  return font;
}

void PaintText(Gdiplus::GpGraphics* graphics, bool succeeded, UINT dpi) {
  const UniqueGpFont font = CreateTextFont(dpi);
  if (!font) return;
  Gdiplus::GpSolidFill* fill = nullptr;
  if (gp::GdipCreateSolidFill(succeeded ? kSucceededColour : kUploadingColour, &fill) !=
      Gdiplus::Ok) {
    return;
  }
  const UniqueGpBrush brush(reinterpret_cast<Gdiplus::GpBrush*>(fill));
  // An empty layout rectangle: the text starts at its corner and is neither wrapped nor clipped.
  const Gdiplus::RectF layout(ScaleF(kTextLeft, dpi), ScaleF(kTextTop, dpi), 0.0f, 0.0f);
  gp::GdipDrawString(graphics, succeeded ? kSucceededText : kUploadingText, -1, font.get(),
                     &layout, nullptr, brush.get());
}

}  // namespace

RECT ProgressWindowRect(int screenWidth, int screenHeight, int slot, UINT dpi) {
  const int width = Scale(kProgressWidth, dpi);
  const int height = Scale(kProgressHeight, dpi);
  const int step = height + Scale(kStackGap, dpi);
  const int bottomTop = screenHeight - Scale(kBottomMargin, dpi) - height;
  const int slots = bottomTop > 0 ? bottomTop / step + 1 : 1;
  const int row = slot > 0 ? slot % slots : 0;
  RECT rect;
  rect.left = screenWidth - Scale(kRightMargin, dpi) - width;
  rect.top = bottomTop - row * step;
  rect.right = rect.left + width;
  rect.bottom = rect.top + height;
  return rect;
}

float AdvanceSpinnerAngle(float angle) {
  angle += kSpinnerStep;
  if (angle >= kFullTurn) angle -= kFullTurn;
  return angle;
}

void PaintProgress(HDC hdc, const RECT& client, float angle, bool succeeded, UINT dpi) {
  FillRect(hdc, &client, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1)));
  UniqueGpGraphics graphics;
  if (gp::GdipCreateFromHDC(hdc, graphics.put()) != Gdiplus::Ok) return;
  gp::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
  PaintFlower(graphics.get(), angle, dpi);
  PaintText(graphics.get(), succeeded, dpi);
}
