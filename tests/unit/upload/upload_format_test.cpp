#include "upload/upload_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <set>
#include <string>

namespace {

// Hands out prepared values, so that a test can steer the rejection step of the draw.
struct ScriptedGenerator {
  std::deque<uint32_t> values;
  int calls = 0;
  uint32_t operator()() {
    ++calls;
    const uint32_t value = values.front();
    values.pop_front();
    return value;
  }
};

std::string AsString(const std::vector<BYTE>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(MakeBoundary, DrawChoosesByTheHighHalfOfTheProduct) {
  // 1 * 62 = 62: index 0. 0xFFFFFFFF * 62 has 61 in its high half: the last letter.
  ScriptedGenerator generator{{1u, 0xFFFFFFFFu}};
  EXPECT_EQ(DrawBoundaryChar(generator), '0');
  EXPECT_EQ(DrawBoundaryChar(generator), 'z');
}

TEST(MakeBoundary, DrawRejectsProductsWhoseLowHalfIsBelowFour) {
  // Low halves: 0 * 62 and 0x80000000 * 62 give 0, 0x3DEF7BDF * 62 gives 2: all drawn again.
  // 0x7BDEF7BE * 62 = 30 * 2^32 + 4 sits right on the threshold, is kept and gives index 30.
  ScriptedGenerator generator{{0u, 0x80000000u, 0x3DEF7BDFu, 0x7BDEF7BEu}};
  EXPECT_EQ(DrawBoundaryChar(generator), 'U');
  EXPECT_EQ(generator.calls, 4);
}

TEST(MakeBoundary, HasThePrefixAndSixteenCharactersOfTheAlphabet) {
  const std::string alphabet = kBoundaryAlphabet;
  for (int i = 0; i < 50; ++i) {
    const std::string boundary = MakeBoundary();
    ASSERT_EQ(boundary.size(), std::strlen(kBoundaryPrefix) + 16);
    EXPECT_EQ(boundary.rfind("----SnapwrenBoundary", 0), 0u);
    for (size_t j = std::strlen(kBoundaryPrefix); j < boundary.size(); ++j) {
      EXPECT_NE(alphabet.find(boundary[j]), std::string::npos) << boundary;
    }
  }
}

TEST(MakeBoundary, IsFreshForEveryUploadAndUsesTheWholeAlphabet) {
  std::set<std::string> boundaries;
  std::set<char> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string boundary = MakeBoundary();
    boundaries.insert(boundary);
    seen.insert(boundary.begin() + static_cast<long>(std::strlen(kBoundaryPrefix)), boundary.end());
  }
  // A generator seeded from anything but the system's random source (a clock, a constant)
  // repeats itself within this many calls.
  EXPECT_EQ(boundaries.size(), 200u);
  // 3,200 draws miss one of 62 characters with a probability of about 1e-21.
  EXPECT_EQ(seen.size(), 62u);
}

TEST(MultipartBody, IsLaidOutByteForByte) {
  const std::vector<BYTE> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x00, '-', '-'};
  const std::string body = AsString(BuildMultipartBody(png, "----SnapwrenBoundaryAbc"));
  const std::string expected =
      "------SnapwrenBoundaryAbc\r\n"
      "Content-Disposition: form-data; name=\"image\"; filename=\"capture.png\"\r\n"
      "Content-Type: image/png\r\n"
      "\r\n" +
      std::string("\x89PNG\r\n\0--", 9) +
      "\r\n"
      "------SnapwrenBoundaryAbc--\r\n";
  EXPECT_EQ(body, expected);
}

TEST(MultipartBody, CarriesALargeImageUnchanged) {
  std::vector<BYTE> png(300000);
  for (size_t i = 0; i < png.size(); ++i) png[i] = static_cast<BYTE>(i * 7);
  const std::vector<BYTE> body = BuildMultipartBody(png, "B");
  const size_t head = std::strlen("--B\r\n") +
                      std::strlen("Content-Disposition: form-data; name=\"image\"; "
                                  "filename=\"capture.png\"\r\n") +
                      std::strlen("Content-Type: image/png\r\n\r\n");
  ASSERT_EQ(body.size(), head + png.size() + std::strlen("\r\n--B--\r\n"));
  EXPECT_TRUE(std::equal(png.begin(), png.end(), body.begin() + static_cast<long>(head)));
}

