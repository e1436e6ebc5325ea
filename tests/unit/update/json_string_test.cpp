#include <gtest/gtest.h>

#include <string>

#include "update/json_string.h"

namespace {

TEST(ExtractJsonStringTest, ReadsTheThreeMembersOfAVersionDocument) {
  const std::string json =
      "{\n  \"version\": \"1.2.0\",\n  \"url\": \"https://example.org/Snapwren-1.2.0.exe\",\n"
      "  \"changelog\":\"Schneller\"\n}";
  EXPECT_EQ(ExtractJsonString(json, "version"), L"1.2.0");
  EXPECT_EQ(ExtractJsonString(json, "url"), L"https://example.org/Snapwren-1.2.0.exe");
  EXPECT_EQ(ExtractJsonString(json, "changelog"), L"Schneller");
}

TEST(ExtractJsonStringTest, MissingOrUnfinishedMembersGiveEmptyText) {
  EXPECT_EQ(ExtractJsonString("{\"url\": \"x\"}", "version"), L"");
  EXPECT_EQ(ExtractJsonString("{\"Version\": \"2.0.0\"}", "version"), L"") << "case-sensitive";
  EXPECT_EQ(ExtractJsonString("{\"version\" \"2.0.0\"}", "version"), L"") << "no colon";
  EXPECT_EQ(ExtractJsonString("{\"version\": 2}", "version"), L"") << "no quote after colon";
  EXPECT_EQ(ExtractJsonString("{\"version\": \"2.0.0", "version"), L"") << "no closing quote";
  EXPECT_EQ(ExtractJsonString("{\"version\": \"\"}", "version"), L"");
  EXPECT_EQ(ExtractJsonString("", "version"), L"");
}

TEST(ExtractJsonStringTest, ANumberValueTakesTheNextQuotedText) {
  EXPECT_EQ(ExtractJsonString("{\"version\": 2, \"url\": \"x\"}", "version"), L"url");
}

TEST(ExtractJsonStringTest, TheFirstOccurrenceOfTheQuotedKeyWins) {
  const std::string json =
      "{\"changelog\": \"Feld \"version\": \"9.9.9\" entfernt\", \"version\": \"1.0.0\"}";
  EXPECT_EQ(ExtractJsonString(json, "version"), L"9.9.9");
}

TEST(ExtractJsonStringTest, EscapesAreTakenAsTheyStand) {
  EXPECT_EQ(ExtractJsonString(R"({"changelog": "Neu: \"Kopieren\" schneller"})", "changelog"),
            L"Neu: \\");
  EXPECT_EQ(ExtractJsonString(R"({"changelog": "Zeile 1\nZeile 2"})", "changelog"),
            L"Zeile 1\\nZeile 2");
}

TEST(ExtractJsonStringTest, Utf8ChangeNotesBecomeTheirUtf16Characters) {
  // "Größere Schrift – schneller Ü ß 🌼" written out in UTF-8 bytes.
  const std::string json =
      "{\"changelog\": \"Gr\xC3\xB6\xC3\x9F"
      "ere Schrift \xE2\x80\x93 schneller \xC3\x9C \xC3\x9F \xF0\x9F\x8C\xBC\"}";
  EXPECT_EQ(ExtractJsonString(json, "changelog"),
            L"Größere Schrift \u2013 schneller Ü ß \U0001F33C");
}

TEST(ExtractJsonStringTest, InvalidUtf8IsReplacedNotDropped) {
  // A Latin-1 "ä" (0xE4) is not UTF-8; the reader must still see that something stood there.
  EXPECT_EQ(ExtractJsonString("{\"changelog\": \"M\xE4rz\"}", "changelog"), L"M\uFFFDrz");
}

TEST(ExtractJsonStringTest, AValueEndsAtAnEmbeddedNulByte) {
  const std::string json("{\"version\": \"2.0\0.0\"}", 21);
  EXPECT_EQ(ExtractJsonString(json, "version"), L"2.0");
}

}  // namespace
