#include <gtest/gtest.h>

#include <string>

#include "update/update_check.h"

namespace {

TEST(ReadUpdateInfoTest, TheSameVersionIsNoUpdateAndNoError) {
  const UpdateInfo info = ReadUpdateInfo(
      R"({"version": "1.0.0", "url": "https://localhost/a.exe", "changelog": ""})", L"");
  EXPECT_FALSE(info.available);
  EXPECT_EQ(info.error, L"");
  EXPECT_EQ(info.version, L"1.0.0");
}

TEST(ReadUpdateInfoTest, ANewerVersionCarriesItsAddressAndNotes) {
  const UpdateInfo info = ReadUpdateInfo(
      "{\"version\": \"1.2.0\", \"url\": \"https://localhost/a.exe\", "
      "\"changelog\": \"Sch\xC3\xB6ner\"}",
      L"");
  EXPECT_TRUE(info.available);
  EXPECT_EQ(info.error, L"");
  EXPECT_EQ(info.version, L"1.2.0");
  EXPECT_EQ(info.url, L"https://localhost/a.exe");
  EXPECT_EQ(info.changelog, L"Schöner");
}

TEST(ReadUpdateInfoTest, ANewerVersionWithoutAddressIsStillOffered) {
  const UpdateInfo info = ReadUpdateInfo(R"({"version": "2.0.0"})", L"");
  EXPECT_TRUE(info.available);
  EXPECT_EQ(info.url, L"");
}

TEST(ReadUpdateInfoTest, WithoutAVersionTheAnswerIsUnusable) {
  const UpdateInfo info =
      ReadUpdateInfo(R"({"url": "https://localhost/a.exe", "changelog": "x"})", L"");
  EXPECT_FALSE(info.available);
  EXPECT_EQ(info.error, L"Ungültige Serverantwort");
  EXPECT_EQ(info.url, L"");
  EXPECT_EQ(info.changelog, L"");
  EXPECT_EQ(ReadUpdateInfo("<html>Not found</html>", L"").error, L"Ungültige Serverantwort");
}

TEST(ReadUpdateInfoTest, AnEmptyBodyReportsTheFetchErrorOrTheSilentServer) {
  EXPECT_EQ(ReadUpdateInfo("", L"HTTP Status: 404").error, L"HTTP Status: 404");
  const UpdateInfo silent = ReadUpdateInfo("", L"");
  EXPECT_FALSE(silent.available);
  EXPECT_EQ(silent.error, L"Keine Antwort vom Update-Server");
}

}  // namespace
