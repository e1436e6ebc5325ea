// The capture hotkey as the settings window shows and records it.
#pragma once

#include <windows.h>

#include <string>

// The hotkey being edited: working copies of AppSettings.Modifiers and .Key, and whether the
// field is waiting for a key.
struct HotkeyEdit {
  UINT modifiers = 0;
  UINT key = 0;
  bool recording = false;
};

// "Ctrl + Shift + S": modifiers in a fixed order, then the key's name ("..." if it has none).
std::wstring FormatHotkey(UINT modifiers, UINT key);

// Shift, Ctrl and Alt in either variant: held while recording, never taken as the key.
bool IsModifierKey(UINT virtualKey);

// One WM_KEYDOWN while recording; heldModifiers are the MOD_* flags down at that moment.
// Returns true when the field changed and must be repainted.
bool HandleRecordingKey(HotkeyEdit& edit, UINT virtualKey, UINT heldModifiers);
// The same for one WM_KEYUP, which only Print Screen is taken from.
bool HandleRecordingKeyUp(HotkeyEdit& edit, UINT virtualKey, UINT heldModifiers);

// MOD_CONTROL, MOD_SHIFT and MOD_ALT for the modifier keys down right now.
UINT HeldModifiers();

// The hint under the field; German in both languages.
const wchar_t* HotkeyHint(bool recording);

// Paints the field at dpi in the DC's current font; text is what it shows when not recording.
void DrawHotkeyField(HDC hdc, const RECT& rect, bool recording, bool hovered,
                     const std::wstring& text, UINT dpi);
