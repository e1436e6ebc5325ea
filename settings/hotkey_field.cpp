#include "settings/hotkey_field.h"

#include "app/dpi.h"
#include "settings/settings_paint.h"

namespace {

constexpr int kFieldCorner = 8;
constexpr wchar_t kRecordingText[] = L"Taste drücken...";

std::wstring KeyName(UINT key) {
  if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
    return std::wstring(1, static_cast<wchar_t>(key));
  }
  if (key >= VK_F1 && key <= VK_F12) return L"F" + std::to_wstring(key - VK_F1 + 1);
  switch (key) {
    case VK_SNAPSHOT:
      return L"Print";
    case VK_SPACE:
      return L"Space";
    case VK_TAB:
      return L"Tab";
    case VK_ESCAPE:
      return L"Esc";
    default:
      return L"...";
  }
}

bool KeyIsDown(int virtualKey) { return (GetKeyState(virtualKey) & 0x8000) != 0; }

}  // namespace

std::wstring FormatHotkey(UINT modifiers, UINT key) {
  // The same names in both languages, and always in this order whatever order they were
  // pressed in.
  std::wstring text;
  if (modifiers & MOD_CONTROL) text += L"Ctrl + ";
  if (modifiers & MOD_SHIFT) text += L"Shift + ";
  if (modifiers & MOD_ALT) text += L"Alt + ";
  return text + KeyName(key);
}

bool IsModifierKey(UINT virtualKey) {
  switch (virtualKey) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
      return true;
    default:
      return false;
  }
}

bool HandleRecordingKey(HotkeyEdit& edit, UINT virtualKey, UINT heldModifiers) {
  if (!edit.recording) return false;
  // Modifiers alone keep the field waiting, so they can be held before the key goes down.
  if (IsModifierKey(virtualKey)) return false;
  edit.recording = false;
  if (virtualKey == VK_ESCAPE) return true;
  edit.modifiers = heldModifiers & (MOD_CONTROL | MOD_SHIFT | MOD_ALT);
  edit.key = virtualKey;
  return true;
}

// Windows sends no WM_KEYDOWN for Print Screen, only its WM_KEYUP; every other key is taken
// when it goes down.
bool HandleRecordingKeyUp(HotkeyEdit& edit, UINT virtualKey, UINT heldModifiers) {
  return virtualKey == VK_SNAPSHOT && HandleRecordingKey(edit, virtualKey, heldModifiers);
}

UINT HeldModifiers() {
  UINT modifiers = 0;
  if (KeyIsDown(VK_CONTROL)) modifiers |= MOD_CONTROL;
  if (KeyIsDown(VK_SHIFT)) modifiers |= MOD_SHIFT;
  if (KeyIsDown(VK_MENU)) modifiers |= MOD_ALT;
  return modifiers;
}

const wchar_t* HotkeyHint(bool recording) {
  return recording ? L"Drücke deine gewünschte Tastenkombination..." : L"Klicke zum Ändern";
}

void DrawHotkeyField(HDC hdc, const RECT& rect, bool recording, bool hovered,
                     const std::wstring& text, UINT dpi) {
  const COLORREF border = recording ? kSettingsAccent
                          : hovered ? kSettingsAccentHover
                                    : kSettingsBorder;
  FillRoundRect(hdc, rect, Scale(kFieldCorner, dpi), kSettingsBackground, border);

  RECT textRect = rect;
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, recording ? kSettingsAccent : kSettingsText);
  DrawTextW(hdc, recording ? kRecordingText : text.c_str(), -1, &textRect,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}
