#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/gdiplus_handles.h"
#include "capture/capture_session.h"
#include "overlay/export.h"
#include "overlay/overlay_state.h"
#include "unit/overlay/pixel_support.h"

namespace {

using testpixels::Canvas;
using testpixels::PatternAt;

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gdiplus_.started());
    picture_ = std::make_unique<testpixels::PatternBitmap>(640, 480);
    g_sessionScreenBitmap = picture_->get();
    ResetOverlayState(g_overlayState);
  }
  void TearDown() override {
    g_sessionScreenBitmap = nullptr;
    ResetOverlayState(g_overlayState);
  }

  UniqueBitmap ComposeOf(RECT rect) {
    g_overlayState.SelectionRect = rect;
    return ComposeSelection();
  }

  // Decodes with GDI+ and returns ARGB pixels, top row first.
  static std::vector<Gdiplus::ARGB> Decode(const std::vector<BYTE>& png, UINT* width,
                                           UINT* height) {
    std::vector<Gdiplus::ARGB> pixels;
    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, png.size()));
    if (!block) return pixels;
    memcpy(GlobalLock(block.get()), png.data(), png.size());
    GlobalUnlock(block.get());
    IStream* raw = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, &raw))) return pixels;
    (void)block.release();
    UniqueStream stream(raw);
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (gp::GdipCreateBitmapFromStream(stream.get(), &bitmap) != Gdiplus::Ok) return pixels;
    UniqueGpImage image(AsImage(bitmap));
    gp::GdipGetImageWidth(image.get(), width);
    gp::GdipGetImageHeight(image.get(), height);
    for (UINT y = 0; y < *height; ++y) {
      for (UINT x = 0; x < *width; ++x) {
        Gdiplus::ARGB pixel = 0;
        gp::GdipBitmapGetPixel(bitmap, static_cast<INT>(x), static_cast<INT>(y), &pixel);
        pixels.push_back(pixel);
      }
    }
    return pixels;
  }

  static std::vector<BYTE> ReadWholeFile(const std::wstring& path) {
    std::vector<BYTE> bytes;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr));
    if (!file) return bytes;
    bytes.resize(GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    return bytes;
  }

  static std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name + std::to_wstring(GetCurrentProcessId()) + L".png";
  }

  GdiplusSession gdiplus_;
  std::unique_ptr<testpixels::PatternBitmap> picture_;
};

TEST_F(ExportTest, ComposedSelectionIsTheRegionPixelForPixel) {
  UniqueBitmap composed = ComposeOf(RECT{10, 10, 110, 60});
  ASSERT_TRUE(composed);
  int width = 0;
  int height = 0;
  const auto pixels = testpixels::ReadPixels(composed.get(), &width, &height);
  ASSERT_EQ(width, 100);
  ASSERT_EQ(height, 50);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(pixels[static_cast<size_t>(y * width + x)] & 0xFFFFFFu, PatternAt(10 + x, 10 + y))
          << x << "," << y;
    }
  }
}

TEST_F(ExportTest, AreasOffTheScreenAreBlack) {
  UniqueBitmap composed = ComposeOf(RECT{-20, 460, 30, 500});
  ASSERT_TRUE(composed);
  int width = 0;
  int height = 0;
  const auto pixels = testpixels::ReadPixels(composed.get(), &width, &height);
  ASSERT_EQ(width, 50);
  ASSERT_EQ(height, 40);
  auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y * width + x)] & 0xFFFFFFu; };
  EXPECT_EQ(at(0, 0), 0u) << "left of the screen";
  EXPECT_EQ(at(19, 19), 0u);
  EXPECT_EQ(at(20, 0), PatternAt(0, 460)) << "the screen's own pixels";
  EXPECT_EQ(at(49, 19), PatternAt(29, 479));
  EXPECT_EQ(at(20, 20), 0u) << "below the screen";
  EXPECT_EQ(at(49, 39), 0u);

  UniqueBitmap wholly = ComposeOf(RECT{700, 500, 720, 520});
  ASSERT_TRUE(wholly);
  const auto dark = testpixels::ReadPixels(wholly.get(), &width, &height);
  for (DWORD pixel : dark) ASSERT_EQ(pixel & 0xFFFFFFu, 0u);
}

TEST_F(ExportTest, SelectionsWithoutAreaComposeNothing) {
  EXPECT_FALSE(ComposeOf(RECT{100, 100, 100, 200}));
  EXPECT_FALSE(ComposeOf(RECT{100, 100, 200, 100}));
  EXPECT_FALSE(ComposeOf(RECT{150, 100, 100, 200}));
  EXPECT_FALSE(ComposeOf(RECT{100, 250, 200, 200}));
}

TEST_F(ExportTest, PngDecodesToTheSamePixelsAllOpaque) {
  UniqueBitmap composed = ComposeOf(RECT{33, 21, 133, 71});
  ASSERT_TRUE(composed);
  const std::vector<BYTE> png = EncodePng(composed.get());
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(std::string(png.begin(), png.begin() + 8), std::string("\x89PNG\r\n\x1a\n", 8));
  UINT width = 0;
  UINT height = 0;
  const auto pixels = Decode(png, &width, &height);
  ASSERT_EQ(width, 100u);
  ASSERT_EQ(height, 50u);
  for (UINT y = 0; y < height; ++y) {
    for (UINT x = 0; x < width; ++x) {
      const Gdiplus::ARGB pixel = pixels[y * width + x];
      ASSERT_EQ(pixel >> 24, 0xFFu) << x << "," << y;
      ASSERT_EQ(pixel & 0xFFFFFFu, PatternAt(static_cast<int>(33 + x), static_cast<int>(21 + y)))
          << x << "," << y;
    }
  }
}

TEST_F(ExportTest, PngEncoderIsFound) {
  CLSID clsid = {};
  EXPECT_GE(GetPngEncoderClsid(&clsid), 0);
  EXPECT_TRUE(EncodePng(nullptr).empty()) << "no bitmap, no bytes";
}

TEST_F(ExportTest, SavedFileIsTheSamePng) {
  UniqueBitmap composed = ComposeOf(RECT{200, 100, 260, 140});
  ASSERT_TRUE(composed);
  const std::wstring path = TempPath(L"snapwren-export-");
  ASSERT_TRUE(SavePngFile(composed.get(), path.c_str()));
  const std::vector<BYTE> bytes = ReadWholeFile(path);
  DeleteFileW(path.c_str());
  UINT width = 0;
  UINT height = 0;
  const auto pixels = Decode(bytes, &width, &height);
  ASSERT_EQ(width, 60u);
  ASSERT_EQ(height, 40u);
  EXPECT_EQ(pixels[0], 0xFF000000u | PatternAt(200, 100));
  EXPECT_EQ(pixels[40 * 60 - 1], 0xFF000000u | PatternAt(259, 139));
}

TEST_F(ExportTest, SavingIntoAMissingFolderFails) {
  UniqueBitmap composed = ComposeOf(RECT{200, 100, 260, 140});
  ASSERT_TRUE(composed);
  EXPECT_FALSE(SavePngFile(composed.get(), L"C:\\snapwren-no-such-folder\\shot.png"));
}

}  // namespace
