#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/app.h"
#include "app/gdiplus_handles.h"
#include "app/tray.h"
#include "update/update_check.h"

namespace {

TEST(TrayNotificationTest, LongTitleAndMessageAreCutToTheirFields) {
  // No tray window exists here, so the shell call fails quietly; the record is what matters.
  ShowTrayNotification(std::wstring(100, L'T'), std::wstring(400, L'm'));
  EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle), std::wstring(63, L'T'));
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), std::wstring(255, L'm'));
  EXPECT_EQ(g_trayIconData.uFlags, static_cast<UINT>(NIF_INFO | NIF_ICON));
  EXPECT_EQ(g_trayIconData.dwInfoFlags, static_cast<DWORD>(NIIF_USER | NIIF_LARGE_ICON));

  ShowTrayNotification(L"Snapwren", L"Screenshot gespeichert: C:\\Bilder\\ä.png");
  EXPECT_EQ(std::wstring(g_trayIconData.szInfoTitle), L"Snapwren");
  EXPECT_EQ(std::wstring(g_trayIconData.szInfo), L"Screenshot gespeichert: C:\\Bilder\\ä.png");
}

TEST(TrayNotificationTest, CutNeverSplitsASurrogatePair) {
  const std::wstring flower = L"\U0001F33C";  // two UTF-16 units
  EXPECT_EQ(TruncateUtf16(std::wstring(62, L'a') + flower, 63), std::wstring(62, L'a'));
  EXPECT_EQ(TruncateUtf16(std::wstring(61, L'a') + flower, 63), std::wstring(61, L'a') + flower);
  EXPECT_EQ(TruncateUtf16(L"kurz", 63), L"kurz");
}

TEST(UpdatePromptTest, ChangeNotesComeAfterTheQuestion) {
  UpdateInfo info;
  info.available = true;
  info.version = L"1.2.0";
  EXPECT_EQ(BuildUpdatePrompt(info), L"Neue Version verfügbar: 1.2.0\n\nJetzt herunterladen?");
  info.changelog = L"Schnellere Übertragung";
  EXPECT_EQ(BuildUpdatePrompt(info),
            L"Neue Version verfügbar: 1.2.0\n\nJetzt herunterladen?\n\nÄnderungen:\n"
            L"Schnellere Übertragung");
}

TEST(AppIconTest, FallbackIconIsAPinkFlowerOnTransparency) {
  GdiplusSession gdiplus;
  ASSERT_TRUE(gdiplus.started());
  UniqueIcon icon(CreateAppIcon());
  ASSERT_TRUE(icon);

  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon.get(), &info));
  UniqueBitmap colour(info.hbmColor);
  UniqueBitmap mask(info.hbmMask);
  BITMAPINFO header{};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = 32;
  header.bmiHeader.biHeight = -32;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  DWORD pixels[32 * 32] = {};
  WindowDc screen(nullptr);
  ASSERT_EQ(GetDIBits(screen.get(), colour.get(), 0, 32, pixels, &header, DIB_RGB_COLORS), 32);

  auto at = [&](int x, int y) { return pixels[y * 32 + x]; };
  EXPECT_EQ(at(0, 0) >> 24, 0u) << "corner is transparent";
  EXPECT_EQ(at(16, 4), 0xFFFFB6C1u) << "top petal";
  EXPECT_EQ(at(14, 14), 0xFFFFDC64u) << "centre";
  EXPECT_EQ(at(18, 16) >> 24, 0xFFu) << "a dot on the centre is opaque";
}

}  // namespace
