#include "settings/settings_paint.h"

#include "app/dpi.h"
#include "app/win_handles.h"
#include "settings/labels.h"
#include "settings/settings_layout.h"

namespace {

// Sizes at 96 DPI.
constexpr int kTabCorner = 8;
constexpr int kCardCorner = 12;
constexpr int kToggleCorner = 6;
constexpr int kButtonCorner = 8;
constexpr int kUnderlineWidth = 3;
constexpr int kCheckWidth = 2;
constexpr int kToggleBoxSize = 20;
constexpr int kToggleTextIndent = 28;
constexpr int kUnderlineInset = 10;
constexpr int kUnderlineRise = 2;
constexpr int kToggleBoxTop = 2;
// The check mark's three points, from the row's top-left corner.
constexpr POINT kCheckMark[] = {{4, 12}, {8, 16}, {16, 8}};
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
  const UINT dpi = view.dpi;
  const RECT autoCopy = ScaleRect(kAutoCopyRowRect, dpi);
  const RECT captureCursor = ScaleRect(kCaptureCursorRowRect, dpi);
  DrawToggle(hdc, autoCopy, GetLabel("auto_copy_link"), view.autoCopyLink,
             Hovered(autoCopy, view.hover), dpi);
  DrawToggle(hdc, captureCursor, GetLabel("capture_cursor"), view.captureCursor,
             Hovered(captureCursor, view.hover), dpi);
  DrawTextIn(hdc, GetLabel("language"), ScaleRect(kLanguageLabelRect, dpi), kSettingsText,
             kLeftCentred);
  const RECT saveHistory = ScaleRect(kSaveHistoryRowRect, dpi);
  DrawToggle(hdc, saveHistory, GetLabel("save_history"), view.saveHistory,
             Hovered(saveHistory, view.hover), dpi);
  // The edit controls are child windows that paint their text; the frames around them are ours.
  const struct {
    const char* label;
    RECT labelRect;
    RECT fieldRect;
  } fields[] = {{"capture_delay", kDelayLabelRect, kDelayFieldRect},
                {"upload_url", kUploadUrlLabelRect, kUploadUrlFieldRect},
                {"upload_key", kUploadKeyLabelRect, kUploadKeyFieldRect}};
  for (const auto& field : fields) {
    DrawTextIn(hdc, GetLabel(field.label), ScaleRect(field.labelRect, dpi), kSettingsText,
               kLeftCentred);
    FillRoundRect(hdc, ScaleRect(field.fieldRect, dpi), Scale(kToggleCorner, dpi),
                  kSettingsSurface, kSettingsBorder);
  }
}

void PaintHotkeysPage(HDC hdc, const SettingsView& view) {
  const UINT dpi = view.dpi;
  const RECT field = ScaleRect(kHotkeyFieldRect, dpi);
  DrawTextIn(hdc, GetLabel("screenshot_hotkey"), ScaleRect(kHotkeyLabelRect, dpi), kSettingsText,
             kTopLeft);
  DrawHotkeyField(hdc, field, view.hotkey.recording, Hovered(field, view.hover),
                  FormatHotkey(view.hotkey.modifiers, view.hotkey.key), dpi);
  DrawTextIn(hdc, HotkeyHint(view.hotkey.recording), ScaleRect(kHotkeyHintRect, dpi),
             kSettingsDimText, kTopLeft);
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
             const SettingsFonts& fonts, UINT dpi) {
  const int corner = Scale(kTabCorner, dpi);
  if (active) {
    FillRoundRect(hdc, rect, corner, kSettingsSurface, kSettingsSurface);
    const int inset = Scale(kUnderlineInset, dpi);
    const int y = rect.bottom - Scale(kUnderlineRise, dpi);
    const POINT underline[] = {{rect.left + inset, y}, {rect.right - inset, y}};
    DrawLine(hdc, kSettingsAccent, Scale(kUnderlineWidth, dpi), underline, 2);
  } else if (hovered) {
    FillRoundRect(hdc, rect, corner, kSettingsHover, kSettingsHover);
  }
  SelectGuard selectFont(hdc, active ? fonts.bold : fonts.normal);
  DrawTextIn(hdc, text, rect, active ? kSettingsAccent : kSettingsDimText, kCentred);
}

