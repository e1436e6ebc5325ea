// GDI drawing of the settings window: its colours, its controls and one whole frame.
#pragma once

#include <windows.h>

#include "settings/hotkey_field.h"

constexpr COLORREF kSettingsBackground = RGB(30, 30, 35);
constexpr COLORREF kSettingsSurface = RGB(45, 45, 52);
constexpr COLORREF kSettingsHover = RGB(55, 55, 62);
constexpr COLORREF kSettingsBorder = RGB(70, 70, 80);
constexpr COLORREF kSettingsAccent = RGB(255, 182, 193);
constexpr COLORREF kSettingsAccentHover = RGB(200, 140, 150);
constexpr COLORREF kSettingsText = RGB(240, 240, 245);
constexpr COLORREF kSettingsDimText = RGB(160, 160, 170);

// Everything a frame shows. The language list is a child window and paints itself.
struct SettingsView {
  // Of the window's monitor; every size in the frame is scaled by it.
  UINT dpi = USER_DEFAULT_SCREEN_DPI;
  int page = 0;  // 0 general, 1 hotkeys
  POINT hover = {-1, -1};
  bool autoCopyLink = false;
  bool captureCursor = false;
  bool saveHistory = false;
  HotkeyEdit hotkey;
};

struct SettingsFonts {
  HFONT normal = nullptr;
  HFONT bold = nullptr;
};

// Rectangles and the corner in pixels at the DPI; the rest is scaled to dpi.
void FillRoundRect(HDC hdc, const RECT& rect, int corner, COLORREF fill, COLORREF border);
void DrawTab(HDC hdc, const RECT& rect, const wchar_t* text, bool active, bool hovered,
             const SettingsFonts& fonts, UINT dpi);
void DrawToggle(HDC hdc, const RECT& rect, const wchar_t* text, bool checked, bool hovered,
                UINT dpi);
void DrawButton(HDC hdc, const RECT& rect, const wchar_t* text, bool primary, bool hovered,
                const SettingsFonts& fonts, UINT dpi);

// One whole frame of the client area, texts in the current language.
void PaintSettings(HDC hdc, const RECT& client, const SettingsView& view,
                   const SettingsFonts& fonts);
