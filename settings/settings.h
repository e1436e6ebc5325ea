// The user's settings: one process-wide record, kept in settings.ini.
#pragma once

#include <windows.h>

#include <string>

struct Settings {
  bool AutoCopyLink = true;
  bool CaptureCursor = false;
  bool RememberSelection = false;
  int Language = 0;  // 0 German, anything else English
  RECT Selection = {0, 0, 0, 0};
  UINT Modifiers = MOD_CONTROL | MOD_SHIFT;
  UINT Key = 'S';
};

extern Settings AppSettings;

// Applies one line of settings.ini to the record; false when the line sets nothing.
bool ApplySettingsLine(const char* line, Settings& settings);
// The whole file as written, with "\n" line ends (text mode turns them into CR LF).
std::string FormatSettings(const Settings& settings);

std::wstring GetSettingsPath();
bool LoadSettingsFrom(const std::wstring& path, Settings& settings);
bool SaveSettingsTo(const std::wstring& path, const Settings& settings);
bool LoadSettings();
bool SaveSettings();
