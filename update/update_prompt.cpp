#include "update/update_prompt.h"

#include "update/update_check.h"
#include "update/download_window.h"

std::wstring BuildUpdatePrompt(const UpdateInfo& info) {
  std::wstring text = L"Neue Version verfügbar: " + info.version + L"\n\nJetzt herunterladen?";
  if (!info.changelog.empty()) text += L"\n\nÄnderungen:\n" + info.changelog;
  return text;
}

void ShowUpdatePrompt(HWND owner, const UpdateInfo& info) {
  const std::wstring text = BuildUpdatePrompt(info);
  if (MessageBoxW(owner, text.c_str(), L"Update verfügbar", MB_YESNO | MB_ICONINFORMATION) ==
      IDYES) {
    DownloadAndInstallUpdate(info, owner);
  }
}

void ReportUpdateCheck(HWND owner, const UpdateInfo& info) {
  if (info.available) {
    ShowUpdatePrompt(owner, info);
  } else if (!info.error.empty()) {
    MessageBoxW(owner, info.error.c_str(), L"Update-Fehler", MB_ICONWARNING);
  } else {
    MessageBoxW(owner, L"Du hast bereits die neueste Version!", L"Kein Update",
                MB_ICONINFORMATION);
  }
}
