#include "app/tray.h"
#include "update/json_string.h"
#include "update/update_check.h"
#include "update/update_download.h"
#include "update/version.h"
#include "unit/support.h"

TEST(VersionTest, PiecesAreNumbersPaddedToThreeAndOnlyTheFirstThreeDecide) {
  const wchar_t* newer[] = {L"1.0.1", L"1.1", L"2", L"1..1", L"1.2.", L" 2.0.0", L"2.0.0-beta"};
  const wchar_t* older[] = {L"1.0.0", L"0.9.9", L"1.0.0.5", L".5", L"v2.0.0", L"", L"1.-1.0"};
  for (const wchar_t* v : newer) EXPECT_TRUE(IsNewerVersion(L"1.0.0", v)) << v;
  for (const wchar_t* v : older) EXPECT_FALSE(IsNewerVersion(L"1.0.0", v)) << v;
  EXPECT_TRUE(IsNewerVersion(L"1.9.0", L"1.10.0") && !IsNewerVersion(L"2.0.0", L"1.99.99"));
}

TEST(UpdateAnswerTest, MembersQuotedAfterTheFirstKeyMakeTheQuestionAndLengthsArePlainDecimals) {
  const struct { std::string json; const char* key; const wchar_t* value; } cases[] = {
      {"{\n  \"version\": \"1.2.0\",\n  \"url\": \"u\"\n}", "version", L"1.2.0"},
      {"{\"url\": \"x\"}", "version", L""}, {"{\"version\" \"2.0.0\"}", "version", L""},
      {"{\"version\": 2}", "version", L""}, {"{\"version\": \"2.0.0", "version", L""},
      {"{\"version\": \"\"}", "version", L""},
      {R"({"changelog": "Neu: \"Kopieren\""})", "changelog", L"Neu: \\"},
      {"{\"changelog\": \"Gr\xC3\xB6\xC3\x9F" "e \xE2\x80\x93 \xF0\x9F\x8C\xBC\"}", "changelog",
       L"Größe \u2013 \U0001F33C"},
      {"{\"changelog\": \"M\xE4rz\"}", "changelog", L"M\uFFFDrz"},  // replaced, not dropped
      {std::string("{\"version\": \"2.0\0.0\"}", 21), "version", L"2.0"}};
  for (const auto& c : cases) EXPECT_EQ(ExtractJsonString(c.json, c.key), c.value) << c.json;
  const struct { std::string body; const wchar_t *fetchError, *info; } answers[] = {
      {R"({"version": "1.0.0", "url": "u", "changelog": ""})", L"", L"0 1.0.0 u  "},
      {"{\"version\": \"1.2.0\", \"url\": \"u\", \"changelog\": \"Sch\xC3\xB6n\"}", L"",
       L"1 1.2.0 u Schön "},
      {"<html>Not found</html>", L"", L"0    Ungültige Serverantwort"},
      {"", L"HTTP Status: 404", L"0    HTTP Status: 404"},
      {"", L"", L"0    Keine Antwort vom Update-Server"}};
  for (const auto& c : answers) {
    const UpdateInfo i = ReadUpdateInfo(c.body, c.fetchError);
    EXPECT_EQ(std::to_wstring(i.available) + L" " + i.version + L" " + i.url + L" " + i.changelog +
                  L" " + i.error, c.info) << c.body;
  }
  UpdateInfo info;
  info.version = L"1.2.0";
  const std::wstring question = L"Neue Version verfügbar: 1.2.0\n\nJetzt herunterladen?";
  EXPECT_EQ(BuildUpdatePrompt(info), question);
  info.changelog = L"Schneller";
  EXPECT_EQ(BuildUpdatePrompt(info), question + L"\n\nÄnderungen:\nSchneller");
  // The download's length: only plain decimals, of which 19 digits always fit.
  const struct { const wchar_t* value; std::optional<uint64_t> length; } lengths[] = {
      {L"0", 0}, {L"9999999999999999999", 9999999999999999999u}, {L"", {}}, {L"+1", {}},
      {L"12 34", {}}, {L"99999999999999999999", {}}};
  for (const auto& c : lengths) EXPECT_EQ(ParseContentLength(c.value), c.length) << c.value;
}
