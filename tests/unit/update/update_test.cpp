// What the update server's answer means: versions, the JSON members, and where the installer goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/json_string.h"
#include "update/update_check.h"
#include "update/update_download.h"
#include "update/version.h"

TEST(VersionTest, PiecesAreNumbersPaddedToThreeAndOnlyTheFirstThreeDecide) {
  const struct { const wchar_t* text; std::vector<int32_t> parts; } parsed[] = {
      {L"1..1", {1, 0, 1}}, {L".5", {0, 5, 0}}, {L"1.2.", {1, 2, 0}}, {L".", {0, 0, 0}},
      {L"", {0, 0, 0}}, {L"1.2.3.4", {1, 2, 3, 4}}, {L"1.-1.0", {1, -1, 0}},
      {L" 2.0.0-beta", {2, 0, 0}}, {L"v2.0.0", {0, 0, 0}}};
  for (const auto& c : parsed) EXPECT_EQ(ParseVersion(c.text), c.parts) << c.text;
  const struct { const wchar_t *current, *candidate; bool newer; } compared[] = {
      {L"1.0.0", L"1.0.1", true}, {L"1.0.0", L"1.1", true}, {L"1.0.0", L"2", true},
      {L"1.0.0", L"1..1", true}, {L"1.0.0", L"1.2.", true}, {L"1.0.0", L" 2.0.0", true},
      {L"1.0.0", L"2.0.0-beta", true}, {L"1.0.0", L"1.0.10", true}, {L"1.0.0", L"1.0.0", false},
      {L"1.0.0", L"0.9.9", false}, {L"1.0.0", L"1.0.0.5", false}, {L"1.0.0", L".5", false},
      {L"1.0.0", L"v2.0.0", false}, {L"1.0.0", L"", false}, {L"1.0.0", L"1.-1.0", false},
      {L"1.0.0", L"1", false}, {L"1.9.0", L"1.10.0", true}, {L"1.10.0", L"1.9.0", false},
      {L"9.0.0", L"10.0.0", true}, {L"2.0.0", L"1.99.99", false}, {L"1.-1.0", L"1.0.0", true}};
  for (const auto& c : compared) {
    EXPECT_EQ(IsNewerVersion(c.current, c.candidate), c.newer) << c.current << " " << c.candidate;
  }
}

TEST(UpdateAnswerTest, MembersAreTheTextBetweenTheQuotesAfterTheFirstQuotedKey) {
  const std::string document =
      "{\n  \"version\": \"1.2.0\",\n  \"url\": \"https://example.org/Snapwren-1.2.0.exe\",\n"
      "  \"changelog\":\"Schneller\"\n}";
  const struct { std::string json; const char* key; const wchar_t* value; } cases[] = {
      {document, "version", L"1.2.0"}, {document, "url", L"https://example.org/Snapwren-1.2.0.exe"},
      {document, "changelog", L"Schneller"}, {"{\"url\": \"x\"}", "version", L""},
      {"{\"Version\": \"2.0.0\"}", "version", L""}, {"{\"version\" \"2.0.0\"}", "version", L""},
      {"{\"version\": 2}", "version", L""}, {"{\"version\": \"2.0.0", "version", L""},
      {"{\"version\": \"\"}", "version", L""}, {"", "version", L""},
      {"{\"version\": 2, \"url\": \"x\"}", "version", L"url"},  // the next quoted text
      {"{\"changelog\": \"Feld \"version\": \"9.9.9\" entfernt\", \"version\": \"1.0.0\"}",
       "version", L"9.9.9"},
      {R"({"changelog": "Neu: \"Kopieren\" schneller"})", "changelog", L"Neu: \\"},
      {R"({"changelog": "Zeile 1\nZeile 2"})", "changelog", L"Zeile 1\\nZeile 2"},
      {"{\"changelog\": \"Gr\xC3\xB6\xC3\x9F" "e \xE2\x80\x93 \xF0\x9F\x8C\xBC\"}", "changelog",
       L"Größe \u2013 \U0001F33C"},
      {"{\"changelog\": \"M\xE4rz\"}", "changelog", L"M\uFFFDrz"},  // replaced, not dropped
      {std::string("{\"version\": \"2.0\0.0\"}", 21), "version", L"2.0"}};
  for (const auto& c : cases) EXPECT_EQ(ExtractJsonString(c.json, c.key), c.value) << c.json;
}

TEST(UpdateAnswerTest, AVersionNewerThanThisOneIsOfferedAndAnUnusableAnswerNamed) {
  const struct { std::string body; const wchar_t* fetchError; const wchar_t* info; } cases[] = {
      {R"({"version": "1.0.0", "url": "https://localhost/a.exe", "changelog": ""})", L"",
       L"0 1.0.0 https://localhost/a.exe  "},
      {"{\"version\": \"1.2.0\", \"url\": \"u\", \"changelog\": \"Sch\xC3\xB6ner\"}", L"",
       L"1 1.2.0 u Schöner "},
      {R"({"version": "2.0.0"})", L"", L"1 2.0.0   "},
      {R"({"url": "https://localhost/a.exe", "changelog": "x"})", L"",
       L"0    Ungültige Serverantwort"},
      {"<html>Not found</html>", L"", L"0    Ungültige Serverantwort"},
      {"", L"HTTP Status: 404", L"0    HTTP Status: 404"},
      {"", L"", L"0    Keine Antwort vom Update-Server"}};
  for (const auto& c : cases) {
    const UpdateInfo info = ReadUpdateInfo(c.body, c.fetchError);
    EXPECT_EQ(std::to_wstring(info.available) + L" " + info.version + L" " + info.url + L" " +
                  info.changelog + L" " + info.error, c.info) << c.body;
  }
}

TEST(DownloadTest, InstallerGoesToDownloadsAndOnlyPlainDecimalsAreLengths) {
  EXPECT_EQ(FolderOf(L"C:\\Programme\\Snapwren\\Snapwren.exe"), L"C:\\Programme\\Snapwren");
  EXPECT_EQ(FolderOf(L"C:\\Snapwren.exe"), L"C:");
  EXPECT_EQ(FolderOf(L"Snapwren.exe"), L"Snapwren.exe");
  EXPECT_EQ(UpdateFileIn(L"D:\\Tools"), L"D:\\Tools\\Snapwren_Update.exe");
  const std::wstring target = UpdateTargetPath();
  const std::wstring suffix = L"\\Downloads\\Snapwren_Update.exe";
  EXPECT_EQ(target.substr(target.size() - std::min(target.size(), suffix.size())), suffix);
  const struct { const wchar_t* value; std::optional<uint64_t> length; } cases[] = {
      {L"0", 0}, {L"5242880", 5242880}, {L"8589934592", 8589934592},
      {L"9999999999999999999", 9999999999999999999u}, {L"", {}}, {L"-1", {}}, {L"+1", {}},
      {L"12 34", {}}, {L" 1", {}}, {L"0x10", {}}, {L"99999999999999999999", {}}};
  for (const auto& c : cases) EXPECT_EQ(ParseContentLength(c.value), c.length) << c.value;
}
