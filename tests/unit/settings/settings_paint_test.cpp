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

TEST_F(SettingsPaintTest, CardTabsAndButtonsAtRest) {
  SettingsView view;
  Paint(view);
  EXPECT_EQ(At(5, 200), kSettingsBackground);
  EXPECT_EQ(At(15, 200), kSettingsBorder);  // card's left edge
  EXPECT_EQ(At(kClient.right - 16, 200), kSettingsBorder);  // its right edge follows the width
  EXPECT_EQ(At(100, 300), kSettingsSurface);
  EXPECT_EQ(At(100, 319), kSettingsBorder);
  // Active tab: surface with the accent underline 2 pixels above its bottom.
  EXPECT_EQ(At(75, 50), kSettingsSurface);
  EXPECT_EQ(At(75, kGeneralTabRect.bottom - 2), kSettingsAccent);
  EXPECT_EQ(At(25, kGeneralTabRect.bottom - 2), kSettingsSurface);  // the line stops 10 short
  // Inactive, unhovered tab: nothing behind its text.
  EXPECT_EQ(At(145, 50), kSettingsBackground);
  EXPECT_EQ(At(197, kHotkeysTabRect.bottom - 2), kSettingsBackground);
  EXPECT_EQ(At(256, 346), kSettingsAccent);   // Save
  EXPECT_EQ(At(356, 346), kSettingsSurface);  // Cancel
  EXPECT_EQ(At(350, 357), kSettingsBorder);
}

TEST_F(SettingsPaintTest, SwitchShowsItsCheckMarkOnlyWhenOn) {
  SettingsView view;
  view.autoCopyLink = true;
  view.captureCursor = false;
  Paint(view);
  const RECT autoCopyBox = {30, 82, 50, 102};
  const RECT captureBox = {30, 117, 50, 137};
  EXPECT_GT(CountNear(autoCopyBox, kSettingsAccent, 0), 10);
  EXPECT_EQ(CountNear(captureBox, kSettingsAccent, 0), 0);
  EXPECT_EQ(At(40, 84), kSettingsSurface);
  EXPECT_EQ(At(30, 92), kSettingsBorder);

  view.autoCopyLink = false;
  view.captureCursor = true;
  Paint(view);
  EXPECT_EQ(CountNear(autoCopyBox, kSettingsAccent, 0), 0);
  EXPECT_GT(CountNear(captureBox, kSettingsAccent, 0), 10);
}

TEST_F(SettingsPaintTest, HoverLightsOnlyTheElementUnderTheMouse) {
  SettingsView view;
  view.hover = {300, 357};  // over Save
  Paint(view);
  EXPECT_EQ(At(256, 346), kSettingsAccentHover);
  EXPECT_EQ(At(356, 346), kSettingsSurface);

  view.hover = {400, 357};  // over Cancel
  Paint(view);
  EXPECT_EQ(At(256, 346), kSettingsAccent);
  EXPECT_EQ(At(356, 346), kSettingsHover);

  view.hover = {150, 25};  // over the inactive tab
  Paint(view);
  EXPECT_EQ(At(145, 50), kSettingsHover);

  view.hover = {300, 128};  // over the second switch row, label included
  Paint(view);
  EXPECT_EQ(At(40, 119), kSettingsHover);
  EXPECT_EQ(At(40, 84), kSettingsSurface);
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
