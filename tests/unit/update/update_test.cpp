#include "app/https.h"
#include "app/json.h"
#include "app/text.h"
#include "update/download_window.h"
#include "update/update_check.h"
#include "update/update_download.h"
#include "update/update_prompt.h"
#include "update/update_signature.h"
#include "update/version.h"
#include "unit/support.h"

// Made with openssl through the release script, from a file holding "Snapwren test installer\n":
//   bash scripts/sign-update.sh installer 1.2.0 URL tests/keys/update-test-key.pem
// (kOtherVersion: the same for 1.1.0; kOtherKey: version 1.2.0 with a throwaway key).
constexpr char kKey[] =
    "bdaaaed357dd1e5c8089aeff6027ecb6595112ef0e725573b265b93ca048f614"
    "790015de5218bd58d716e3a1797216f8d7f0ea3a57d57d834146c5bfa5c9b0d7";
constexpr char kSha[] = "6ac5ebe08bd18f1b0f4e8f460c4e4e817d086c64da0ea8ba66f93a6e32405441";
constexpr char kSignature[] =
    "F4zmv248mq+I8ZI9EA9ALZenAbI+fHmaXz+2vMkPts/wr03eVKauxQ4EmzyIQIpZLwkgwdirLWxRKR4zzHnFvA==";
constexpr char kOtherVersion[] =
    "A47oHO7PXBfpnQ6mDcbs6Ta5N2BsUFFi8bXgf57tTrW1htP7WBkcJd/Lr/2qKXPnLMy1ZlfeN1yw8XSOzWlanQ==";
constexpr char kOtherKey[] =
    "rwo6wc/asUZ6mdB6SUjgdTMxSbp9sZtpY2t6l24qRawTrhq+zVTsjczUus7hO+K5XlkM8uCltisEvzosWXBdIw==";

TEST(VersionTest, PiecesAreNumbersPaddedToThreeAndOnlyTheFirstThreeDecide) {
  const wchar_t* newer[] = {L"1.0.1", L"1.1", L"2", L"1..1", L"1.2.", L" 2.0.0", L"2.0.0-beta"};
  const wchar_t* older[] = {L"1.0.0", L"0.9.9", L"1.0.0.5", L".5", L"v2.0.0", L"", L"1.-1.0"};
  for (const wchar_t* v : newer) EXPECT_TRUE(IsNewerVersion(L"1.0.0", v)) << v;
  for (const wchar_t* v : older) EXPECT_FALSE(IsNewerVersion(L"1.0.0", v)) << v;
  EXPECT_TRUE(IsNewerVersion(L"1.9.0", L"1.10.0"));
  EXPECT_FALSE(IsNewerVersion(L"2.0.0", L"1.99.99"));
}

TEST(UpdateJsonTest, TopLevelMembersAreDecodedStringsAndAnythingButOneObjectIsRefused) {
  // Each member as name=text (or name=- when it is no string), "-" for a refused document.
  const struct { std::string json; const wchar_t* members; } cases[] = {
      {R"({"notes": "url", "url": "https:\/\/h\/a.exe", "n": {"url": "x"}})",
       L"n=- notes=url url=https://h/a.exe "},
      {R"( {"c":"\"\\\b\f\n\r\t\u00e4\u20AC\ud83c\udf38"} )",
       L"c=\"\\\b\f\n\r\t\u00e4\u20AC\U0001F338 "},
      {"{\"c\": \"Gr\xC3\xB6\xC3\x9F" "e M\xE4rz\"}", L"c=Größe M\uFFFDrz "},
      {R"({"a": [1, -0.5e+3, true, false, null, [], {}, "s"], "b": 0, "c": 1E9})",
       L"a=- b=- c=- "},
      {"{}", L""}, {"[]", L"-"}, {R"("x")", L"-"}, {R"({"a": "1",})", L"-"},
      {R"({"a" "1"})", L"-"}, {R"({"a": "1"} x)", L"-"}, {R"({"a": "1")", L"-"},
      {R"({"a": "1", "a": "2"})", L"-"}, {R"({"a": "\q"})", L"-"}, {R"({"a": "\u12"})", L"-"},
      {R"({"a": "\ud83c"})", L"-"}, {R"({"a": "\udf38"})", L"-"}, {"{\"a\": \"\t\"}", L"-"},
      {R"({"a": 01})", L"-"}, {R"({"a": 1.})", L"-"}, {R"({"a": tru})", L"-"},
      {"{\"a\": " + std::string(20, '[') + std::string(20, ']') + "}", L"-"}};
  for (const auto& c : cases) {
    const std::optional<JsonMembers> members = ReadJsonObject(c.json);
    std::wstring shown = members ? L"" : L"-";
    for (const auto& [name, text] : members ? *members : JsonMembers()) {
      shown += Utf8ToUtf16(name) + L"=" + (text ? Utf8ToUtf16(*text) : L"-") + L" ";
    }
    EXPECT_EQ(shown, c.members) << c.json;
  }
}

