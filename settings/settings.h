// The user's settings: one process-wide record, kept in settings.ini.
#pragma once

#include <windows.h>

#include <string>

#include "build_config.h"

// How long "Screenshot in N Sekunden" waits; the file may hold anything, the record never does.
constexpr int kMinCaptureDelay = 1;
constexpr int kMaxCaptureDelay = 30;

struct Settings {
  bool AutoCopyLink = true;
  bool CaptureCursor = false;
  bool RememberSelection = false;
  int Language = 0;  // 0 German, anything else English
  RECT Selection = {0, 0, 0, 0};
  UINT Modifiers = MOD_CONTROL | MOD_SHIFT;
  UINT Key = 'S';
  // Where uploads go and the key they carry; the text as the user wrote it, checked where used.
  std::wstring UploadUrl = kUploadUrl;
  std::wstring UploadToken;
  bool SaveHistory = true;
  int CaptureDelay = 3;
};

extern Settings AppSettings;

// Applies one line of settings.ini to the record; false when the line sets nothing.
bool ApplySettingsLine(const char* line, Settings& settings);
// value within [kMinCaptureDelay, kMaxCaptureDelay].
int ClampCaptureDelay(long long value);
// The whole file as written, with "\n" line ends (text mode turns them into CR LF).
std::string FormatSettings(const Settings& settings);

// %APPDATA%\Snapwren, made when missing; the working folder when there is no such folder.
std::wstring GetSettingsFolder();
std::wstring GetSettingsPath();
// Replaces the file at `path` with `content` whole or not at all.
bool ReplaceFileContent(const std::wstring& path, const std::string& content);
// The first line of a text file (at most 255 bytes); empty when there is none.
std::string ReadFileStart(const std::wstring& path);
bool LoadSettingsFrom(const std::wstring& path, Settings& settings);
bool SaveSettingsTo(const std::wstring& path, const Settings& settings);
bool LoadSettings();
bool SaveSettings();
