// Where the settings window's elements lie, in client pixels at 96 DPI; at another DPI every
// rectangle is scaled.
#pragma once

#include <windows.h>

constexpr int kSettingsWidth = 470;  // outer size, frame and caption included
constexpr int kSettingsHeight = 420;

constexpr int kGeneralPage = 0;
constexpr int kHotkeysPage = 1;

constexpr RECT kGeneralTabRect = {20, 20, 130, 55};
constexpr RECT kHotkeysTabRect = {135, 20, 260, 55};
constexpr int kCardLeft = 15;
constexpr int kCardTop = 65;
constexpr int kCardBottom = 320;
constexpr RECT kAutoCopyRowRect = {30, 80, 430, 105};
constexpr RECT kCaptureCursorRowRect = {30, 115, 430, 140};
constexpr RECT kLanguageLabelRect = {30, 157, 200, 182};
constexpr RECT kLanguageListRect = {210, 153, 360, 273};  // height includes the drop-down
constexpr RECT kHotkeyLabelRect = {30, 78, 400, 98};
constexpr RECT kHotkeyFieldRect = {30, 100, 430, 135};
constexpr RECT kHotkeyHintRect = {30, 145, 430, 170};
constexpr RECT kSaveButtonRect = {250, 340, 340, 375};
constexpr RECT kCancelButtonRect = {350, 340, 440, 375};
constexpr RECT kNameRect = {20, 345, 200, 370};

// The clickable elements; which of them a page shows depends on the page.
enum class SettingsElement {
  None,
  GeneralTab,
  HotkeysTab,
  AutoCopyRow,
  CaptureCursorRow,
  HotkeyField,
  SaveButton,
  CancelButton,
};

// The element under a client point on the given page at dpi; right and bottom edges are outside.
SettingsElement SettingsHitTest(POINT point, int page, UINT dpi);

// The card spans the client width less a margin on each side.
RECT SettingsCardRect(const RECT& client, UINT dpi);

// The window at dpi, centred on a screen of the given size.
RECT CentredSettingsRect(int screenWidth, int screenHeight, UINT dpi);
