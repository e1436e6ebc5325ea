// What the user sees of an update check: the offer, and the menu's answers.
#pragma once

#include <windows.h>

#include <string>

struct UpdateInfo;

std::wstring BuildUpdatePrompt(const UpdateInfo& info);
// Asks whether to install info's version and, on Yes, downloads and starts it.
void ShowUpdatePrompt(HWND owner, const UpdateInfo& info);
// The answer to a check the user asked for: the offer, why the check failed, or that Snapwren is
// up to date.
void ReportUpdateCheck(HWND owner, const UpdateInfo& info);