TEST(MultipartBody, HeaderNamesTheBoundaryWithoutQuotesOrLineEnd) {
  EXPECT_EQ(ContentTypeHeader("----SnapwrenBoundaryX1"),
            L"Content-Type: multipart/form-data; boundary=----SnapwrenBoundaryX1");
}

TEST(ExtractUrlFromJson, FindsTheLinkInEachOfTheFourSpellings) {
  EXPECT_EQ(ExtractUrlFromJson(R"({"url":"https://i.example/a\/b.png"})"),
            L"https://i.example/a/b.png");
  EXPECT_EQ(ExtractUrlFromJson(R"({"url": "a\/b.png"})"), L"a/b.png");
  EXPECT_EQ(ExtractUrlFromJson(R"({"url" :"a\/b.png"})"), L"a/b.png");
  EXPECT_EQ(ExtractUrlFromJson(R"({"url" : "a\/b.png"})"), L"a/b.png");
}

TEST(ExtractUrlFromJson, TriesTheSpellingsInTheirFixedOrder) {
  // The spaced key stands first in the reply, but the unspaced pattern is tried first.
  EXPECT_EQ(ExtractUrlFromJson(R"({"url": "a", "other": {"url":"b"}})"), L"b");
}

TEST(ExtractUrlFromJson, MatchesOnlyTheWholeKeyWithAtMostOneSpaceAroundTheColon) {
  EXPECT_EQ(ExtractUrlFromJson(R"({"thumb_url":"t.png"})"), L"");
  EXPECT_EQ(ExtractUrlFromJson(R"({"thumb_url":"t.png","url":"u.png"})"), L"u.png");
  EXPECT_EQ(ExtractUrlFromJson(R"({"url":  "a"})"), L"");
  EXPECT_EQ(ExtractUrlFromJson("{\"url\":\t\"a\"}"), L"");
  EXPECT_EQ(ExtractUrlFromJson("{\"url\":\n\"a\"}"), L"");
  EXPECT_EQ(ExtractUrlFromJson(R"({"link":"a"})"), L"");
  EXPECT_EQ(ExtractUrlFromJson(""), L"");
}

TEST(ExtractUrlFromJson, AnEmptyValueDecidesEvenWhenALaterSpellingHasOne) {
  EXPECT_EQ(ExtractUrlFromJson(R"({"url":"", "url" : "b"})"), L"");
}

TEST(ExtractUrlFromJson, APatternWithoutClosingQuoteGivesWayToTheNext) {
  EXPECT_EQ(ExtractUrlFromJson(R"({"url" : "b", "url":"cut)"), L"b");
}

TEST(ExtractUrlFromJson, UndoesOnlyEscapedSlashes) {
  EXPECT_EQ(ExtractUrlFromJson(R"({"url":"a\"b"})"), L"a\\");
  EXPECT_EQ(ExtractUrlFromJson(R"({"url":"a\u0041\\b\/c\/"})"), L"a\\u0041\\\\b/c/");
  EXPECT_EQ(ExtractUrlFromJson(R"({"url":"ends\"})"), L"ends\\");
}

TEST(ExtractUrlFromJson, DecodesBytesAboveAsciiAsUtf8) {
  EXPECT_EQ(ExtractUrlFromJson("{\"url\":\"https://b.example/Gr\xC3\xBC\xC3\x9F" "e.png\"}"),
            L"https://b.example/Gr\u00FC\u00DFe.png");
  EXPECT_EQ(ExtractUrlFromJson("{\"url\":\"x/\xF0\x9F\x8C\xB8\"}"), L"x/\U0001F338");
}

TEST(ExtractUrlFromJson, TakesBytesThatAreNotUtf8OneByOne) {
  // A lone Latin-1 byte is not UTF-8; it is kept rather than turned into U+FFFD.
  EXPECT_EQ(ExtractUrlFromJson("{\"url\":\"a\xFC.png\"}"), L"a\u00FC.png");
}

TEST(FailureTexts, WriteNumbersAsPlainUnsignedDecimals) {
  EXPECT_EQ(SendFailedText(12029), L"Senden fehlgeschlagen (Fehlercode: 12029)");
  EXPECT_EQ(SendFailedText(0xFFFFFFFFu), L"Senden fehlgeschlagen (Fehlercode: 4294967295)");
  EXPECT_EQ(StatusFailedText(0), L"Server antwortete mit Status 0");
  EXPECT_EQ(StatusFailedText(201), L"Server antwortete mit Status 201");
}

}  // namespace
