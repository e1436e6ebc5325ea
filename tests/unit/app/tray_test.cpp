// The tray's balloon record, the update question and the icon drawn when the resource is missing.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/app.h"
#include "app/gdiplus_handles.h"
#include "app/tray.h"
#include "update/update_check.h"

TEST(TrayTest, BalloonTextsAreCutToTheirFieldsNeverBetweenASurrogatePair) {
  const std::wstring a62(62, L'a'), flower = L"\U0001F33C";  // two UTF-16 units
  EXPECT_EQ(TruncateUtf16(a62 + flower, 63), a62);
  EXPECT_EQ(TruncateUtf16(a62.substr(1) + flower, 63), a62.substr(1) + flower);
  EXPECT_EQ(TruncateUtf16(L"kurz", 63), L"kurz");
  // No tray window exists here, so the shell call fails quietly; the record is what matters.
  ShowTrayNotification(std::wstring(100, L'T'), std::wstring(300, L'm'));
  EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle) + g_trayIconData.szInfo,
            std::wstring(63, L'T') + std::wstring(255, L'm'));
  EXPECT_EQ(g_trayIconData.uFlags, static_cast<UINT>(NIF_INFO | NIF_ICON));
  EXPECT_EQ(g_trayIconData.dwInfoFlags, static_cast<DWORD>(NIIF_USER | NIIF_LARGE_ICON));
}

TEST(TrayTest, UpdateQuestionNamesTheVersionAndThenTheChangeNotes) {
  UpdateInfo info;
  info.version = L"1.2.0";
  const std::wstring question = L"Neue Version verfügbar: 1.2.0\n\nJetzt herunterladen?";
  EXPECT_EQ(BuildUpdatePrompt(info), question);
  info.changelog = L"Schneller";
  EXPECT_EQ(BuildUpdatePrompt(info), question + L"\n\nÄnderungen:\nSchneller");
}

TEST(TrayTest, FallbackIconIsAPinkFlowerOnTransparency) {
  const GdiplusSession gdiplus;
  const UniqueIcon icon(CreateAppIcon());
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(icon.get(), &info));
  const UniqueBitmap colour(info.hbmColor), mask(info.hbmMask);
  BITMAPINFO header = {};
  header.bmiHeader = {sizeof header.bmiHeader, 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  DWORD p[32 * 32] = {};
  const WindowDc screen(nullptr);
  ASSERT_EQ(GetDIBits(screen.get(), colour.get(), 0, 32, p, &header, DIB_RGB_COLORS), 32);
  // A transparent corner, the top petal, the centre, and an opaque dot on it.
  EXPECT_TRUE(p[0] >> 24 == 0 && p[4 * 32 + 16] == 0xFFFFB6C1u && p[14 * 32 + 14] == 0xFFFFDC64u &&
              p[16 * 32 + 18] >> 24 == 0xFF);
}
