#include "settings/settings_layout.h"

namespace {

bool Contains(const RECT& rect, POINT point) {
  return point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
         point.y < rect.bottom;
}

}  // namespace

SettingsElement SettingsHitTest(POINT point, int page) {
  if (Contains(kGeneralTabRect, point)) return SettingsElement::GeneralTab;
  if (Contains(kHotkeysTabRect, point)) return SettingsElement::HotkeysTab;
  if (Contains(kSaveButtonRect, point)) return SettingsElement::SaveButton;
  if (Contains(kCancelButtonRect, point)) return SettingsElement::CancelButton;
  if (page == kHotkeysPage) {
    if (Contains(kHotkeyFieldRect, point)) return SettingsElement::HotkeyField;
  } else if (page == kGeneralPage) {
    if (Contains(kAutoCopyRowRect, point)) return SettingsElement::AutoCopyRow;
    if (Contains(kCaptureCursorRowRect, point)) return SettingsElement::CaptureCursorRow;
  }
  return SettingsElement::None;
}

RECT SettingsCardRect(const RECT& client) {
  return {kCardLeft, kCardTop, client.right - kCardLeft, kCardBottom};
}

POINT CentredSettingsOrigin(int screenWidth, int screenHeight) {
  return {(screenWidth - kSettingsWidth) / 2, (screenHeight - kSettingsHeight) / 2};
}
