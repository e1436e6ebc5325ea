// Where the settings window's elements lie, in client pixels at 96 DPI; at another DPI every
// rectangle is scaled.
#pragma once

#include <windows.h>

constexpr int kSettingsWidth = 470;  // outer size, frame and caption included
constexpr int kSettingsHeight = 445;

constexpr int kGeneralPage = 0;
constexpr int kHotkeysPage = 1;

constexpr RECT kGeneralTabRect = {20, 20, 130, 55};
constexpr RECT kHotkeysTabRect = {135, 20, 260, 55};
constexpr int kCardLeft = 15;
constexpr int kCardTop = 65;
constexpr int kCardBottom = 340;
constexpr RECT kAutoCopyRowRect = {30, 80, 430, 105};
constexpr RECT kCaptureCursorRowRect = {30, 115, 430, 140};
constexpr RECT kLanguageLabelRect = {30, 157, 200, 182};
constexpr RECT kLanguageListRect = {210, 153, 360, 273};  // height includes the drop-down
constexpr RECT kSaveHistoryRowRect = {30, 192, 430, 217};
// Each text field is a label with a framed edit control beside it.
constexpr RECT kDelayLabelRect = {30, 227, 200, 252};
constexpr RECT kDelayFieldRect = {210, 227, 270, 252};
constexpr RECT kUploadUrlLabelRect = {30, 262, 200, 287};
constexpr RECT kUploadUrlFieldRect = {210, 262, 430, 287};
constexpr RECT kUploadKeyLabelRect = {30, 297, 200, 322};
constexpr RECT kUploadKeyFieldRect = {210, 297, 430, 322};
// The edit control inside its frame.
constexpr int kFieldInsetX = 6;
constexpr int kFieldInsetY = 4;
constexpr RECT kHotkeyLabelRect = {30, 78, 400, 98};
constexpr RECT kHotkeyFieldRect = {30, 100, 430, 135};
constexpr RECT kHotkeyHintRect = {30, 145, 430, 170};
constexpr RECT kSaveButtonRect = {250, 360, 340, 395};
constexpr RECT kCancelButtonRect = {350, 360, 440, 395};
constexpr RECT kNameRect = {20, 365, 200, 390};

// The clickable elements; which of them a page shows depends on the page.
enum class SettingsElement {
  None,
  GeneralTab,
  HotkeysTab,
  AutoCopyRow,
  CaptureCursorRow,
  SaveHistoryRow,
  HotkeyField,
  SaveButton,
  CancelButton,
};

// The element under a client point on the given page at dpi; right and bottom edges are outside.
SettingsElement SettingsHitTest(POINT point, int page, UINT dpi);

// Where the edit control of a field at 96 DPI lies at dpi.
RECT SettingsEditRect(const RECT& field96, UINT dpi);

// The card spans the client width less a margin on each side.
RECT SettingsCardRect(const RECT& client, UINT dpi);

// The window at dpi, centred on a screen of the given size.
RECT CentredSettingsRect(int screenWidth, int screenHeight, UINT dpi);