TEST(UpdateSignatureTest, OnlyThePublishersSignatureOfThisVersionAndInstallerVerifies) {
  const std::string statement = UpdateStatement("1.2.0", kSha);
  EXPECT_EQ(statement, std::string("snapwren-update 1\n1.2.0\n") + kSha + "\n");
  Sha256 hash;  // as `sha256sum` gives it for the statement
  hash.Add(statement.data(), static_cast<DWORD>(statement.size()));
  const std::vector<BYTE> expected =
      *DecodeHex("cd1468ad158eae65f461202a38aa2659b3f245295428eb6f58daec4dbdd56372");
  const std::optional<Sha256Digest> digest = hash.Finish();
  EXPECT_EQ(std::vector<BYTE>(digest->begin(), digest->end()), expected);
  std::string flipped = kSignature;
  flipped[0] = 'E';  // one bit of r
  const std::string upper = "6AC5EBE08BD18F1B0F4E8F460C4E4E817D086C64DA0EA8BA66F93A6E32405441";
  const struct { const char *version, *sha, *signature, *key; bool verifies; } cases[] = {
      {"1.2.0", kSha, kSignature, kKey, true}, {"1.2.0", kSha, flipped.c_str(), kKey, false},
      {"1.2.0", kSha, kOtherKey, kKey, false}, {"1.2.0", kSha, kOtherVersion, kKey, false},
      {"1.1.0", kSha, kOtherVersion, kKey, true}, {"1.2.0 ", kSha, kSignature, kKey, false},
      {"1.2.0", "7ac5ebe08bd18f1b0f4e8f460c4e4e817d086c64da0ea8ba66f93a6e32405441", kSignature,
       kKey, false},
      {"1.2.0", upper.c_str(), kSignature, kKey, false}, {"1.2.0", "6ac5", kSignature, kKey, false},
      {"1.2.0", kSha, "F4zmv248mq+I8ZI9EA9ALZenAbI+fHmaXz+2vMkPts/wr03eVKau", kKey, false},
      {"1.2.0", kSha, std::string(kSignature).substr(0, 86).c_str(), kKey, false},
      {"1.2.0", kSha, "", kKey, false}, {"1.2.0", kSha, kSignature, "", false},  // no key built in
      {"1.2.0", kSha, kSignature, kKey + 2, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(VerifyUpdateSignature(c.version, c.sha, c.signature, c.key), c.verifies)
        << c.version << " " << c.sha << " " << c.signature << " " << c.key;
  }
  const struct { const char* text; const char* bytes; } base64[] = {
      {"", ""}, {"YQ==", "a"}, {"YWI=", "ab"}, {"YWJj", "abc"}, {"YQ=", nullptr},
      {"Y===", nullptr}, {"YQ=A", nullptr}, {"Y!==", nullptr}, {"YW J", nullptr}};
  for (const auto& c : base64) {
    const std::optional<std::vector<BYTE>> bytes = DecodeBase64(c.text);
    EXPECT_EQ(bytes ? std::string(bytes->begin(), bytes->end()) : "-", c.bytes ? c.bytes : "-")
        << c.text;
  }
}

TEST(UpdateAnswerTest, OnlyASignedObjectWithStringMembersIsOfferedAndLengthsArePlainDecimals) {
  const std::string signed_ = std::string(R"({"sha256": ")") + kSha + R"(", "signature": ")" +
                              kSignature + R"(", "version": "1.2.0")";
  const struct { std::string body; const wchar_t *fetchError, *info; } answers[] = {
      {signed_ + R"(, "url": "https:\/\/h\/a.exe", "changelog": "Sch\u00f6n\nNeu"})", L"",
       L"1 1.2.0 https://h/a.exe Schön\nNeu "},
      {signed_ + "}", L"", L"1 1.2.0   "},
      {R"({"version": "1.2.0", "url": "u"})", L"",
       L"0    Das Update konnte nicht verifiziert werden: Die Signatur fehlt oder ist ungültig."},
      {signed_ + R"(, "url": 5})", L"", L"0    Ungültige Serverantwort"},
      {R"({"version": 2})", L"", L"0    Ungültige Serverantwort"},
      {R"({"url": "u"})", L"", L"0    Ungültige Serverantwort"},
      {"<html>Not found</html>", L"", L"0    Ungültige Serverantwort"},
      {"", L"HTTP Status: 404", L"0    HTTP Status: 404"},
      {"", L"", L"0    Keine Antwort vom Update-Server"}};
  for (const auto& c : answers) {
    const UpdateInfo i = ReadUpdateInfo(c.body, c.fetchError, kKey);
    EXPECT_EQ(std::to_wstring(i.available) + L" " + i.version + L" " + i.url + L" " + i.changelog +
                  L" " + i.error, c.info) << c.body;
    const std::vector<BYTE> sha(i.sha256.begin(), i.sha256.end());
    EXPECT_EQ(sha, i.available ? *DecodeHex(kSha) : std::vector<BYTE>(32));
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

TEST(UpdateWorkerTest, OneCheckAtATimeWhoseOutcomeTheUserWhoAskedMeanwhileHears) {
  UpdateCheckGuard guard;
  EXPECT_TRUE(guard.Request(false));  // at start-up
  EXPECT_FALSE(guard.UserAsked());
  EXPECT_FALSE(guard.Request(true));  // the menu while it runs
  EXPECT_TRUE(guard.UserAsked());
  guard.Finish();
  EXPECT_FALSE(guard.UserAsked());
  EXPECT_TRUE(guard.Request(true));
}

TEST(UpdateWorkerTest, ProgressShowsRoundedDownSizesInTheTotalsUnitAndABarOfWhatArrived) {
  const uint64_t mb = 1024 * 1024;
  const struct { uint64_t received, total; const wchar_t* sizes; int fill; } rows[] = {
      {1023, 512 * 1024, L"0 KB von 512 KB", 0},
      {mb + mb / 2 - 1, 30 * mb, L"1,4 MB von 30,0 MB", 4},
      {30 * mb - 1, 30 * mb, L"29,9 MB von 30,0 MB", 99},
      {30 * mb, 30 * mb, L"30,0 MB von 30,0 MB", 100},
      {2048, kUnknownSize, L"2 KB", 0}, {3 * mb, kUnknownSize, L"3,0 MB", 0},
      {200, 100, L"0 KB von 0 KB", 100}, {10, 0, L"0 KB von 0 KB", 0}};
  for (const auto& r : rows) {
    EXPECT_EQ(DownloadProgressText(r.received, r.total),
              std::wstring(L"Update wird heruntergeladen: ") + r.sizes) << r.received;
    EXPECT_EQ(ProgressBarFill(100, r.received, r.total), r.fill) << r.received;
  }
}

TEST(UpdateWorkerTest, ACancelDeletesThePartialFileTheWorkerHoldsAndLetsItMakeNoOther) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  DownloadJob job;
  job.target = UpdateFileIn(FolderOf(temp));
  const std::wstring partial = PartialPathOf(job.target);
  UniqueFile file = CreatePartialFile(job);
  ASSERT_TRUE(file);
  CancelDownload(job);
  file.reset();  // the worker lets go of it
  EXPECT_EQ(GetFileAttributesW(partial.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(CreatePartialFile(job));
  EXPECT_EQ(GetFileAttributesW(partial.c_str()), INVALID_FILE_ATTRIBUTES);
}
