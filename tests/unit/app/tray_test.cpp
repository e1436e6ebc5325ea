// The tray's balloon record, the update question and the icon drawn when the resource is missing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "app/gdiplus_handles.h"
#include "app/tray.h"
#include "update/update_check.h"

TEST(TrayTest, BalloonTextsAreCutToTheirFieldsNeverBetweenASurrogatePair) {
  const std::wstring flower = L"\U0001F33C";  // two UTF-16 units
  const struct { std::wstring text; size_t max; std::wstring cut; } cases[] = {
      {std::wstring(62, L'a') + flower, 63, std::wstring(62, L'a')},
      {std::wstring(61, L'a') + flower, 63, std::wstring(61, L'a') + flower},
      {std::wstring(300, L'm'), 255, std::wstring(255, L'm')}, {L"kurz", 63, L"kurz"}};
  for (const auto& c : cases) EXPECT_EQ(TruncateUtf16(c.text, c.max), c.cut) << c.text.size();
  // No tray window exists here, so the shell call fails quietly; the record is what matters.
  ShowTrayNotification(std::wstring(100, L'T'), L"Gespeichert: C:\\Bilder\\ä.png");
  EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle), std::wstring(63, L'T'));
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), L"Gespeichert: C:\\Bilder\\ä.png");
  EXPECT_EQ(g_trayIconData.uFlags, static_cast<UINT>(NIF_INFO | NIF_ICON));
  EXPECT_EQ(g_trayIconData.dwInfoFlags, static_cast<DWORD>(NIIF_USER | NIIF_LARGE_ICON));
}

TEST(TrayTest, UpdateQuestionNamesTheVersionAndThenTheChangeNotes) {
  UpdateInfo info;
  info.version = L"1.2.0";
  EXPECT_EQ(BuildUpdatePrompt(info), L"Neue Version verfügbar: 1.2.0\n\nJetzt herunterladen?");
  info.changelog = L"Schnellere Übertragung";
  EXPECT_EQ(BuildUpdatePrompt(info), L"Neue Version verfügbar: 1.2.0\n\nJetzt herunterladen?"
                                     L"\n\nÄnderungen:\nSchnellere Übertragung");
}

TEST(TrayTest, FallbackIconIsAPinkFlowerOnTransparency) {
  const GdiplusSession gdiplus;
  const UniqueIcon icon(CreateAppIcon());
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(icon.get(), &info));
  const UniqueBitmap colour(info.hbmColor), mask(info.hbmMask);
  BITMAPINFO header = {};
  header.bmiHeader = {sizeof header.bmiHeader, 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  DWORD pixels[32 * 32] = {};
  const WindowDc screen(nullptr);
  ASSERT_EQ(GetDIBits(screen.get(), colour.get(), 0, 32, pixels, &header, DIB_RGB_COLORS), 32);
  EXPECT_EQ(pixels[0] >> 24, 0u) << "the corner is transparent";
  EXPECT_EQ(pixels[4 * 32 + 16], 0xFFFFB6C1u) << "the top petal";
  EXPECT_EQ(pixels[14 * 32 + 14], 0xFFFFDC64u) << "the centre";
  EXPECT_EQ(pixels[16 * 32 + 18] >> 24, 0xFFu) << "a dot on the centre is opaque";
}
