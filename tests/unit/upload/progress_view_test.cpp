#include "upload/progress_view.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/gdiplus_handles.h"
#include "app/win_handles.h"

namespace {

TEST(ProgressWindowRect, StandsAtTheBottomRightOfThePrimaryScreen) {
  const RECT rect = ProgressWindowRect(1600, 900, 0);
  EXPECT_EQ(rect.left, 1230);
  EXPECT_EQ(rect.top, 710);
  EXPECT_EQ(rect.right, 1580);
  EXPECT_EQ(rect.bottom, 850);
}

TEST(ProgressWindowRect, StacksFurtherUploadsAboveAndWrapsWhenTheScreenIsFull) {
  const RECT second = ProgressWindowRect(1600, 900, 1);
  EXPECT_EQ(second.left, 1230);
  EXPECT_EQ(second.bottom, 700);  // 10 pixels above the first
  // 710 / 150: slots 0 to 4 fit (the fifth at top 110), the sixth goes back to the bottom.
  EXPECT_EQ(ProgressWindowRect(1600, 900, 4).top, 110);
  EXPECT_EQ(ProgressWindowRect(1600, 900, 5).top, 710);
  // A screen too small for even one window still gets it at the specified place.
  EXPECT_EQ(ProgressWindowRect(300, 150, 3).top, -40);
}

TEST(SpinnerAngle, TurnsInTenDegreeStepsAndWrapsToZero) {
  float angle = 0.0f;
  for (int step = 1; step < 36; ++step) {
    angle = AdvanceSpinnerAngle(angle);
    ASSERT_EQ(angle, static_cast<float>(step * 10));
  }
  EXPECT_EQ(AdvanceSpinnerAngle(angle), 0.0f);
}

// The frame is painted into a 32-bit DIB section whose pixels the test reads directly.
class PaintedFrame {
 public:
  PaintedFrame(float angle, bool succeeded) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    pixels_ = static_cast<const DWORD*>(bits);
    dc_.reset(CreateCompatibleDC(nullptr));
    SelectGuard select(dc_.get(), bitmap_.get());
    const RECT client = {0, 0, kWidth, kHeight};
    PaintProgress(dc_.get(), client, angle, succeeded);
    GdiFlush();
  }
  COLORREF At(int x, int y) const {
    const DWORD bgr = pixels_[y * kWidth + x];
    return RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
  }
  int Count(RECT area, bool (*match)(COLORREF)) const {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) count += match(At(x, y)) ? 1 : 0;
    }
    return count;
  }

  static constexpr int kWidth = 344;
  static constexpr int kHeight = 110;

 private:
  UniqueBitmap bitmap_;
  UniqueMemoryDc dc_;
  const DWORD* pixels_ = nullptr;
};

bool Near(COLORREF a, COLORREF b, int tolerance) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
         std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}
bool IsBlackish(COLORREF c) { return GetRValue(c) < 80 && GetGValue(c) < 80 && GetBValue(c) < 80; }
bool IsGreenish(COLORREF c) { return GetGValue(c) > 60 && GetRValue(c) < 60 && GetBValue(c) < 60; }

class ProgressPaint : public ::testing::Test {
 protected:
  GdiplusSession gdiplus;
};

TEST_F(ProgressPaint, DrawsPinkPetalsAroundTheWarmCentre) {
  ASSERT_TRUE(gdiplus.started());
  const PaintedFrame frame(0.0f, false);
  EXPECT_TRUE(Near(frame.At(35, 40), RGB(255, 220, 180), 2));
  // The first petal's centre lies 12 pixels right of the flower's centre; the others follow
  // every 72 degrees.
  EXPECT_TRUE(Near(frame.At(47, 40), RGB(255, 182, 193), 2));
  EXPECT_TRUE(Near(frame.At(39, 51), RGB(255, 182, 193), 2));
  EXPECT_TRUE(Near(frame.At(5, 5), GetSysColor(COLOR_WINDOW), 0));
  EXPECT_TRUE(Near(frame.At(35, 75), GetSysColor(COLOR_WINDOW), 0));
}

TEST_F(ProgressPaint, TurnsTheFlowerAboutItsCentre) {
  ASSERT_TRUE(gdiplus.started());
  // Turned by 180 degrees about (35, 40), the flower is its unturned self reflected through that
  // point (each petal is an upright ellipse, which a half turn maps onto itself). With five
  // petals that reflection is a different picture, so a missing turn fails too, and so does a
  // turn about any other point.
  const PaintedFrame still(0.0f, false);
  const PaintedFrame half(180.0f, false);
  int reflectionMismatches = 0;
  int differences = 0;
  for (int y = 10; y <= 70; ++y) {
    for (int x = 5; x <= 65; ++x) {
      reflectionMismatches += Near(half.At(x, y), still.At(70 - x, 80 - y), 80) ? 0 : 1;
      differences += Near(half.At(x, y), still.At(x, y), 40) ? 0 : 1;
    }
  }
  // Anti-aliased edges land a pixel apart here and there.
  EXPECT_LT(reflectionMismatches, 10);
  EXPECT_GT(differences, 150);
}

TEST_F(ProgressPaint, WritesTheStateInItsColourRightOfTheFlower) {
  ASSERT_TRUE(gdiplus.started());
  const RECT textArea = {70, 28, PaintedFrame::kWidth, 60};
  const PaintedFrame uploading(0.0f, false);
  const PaintedFrame succeeded(90.0f, true);
  EXPECT_GT(uploading.Count(textArea, IsBlackish), 100);
  EXPECT_EQ(uploading.Count(textArea, IsGreenish), 0);
  EXPECT_GT(succeeded.Count(textArea, IsGreenish), 100);
  EXPECT_EQ(succeeded.Count(textArea, IsBlackish), 0);
  // Nothing is written above the text's top edge or left of its start.
  EXPECT_EQ(uploading.Count({70, 0, PaintedFrame::kWidth, 30}, IsBlackish), 0);
  EXPECT_EQ(uploading.Count({60, 0, 70, 110}, IsBlackish), 0);
}

}  // namespace
