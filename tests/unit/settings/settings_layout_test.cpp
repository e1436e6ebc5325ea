#include <windows.h>

#include <gtest/gtest.h>

#include "settings/settings_layout.h"

namespace {

SettingsElement At(LONG x, LONG y, int page) { return SettingsHitTest(POINT{x, y}, page); }

TEST(SettingsHitTestTest, WholeSwitchRowIsClickableLabelIncluded) {
  EXPECT_EQ(At(30, 80, kGeneralPage), SettingsElement::AutoCopyRow);
  EXPECT_EQ(At(300, 92, kGeneralPage), SettingsElement::AutoCopyRow);  // on the label
  EXPECT_EQ(At(429, 104, kGeneralPage), SettingsElement::AutoCopyRow);
  EXPECT_EQ(At(430, 92, kGeneralPage), SettingsElement::None);  // right edge is outside
  EXPECT_EQ(At(100, 105, kGeneralPage), SettingsElement::None);  // bottom edge, gap to row 2
  EXPECT_EQ(At(100, 115, kGeneralPage), SettingsElement::CaptureCursorRow);
  EXPECT_EQ(At(100, 139, kGeneralPage), SettingsElement::CaptureCursorRow);
  EXPECT_EQ(At(100, 140, kGeneralPage), SettingsElement::None);
}

TEST(SettingsHitTestTest, PageContentAnswersOnlyOnItsOwnPage) {
  // The hotkey field overlaps the second switch row: the page decides which one is meant.
  EXPECT_EQ(At(100, 120, kGeneralPage), SettingsElement::CaptureCursorRow);
  EXPECT_EQ(At(100, 120, kHotkeysPage), SettingsElement::HotkeyField);
  EXPECT_EQ(At(100, 90, kHotkeysPage), SettingsElement::None);  // the label above the field
  EXPECT_EQ(At(30, 100, kHotkeysPage), SettingsElement::HotkeyField);
  EXPECT_EQ(At(429, 134, kHotkeysPage), SettingsElement::HotkeyField);
  EXPECT_EQ(At(430, 120, kHotkeysPage), SettingsElement::None);
  EXPECT_EQ(At(100, 135, kHotkeysPage), SettingsElement::None);
  // The language list is a child window: clicks on it never reach the page.
  EXPECT_EQ(At(250, 165, kGeneralPage), SettingsElement::None);
}

TEST(SettingsHitTestTest, TabsAndButtonsOnBothPages) {
  for (int page : {kGeneralPage, kHotkeysPage}) {
    EXPECT_EQ(At(20, 20, page), SettingsElement::GeneralTab);
    EXPECT_EQ(At(129, 54, page), SettingsElement::GeneralTab);
    EXPECT_EQ(At(132, 30, page), SettingsElement::None);  // between the tabs
    EXPECT_EQ(At(135, 20, page), SettingsElement::HotkeysTab);
    EXPECT_EQ(At(259, 54, page), SettingsElement::HotkeysTab);
    EXPECT_EQ(At(250, 340, page), SettingsElement::SaveButton);
    EXPECT_EQ(At(339, 374, page), SettingsElement::SaveButton);
    EXPECT_EQ(At(345, 357, page), SettingsElement::None);  // between the buttons
    EXPECT_EQ(At(350, 340, page), SettingsElement::CancelButton);
    EXPECT_EQ(At(439, 374, page), SettingsElement::CancelButton);
    EXPECT_EQ(At(440, 357, page), SettingsElement::None);
    EXPECT_EQ(At(100, 357, page), SettingsElement::None);  // the name at the bottom
    EXPECT_EQ(At(-1, -1, page), SettingsElement::None);  // where a left mouse leaves it
  }
}

}  // namespace
