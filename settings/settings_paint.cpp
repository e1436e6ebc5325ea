#include "settings/settings_paint.h"

#include "app/win_handles.h"
#include "settings/labels.h"
#include "settings/settings_layout.h"

namespace {

constexpr int kTabCorner = 8;
constexpr int kCardCorner = 12;
constexpr int kToggleCorner = 6;
constexpr int kButtonCorner = 8;
constexpr int kUnderlineWidth = 3;
constexpr int kCheckWidth = 2;
constexpr int kToggleBoxSize = 20;
constexpr int kToggleTextIndent = 28;
constexpr wchar_t kProductName[] = L"Snapwren";

// Not clipped: with a substitute for Segoe UI the bold German tab title is a few pixels wider
// than its tab, and cutting off its first and last letters would help nobody.
constexpr UINT kCentred = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP;
constexpr UINT kLeftCentred = DT_LEFT | DT_VCENTER | DT_SINGLELINE;
constexpr UINT kTopLeft = DT_LEFT | DT_TOP | DT_SINGLELINE;

void DrawLine(HDC hdc, COLORREF color, int width, const POINT* points, int count) {
  UniquePen pen(CreatePen(PS_SOLID, width, color));
  SelectGuard selectPen(hdc, pen.get());
  Polyline(hdc, points, count);
}

void DrawTextIn(HDC hdc, const wchar_t* text, RECT rect, COLORREF color, UINT format) {
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, color);
  DrawTextW(hdc, text, -1, &rect, format);
}

bool Hovered(const RECT& rect, POINT hover) { return PtInRect(&rect, hover) != FALSE; }

void PaintGeneralPage(HDC hdc, const SettingsView& view) {
  DrawToggle(hdc, kAutoCopyRowRect, GetLabel("auto_copy_link"), view.autoCopyLink,
             Hovered(kAutoCopyRowRect, view.hover));
  DrawToggle(hdc, kCaptureCursorRowRect, GetLabel("capture_cursor"), view.captureCursor,
             Hovered(kCaptureCursorRowRect, view.hover));
  DrawTextIn(hdc, GetLabel("language"), kLanguageLabelRect, kSettingsText, kLeftCentred);
}

void PaintHotkeysPage(HDC hdc, const SettingsView& view) {
  DrawTextIn(hdc, GetLabel("screenshot_hotkey"), kHotkeyLabelRect, kSettingsText, kTopLeft);
  DrawHotkeyField(hdc, kHotkeyFieldRect, view.hotkey.recording,
                  Hovered(kHotkeyFieldRect, view.hover),
                  FormatHotkey(view.hotkey.modifiers, view.hotkey.key));
  DrawTextIn(hdc, HotkeyHint(view.hotkey.recording), kHotkeyHintRect, kSettingsDimText,
             kTopLeft);
}

}  // namespace

void FillRoundRect(HDC hdc, const RECT& rect, int corner, COLORREF fill, COLORREF border) {
  UniqueBrush brush(CreateSolidBrush(fill));
  UniquePen pen(CreatePen(PS_SOLID, 1, border));
  SelectGuard selectBrush(hdc, brush.get());
  SelectGuard selectPen(hdc, pen.get());
  RoundRect(hdc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
}

void DrawTab(HDC hdc, const RECT& rect, const wchar_t* text, bool active, bool hovered,
             const SettingsFonts& fonts) {
  if (active) {
    FillRoundRect(hdc, rect, kTabCorner, kSettingsSurface, kSettingsSurface);
    const POINT underline[] = {{rect.left + 10, rect.bottom - 2}, {rect.right - 10, rect.bottom - 2}};
    DrawLine(hdc, kSettingsAccent, kUnderlineWidth, underline, 2);
  } else if (hovered) {
    FillRoundRect(hdc, rect, kTabCorner, kSettingsHover, kSettingsHover);
  }
  SelectGuard selectFont(hdc, active ? fonts.bold : fonts.normal);
  DrawTextIn(hdc, text, rect, active ? kSettingsAccent : kSettingsDimText, kCentred);
}

void DrawToggle(HDC hdc, const RECT& rect, const wchar_t* text, bool checked, bool hovered) {
  const RECT box = {rect.left, rect.top + 2, rect.left + kToggleBoxSize,
                    rect.top + 2 + kToggleBoxSize};
  FillRoundRect(hdc, box, kToggleCorner, hovered ? kSettingsHover : kSettingsSurface,
                kSettingsBorder);
  if (checked) {
    const POINT check[] = {
        {rect.left + 4, rect.top + 12}, {rect.left + 8, rect.top + 16}, {rect.left + 16, rect.top + 8}};
    DrawLine(hdc, kSettingsAccent, kCheckWidth, check, 3);
  }
  const RECT textRect = {rect.left + kToggleTextIndent, rect.top, rect.right, rect.bottom};
  DrawTextIn(hdc, text, textRect, kSettingsText, kLeftCentred);
}

void DrawButton(HDC hdc, const RECT& rect, const wchar_t* text, bool primary, bool hovered,
                const SettingsFonts& fonts) {
  if (primary) {
    FillRoundRect(hdc, rect, kButtonCorner, hovered ? kSettingsAccentHover : kSettingsAccent,
                  kSettingsAccent);
  } else {
    FillRoundRect(hdc, rect, kButtonCorner, hovered ? kSettingsHover : kSettingsSurface,
                  kSettingsBorder);
  }
  SelectGuard selectFont(hdc, fonts.bold);
  DrawTextIn(hdc, text, rect, primary ? kSettingsBackground : kSettingsText, kCentred);
}

void PaintSettings(HDC hdc, const RECT& client, const SettingsView& view,
                   const SettingsFonts& fonts) {
  UniqueBrush background(CreateSolidBrush(kSettingsBackground));
  FillRect(hdc, &client, background.get());
  SelectGuard selectFont(hdc, fonts.normal);
  SetBkMode(hdc, TRANSPARENT);

  FillRoundRect(hdc, SettingsCardRect(client), kCardCorner, kSettingsSurface, kSettingsBorder);
  DrawTab(hdc, kGeneralTabRect, GetLabel("general"), view.page == kGeneralPage,
          Hovered(kGeneralTabRect, view.hover), fonts);
  DrawTab(hdc, kHotkeysTabRect, GetLabel("hotkeys"), view.page == kHotkeysPage,
          Hovered(kHotkeysTabRect, view.hover), fonts);

  if (view.page == kHotkeysPage) {
    PaintHotkeysPage(hdc, view);
  } else {
    PaintGeneralPage(hdc, view);
  }

  DrawButton(hdc, kSaveButtonRect, GetLabel("save"), true, Hovered(kSaveButtonRect, view.hover),
             fonts);
  DrawButton(hdc, kCancelButtonRect, GetLabel("cancel"), false,
             Hovered(kCancelButtonRect, view.hover), fonts);

  SelectGuard selectBold(hdc, fonts.bold);
  DrawTextIn(hdc, kProductName, kNameRect, kSettingsAccent, kLeftCentred);
}