void DrawToggle(HDC hdc, const RECT& rect, const wchar_t* text, bool checked, bool hovered,
                UINT dpi) {
  const int top = rect.top + Scale(kToggleBoxTop, dpi);
  const RECT box = {rect.left, top, rect.left + Scale(kToggleBoxSize, dpi),
                    top + Scale(kToggleBoxSize, dpi)};
  FillRoundRect(hdc, box, Scale(kToggleCorner, dpi), hovered ? kSettingsHover : kSettingsSurface,
                kSettingsBorder);
  if (checked) {
    POINT check[3];
    for (int i = 0; i < 3; ++i) {
      check[i] = {rect.left + Scale(kCheckMark[i].x, dpi), rect.top + Scale(kCheckMark[i].y, dpi)};
    }
    DrawLine(hdc, kSettingsAccent, Scale(kCheckWidth, dpi), check, 3);
  }
  const RECT textRect = {rect.left + Scale(kToggleTextIndent, dpi), rect.top, rect.right,
                         rect.bottom};
  DrawTextIn(hdc, text, textRect, kSettingsText, kLeftCentred);
}

void DrawButton(HDC hdc, const RECT& rect, const wchar_t* text, bool primary, bool hovered,
                const SettingsFonts& fonts, UINT dpi) {
  const int corner = Scale(kButtonCorner, dpi);
  if (primary) {
    FillRoundRect(hdc, rect, corner, hovered ? kSettingsAccentHover : kSettingsAccent,
                  kSettingsAccent);
  } else {
    FillRoundRect(hdc, rect, corner, hovered ? kSettingsHover : kSettingsSurface,
                  kSettingsBorder);
  }
  SelectGuard selectFont(hdc, fonts.bold);
  DrawTextIn(hdc, text, rect, primary ? kSettingsBackground : kSettingsText, kCentred);
}

void PaintSettings(HDC hdc, const RECT& client, const SettingsView& view,
                   const SettingsFonts& fonts) {
  const UINT dpi = view.dpi;
  UniqueBrush background(CreateSolidBrush(kSettingsBackground));
  FillRect(hdc, &client, background.get());
  SelectGuard selectFont(hdc, fonts.normal);
  SetBkMode(hdc, TRANSPARENT);

  FillRoundRect(hdc, SettingsCardRect(client, dpi), Scale(kCardCorner, dpi), kSettingsSurface,
                kSettingsBorder);
  const RECT general = ScaleRect(kGeneralTabRect, dpi);
  const RECT hotkeys = ScaleRect(kHotkeysTabRect, dpi);
  DrawTab(hdc, general, GetLabel("general"), view.page == kGeneralPage,
          Hovered(general, view.hover), fonts, dpi);
  DrawTab(hdc, hotkeys, GetLabel("hotkeys"), view.page == kHotkeysPage,
          Hovered(hotkeys, view.hover), fonts, dpi);

  if (view.page == kHotkeysPage) {
    PaintHotkeysPage(hdc, view);
  } else {
    PaintGeneralPage(hdc, view);
  }

  const RECT save = ScaleRect(kSaveButtonRect, dpi);
  const RECT cancel = ScaleRect(kCancelButtonRect, dpi);
  DrawButton(hdc, save, GetLabel("save"), true, Hovered(save, view.hover), fonts, dpi);
  DrawButton(hdc, cancel, GetLabel("cancel"), false, Hovered(cancel, view.hover), fonts, dpi);

  SelectGuard selectBold(hdc, fonts.bold);
  DrawTextIn(hdc, kProductName, ScaleRect(kNameRect, dpi), kSettingsAccent, kLeftCentred);
}
