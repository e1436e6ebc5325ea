#include "settings/settings_layout.h"

#include "app/dpi.h"

SettingsElement SettingsHitTest(POINT point, int page, UINT dpi) {
  auto contains = [dpi](const RECT& rect96, POINT at) {
    const RECT rect = ScaleRect(rect96, dpi);
    return at.x >= rect.left && at.x < rect.right && at.y >= rect.top && at.y < rect.bottom;
  };
  if (contains(kGeneralTabRect, point)) return SettingsElement::GeneralTab;
  if (contains(kHotkeysTabRect, point)) return SettingsElement::HotkeysTab;
  if (contains(kSaveButtonRect, point)) return SettingsElement::SaveButton;
  if (contains(kCancelButtonRect, point)) return SettingsElement::CancelButton;
  if (page == kHotkeysPage) {
    if (contains(kHotkeyFieldRect, point)) return SettingsElement::HotkeyField;
  } else if (page == kGeneralPage) {
    if (contains(kAutoCopyRowRect, point)) return SettingsElement::AutoCopyRow;
    if (contains(kCaptureCursorRowRect, point)) return SettingsElement::CaptureCursorRow;
    if (contains(kSaveHistoryRowRect, point)) return SettingsElement::SaveHistoryRow;
  }
  return SettingsElement::None;
}

RECT SettingsEditRect(const RECT& field96, UINT dpi) {
  RECT rect = ScaleRect(field96, dpi);
  InflateRect(&rect, -Scale(kFieldInsetX, dpi), -Scale(kFieldInsetY, dpi));
  return rect;
}

RECT SettingsCardRect(const RECT& client, UINT dpi) {
  return {Scale(kCardLeft, dpi), Scale(kCardTop, dpi), client.right - Scale(kCardLeft, dpi),
          Scale(kCardBottom, dpi)};
}

RECT CentredSettingsRect(int screenWidth, int screenHeight, UINT dpi) {
  const int width = Scale(kSettingsWidth, dpi);
  const int height = Scale(kSettingsHeight, dpi);
  const int left = (screenWidth - width) / 2;
  const int top = (screenHeight - height) / 2;
  return {left, top, left + width, top + height};
}
