// Frames of the settings window drawn into a memory bitmap with the real GDI, then read back
// pixel by pixel at places that no text reaches.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/win_handles.h"
#include "settings/settings.h"
#include "settings/settings_layout.h"
#include "settings/settings_paint.h"

namespace {

// Client size of the 470 x 420 window with its caption and dialog frame.
constexpr RECT kClient = {0, 0, 464, 391};

bool Near(COLORREF a, COLORREF b, int tolerance) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
         std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

class SettingsPaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppSettings.Language = 0;
    screen_ = GetDC(nullptr);
    bitmap_.reset(CreateCompatibleBitmap(screen_, kClient.right, kClient.bottom));
    memory_.reset(CreateCompatibleDC(screen_));
    ASSERT_TRUE(bitmap_ && memory_);
    select_ = SelectObject(memory_.get(), bitmap_.get());
    normal_.reset(CreateFontW(15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                              DEFAULT_PITCH, L"Segoe UI"));
    bold_.reset(CreateFontW(15, 0, 0, 0, FW_SEMIBOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                            DEFAULT_PITCH, L"Segoe UI"));
  }
  void TearDown() override {
    SelectObject(memory_.get(), select_);
    ReleaseDC(nullptr, screen_);
  }

  void Paint(const SettingsView& view) {
    PaintSettings(memory_.get(), kClient, view, {normal_.get(), bold_.get()});
  }
  COLORREF At(int x, int y) { return GetPixel(memory_.get(), x, y); }
  int CountNear(const RECT& area, COLORREF color, int tolerance) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
      for (int x = area.left; x < area.right; ++x) count += Near(At(x, y), color, tolerance);
    }
    return count;
  }

  HDC screen_ = nullptr;
  UniqueBitmap bitmap_;
  UniqueMemoryDc memory_;
  HGDIOBJ select_ = nullptr;
  UniqueFont normal_;
  UniqueFont bold_;
};

// Switch states, hover and the general page's colours are checked on the real window by the
// end-to-end tests; these are the parts a user sees only in passing.
TEST_F(SettingsPaintTest, CardFollowsTheClientWidth) {
  Paint(SettingsView{});
  EXPECT_EQ(At(15, 200), kSettingsBorder);
  EXPECT_EQ(At(kClient.right - 16, 200), kSettingsBorder);
  EXPECT_EQ(At(kClient.right - 10, 200), kSettingsBackground);
  EXPECT_EQ(At(100, 319), kSettingsBorder);
}

TEST_F(SettingsPaintTest, HotkeyFieldBorderFollowsItsState) {
  SettingsView view;
  view.page = kHotkeysPage;
  view.hotkey = {MOD_CONTROL | MOD_SHIFT, 'S', false};
  const POINT leftEdge = {30, 117};
  const RECT field = kHotkeyFieldRect;

  Paint(view);
  EXPECT_EQ(At(leftEdge.x, leftEdge.y), kSettingsBorder);
  EXPECT_EQ(At(36, 117), kSettingsBackground);  // filled, unlike the card around it
  EXPECT_EQ(At(75, kHotkeysTabRect.bottom - 2), kSettingsBackground);  // general tab inactive
  EXPECT_EQ(At(197, kHotkeysTabRect.bottom - 2), kSettingsAccent);
  EXPECT_EQ(CountNear(field, kSettingsAccent, 12), 0);  // idle text is light, not accent
  // The switches belong to the other page.
  EXPECT_EQ(CountNear(RECT{30, 82, 50, 99}, kSettingsBorder, 0), 0);

  view.hover = {200, 110};
  Paint(view);
  EXPECT_EQ(At(leftEdge.x, leftEdge.y), kSettingsAccentHover);

  view.hotkey.recording = true;  // recording wins over hover
  Paint(view);
  EXPECT_EQ(At(leftEdge.x, leftEdge.y), kSettingsAccent);
  const RECT inside = {field.left + 2, field.top + 2, field.right - 2, field.bottom - 2};
  EXPECT_GT(CountNear(inside, kSettingsAccent, 12), 10);  // "Taste drücken..."
}

}  // namespace
