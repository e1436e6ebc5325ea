// The tray's balloon texts and the update question.
#include <windows.h>
#include <gtest/gtest.h>
#include "app/tray.h"
#include "update/update_check.h"

TEST(TrayTest, BalloonTextsAreCutToTheirFieldsNeverBetweenASurrogatePair) {
  const std::wstring a62(62, L'a'), flower = L"\U0001F33C";  // two UTF-16 units
  EXPECT_EQ(TruncateUtf16(a62 + flower, 63), a62);
  EXPECT_EQ(TruncateUtf16(a62.substr(1) + flower, 63), a62.substr(1) + flower);
  // No tray window exists here, so the shell call fails quietly; the record is what matters.
  ShowTrayNotification(std::wstring(100, L'T'), std::wstring(300, L'm'));
  EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle) + g_trayIconData.szInfo,
            std::wstring(63, L'T') + std::wstring(255, L'm'));
}

TEST(TrayTest, UpdateQuestionNamesTheVersionAndThenTheChangeNotes) {
  UpdateInfo info;
  info.version = L"1.2.0";
  const std::wstring question = L"Neue Version verfügbar: 1.2.0\n\nJetzt herunterladen?";
  EXPECT_EQ(BuildUpdatePrompt(info), question);
  info.changelog = L"Schneller";
  EXPECT_EQ(BuildUpdatePrompt(info), question + L"\n\nÄnderungen:\nSchneller");
}
