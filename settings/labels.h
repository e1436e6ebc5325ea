// German and English texts of the settings window and the tray menu's settings entry.
#pragma once

#include <string>

struct LabelEntry {
  const char* key;
  const wchar_t* german;
  const wchar_t* english;
};

extern const LabelEntry LabelTable[];

// The text for key in the current language; "???" for a key the table lacks.
const wchar_t* GetLabel(const char* key);
// "Screenshot in 3 Sekunden", in the current language and with "Sekunde" for one second.
std::wstring DelayedCaptureText(int seconds);
