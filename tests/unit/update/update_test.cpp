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
//   bash scripts/sign-update.sh --sequence 3 installer 1.2.0 https://h/a.exe KEY "$NOTES"
// with KEY tests/keys/update-test-key.pem and NOTES "$(printf 'Sch\xc3\xb6n\nNeu')"
// (kOtherKey: the same with a throwaway key; kStatement1: the same installer as version 1.2.0
// under the former statement, "snapwren-update 1\n<version>\n<sha256>\n").
constexpr char kKey[] =
    "bdaaaed357dd1e5c8089aeff6027ecb6595112ef0e725573b265b93ca048f614"
    "790015de5218bd58d716e3a1797216f8d7f0ea3a57d57d834146c5bfa5c9b0d7";
constexpr char kSha[] = "6ac5ebe08bd18f1b0f4e8f460c4e4e817d086c64da0ea8ba66f93a6e32405441";
constexpr char kSignature[] =
    "DpviYXbQY/PV1LBckDYGkSo/uIUk6MMlV+evds7u8TL8Nxh6W9mlcEpT5h6HqfemDs61vpY+yyefzAvrdLXYxA==";
constexpr char kOtherKey[] =
    "rIdSTm9guaD9GrimUItK1SBZZpuCD3psRrhYaQLgMrkH6Vxl2Bmc9m27M7xoQt9XjsLiNs7lIlq/9k9IATqtgw==";
constexpr char kStatement1[] =
    "F4zmv248mq+I8ZI9EA9ALZenAbI+fHmaXz+2vMkPts/wr03eVKauxQ4EmzyIQIpZLwkgwdirLWxRKR4zzHnFvA==";
const SignedUpdate kSigned = {"1.2.0", kSha, "24", "https://h/a.exe", "3", "Sch\xC3\xB6n\nNeu"};

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

TEST(UpdateSignatureTest, OnlyThePublishersSignatureOfEveryFieldAsSignedVerifies) {
  const std::string statement = UpdateStatement(kSigned);
  EXPECT_EQ(statement, std::string("snapwren-update 2\n1.2.0\n") + kSha + "\n24\nhttps://h/a.exe\n3\n"
            "678c6c9f6c8da3996421e6fa0196c316c27606d44a87f018af8f08bfc8ac8e12\n");
  Sha256 hash;  // as `sha256sum` gives it for the statement
  hash.Add(statement.data(), static_cast<DWORD>(statement.size()));
  const std::optional<Sha256Digest> digest = hash.Finish();
  EXPECT_EQ(EncodeHex(digest->data(), digest->size()),
            "b21caa9313fc3a94b0ff6c9a8e949cbef702b1961ae7956bb60af90df879e104");
  EXPECT_TRUE(VerifyUpdateSignature(kSigned, kSignature, kKey));
  // Each field as the host might change it: the signature no longer holds.
  const struct { std::string SignedUpdate::*field; const char* value; } tampered[] = {
      {&SignedUpdate::version, "1.2.1"}, {&SignedUpdate::version, "1.2.0 "},
      {&SignedUpdate::sha256Hex, "7ac5ebe08bd18f1b0f4e8f460c4e4e817d086c64da0ea8ba66f93a6e32405441"},
      {&SignedUpdate::sha256Hex, "6AC5EBE08BD18F1B0F4E8F460C4E4E817D086C64DA0EA8BA66F93A6E32405441"},
      {&SignedUpdate::sha256Hex, "6ac5"}, {&SignedUpdate::length, "25"},
      {&SignedUpdate::url, "http://h/a.exe"}, {&SignedUpdate::url, "https://evil/a.exe"},
      {&SignedUpdate::sequence, "4"}, {&SignedUpdate::changelog, "Sch\xC3\xB6n\nNeu!"},
      {&SignedUpdate::changelog, ""}};
  for (const auto& t : tampered) {
    SignedUpdate update = kSigned;
    update.*t.field = t.value;
    EXPECT_FALSE(VerifyUpdateSignature(update, kSignature, kKey)) << t.value;
  }
  std::string flipped = kSignature;
  flipped[0] = 'E';  // one bit of r
  const struct { std::string signature; const char* key; } refused[] = {
      {flipped, kKey}, {kOtherKey, kKey}, {kStatement1, kKey},
      {std::string(kSignature).substr(0, 52), kKey}, {std::string(kSignature).substr(0, 86), kKey},
      {"", kKey}, {kSignature, ""} /* no key built in */, {kSignature, kKey + 2}};
  for (const auto& r : refused) {
    EXPECT_FALSE(VerifyUpdateSignature(kSigned, r.signature, r.key)) << r.signature << r.key;
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

TEST(UpdateAnswerTest, OnlyASignedObjectWithStringMembersAndNoLowerSequenceIsOffered) {
  const std::string signed_ = std::string(R"({"sha256": ")") + kSha + R"(", "signature": ")" +
                              kSignature + R"(", "version": "1.2.0", "length": "24")";
  const std::string complete = signed_ + R"(, "sequence": "3", "url": "https:\/\/h\/a.exe",)"
                               R"( "changelog": "Sch\u00f6n\nNeu"})";
  const std::wstring unverified =
      L"0    Das Update konnte nicht verifiziert werden: Die Signatur fehlt oder ist ungültig.";
  const struct { std::string body; uint64_t highest; const wchar_t *fetchError, *info; } answers[] = {
      {complete, 0, L"", L"1 1.2.0 https://h/a.exe Schön\nNeu "},
      {complete, 3, L"", L"1 1.2.0 https://h/a.exe Schön\nNeu "},
      {complete, 4, L"",
       L"0    Das Update-Angebot ist älter als ein bereits erhaltenes und wurde abgelehnt."},
      {signed_ + R"(, "sequence": "3", "url": "https:\/\/h\/a.exe"})", 0, L"", unverified.c_str()},
      {std::string(R"({"version": "1.2.0", "url": "u", "sha256": ")") + kSha +
           R"(", "signature": ")" + kStatement1 + R"("})", 0, L"", unverified.c_str()},
      {signed_ + R"(, "url": 5})", 0, L"", L"0    Ungültige Serverantwort"},
      {R"({"version": 2})", 0, L"", L"0    Ungültige Serverantwort"},
      {R"({"url": "u"})", 0, L"", L"0    Ungültige Serverantwort"},
      {"<html>Not found</html>", 0, L"", L"0    Ungültige Serverantwort"},
      {"", 0, L"HTTP Status: 404", L"0    HTTP Status: 404"},
      {"", 0, L"", L"0    Keine Antwort vom Update-Server"}};
  for (const auto& c : answers) {
    const UpdateInfo i = ReadUpdateInfo(c.body, c.fetchError, kKey, c.highest);
    EXPECT_EQ(std::to_wstring(i.available) + L" " + i.version + L" " + i.url + L" " + i.changelog +
                  L" " + i.error, c.info) << c.body << c.highest;
    const std::vector<BYTE> sha(i.sha256.begin(), i.sha256.end());
    EXPECT_EQ(sha, i.available ? *DecodeHex(kSha) : std::vector<BYTE>(32));
    EXPECT_EQ(i.length + i.sequence, i.available ? 27u : 0u);
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

TEST(UpdateWorkerTest, ADownloadGoesOverHttpsOnlyEndsAtItsDeadlineAndItsCheckedFileIsHeld) {
  const struct { const wchar_t *url, *target; } addresses[] = {
      {L"https://h/a.exe", L"h /a.exe 443"}, {L"https://h:8443/a.exe?x=1", L"h /a.exe?x=1 443"},
      {L"http://h/a.exe", L"-"}, {L"ftp://h/a.exe", L"-"}, {L"https:///a.exe", L"-"}, {L"", L"-"}};
  for (const auto& a : addresses) {
    const std::optional<HttpsTarget> t = DownloadAddress(a.url);
    EXPECT_EQ(t ? t->host + L" " + t->path + L" " + std::to_wstring(t->port) : L"-", a.target);
  }
  const uint64_t kib = 1024;
  const struct { uint64_t length; ULONGLONG ms; } deadlines[] = {
      {0, 120000}, {120 * 32 * kib, 120000}, {120 * 32 * kib + 33, 120001},
      {600 * 32 * kib, 600000}, {1800 * 32 * kib - 32, 1799999}, {1800 * 32 * kib, 1800000},
      {UINT64_MAX, 1800000}};
  for (const auto& d : deadlines) EXPECT_EQ(DownloadDeadlineMs(d.length), d.ms) << d.length;

  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  DownloadJob job;
  job.target = UpdateFileIn(FolderOf(temp));
  ULONGLONG clock = 999;
  job.now = [&clock] { return clock; };
  job.deadline = 1000;
  const BYTE data[] = "Snapwren test installer\n";
  {
    const UniqueFile file(CreateFileW(job.target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(StoreChunk(job, file.get(), data, 24));
    clock = 1000;
    EXPECT_FALSE(StoreChunk(job, file.get(), data, 24));
  }
  Sha256Digest sha{};
  const std::vector<BYTE> signedSha = *DecodeHex(kSha);
  std::copy(signedSha.begin(), signedSha.end(), sha.begin());
  EXPECT_FALSE(OpenVerifiedInstaller(job.target, Sha256Digest{}));
  UniqueFile held = OpenVerifiedInstaller(job.target, sha);
  ASSERT_TRUE(held);
  const UniqueFile writer(CreateFileW(job.target.c_str(), GENERIC_WRITE, FILE_SHARE_READ |
                                      FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
  EXPECT_FALSE(writer);
  EXPECT_FALSE(DeleteFileW(job.target.c_str()));
  EXPECT_FALSE(MoveFileW(job.target.c_str(), (job.target + L".old").c_str()));
  held.reset();
  EXPECT_TRUE(DeleteFileW(job.target.c_str()));
}
