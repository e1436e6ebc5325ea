// UploadPng over real WinHTTP against the tests' upload server (tests/e2e/upload_server.py).
// The cases that need the server run only when tests/e2e/test_upload_client.py starts this
// executable with the server up and SNAPWREN_UPLOAD_SERVER set; on their own they are skipped.
#include "upload/upload_client.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Short enough for the stalled answers to fail quickly, long enough for a loaded machine.
constexpr DWORD kTestTimeoutMs = 3000;

std::wstring Environment(const wchar_t* name) {
  wchar_t value[64] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
  return length > 0 && length < ARRAYSIZE(value) ? value : L"";
}

// The same bytes as tests/e2e/test_upload_client.py expects: every byte value, CR LF and
// "--" pairs included, so that any re-encoding of the body shows.
std::vector<BYTE> PatternPng() {
  std::vector<BYTE> png(70000);
  for (size_t i = 0; i < png.size(); ++i) png[i] = static_cast<BYTE>((i * 7 + i / 256) & 0xFF);
  return png;
}

UploadResult UploadInMode(const wchar_t* mode, DWORD timeoutMs = kTestTimeoutMs) {
  return UploadPngTo(std::wstring(L"https://localhost/t/") + mode + L"/upload.php", PatternPng(),
                     timeoutMs);
}

void ExpectFailure(const UploadResult& result, const std::wstring& error) {
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.link, L"");
  EXPECT_EQ(result.error, error);
}

TEST(UploadPng, RefusesAnEmptyImageBeforeAnyTraffic) {
  ExpectFailure(UploadPng({}), L"Keine PNG-Daten vorhanden");
}

TEST(UploadPng, NamesAnAddressThatIsNoUrl) {
  ExpectFailure(UploadPngTo(L"kein Link", PatternPng(), kTestTimeoutMs), L"Ungültige Upload-URL");
}

class UploadServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Environment(L"SNAPWREN_UPLOAD_SERVER").empty()) {
      GTEST_SKIP() << "needs the test upload server (tests/e2e/test_upload_client.py)";
    }
  }
};

TEST_F(UploadServer, SendsTheImageToTheBuiltInAddress) {
  const UploadResult result = UploadPng(PatternPng());
  EXPECT_TRUE(result.success) << result.error;
  EXPECT_EQ(result.error, L"");
  // The server numbers links by request; this is the first request of the run.
  EXPECT_EQ(result.link, L"https://img.example/1.png");
}

TEST_F(UploadServer, ReadsTheLinkInEachSpellingOfTheKey) {
  for (const wchar_t* mode : {L"ok", L"ok-space-after", L"ok-space-before", L"ok-spaces"}) {
    const UploadResult result = UploadInMode(mode);
    EXPECT_TRUE(result.success) << mode;
    EXPECT_EQ(result.link.rfind(L"https://img.example/", 0), 0u) << mode;
  }
}

TEST_F(UploadServer, DecodesALinkWrittenInUtf8) {
  const UploadResult result = UploadInMode(L"utf8");
  EXPECT_TRUE(result.success);
  EXPECT_EQ(result.link, L"https://img.example/Gr\u00FC\u00DFe/\U0001F338.png");
}

TEST_F(UploadServer, CountsEveryStatusButTwoHundredAsFailure) {
  ExpectFailure(UploadInMode(L"status-201"), L"Server antwortete mit Status 201");
  ExpectFailure(UploadInMode(L"status-500"), L"Server antwortete mit Status 500");
}

TEST_F(UploadServer, NamesAnEmptyReplyAndAReplyWithoutLink) {
  ExpectFailure(UploadInMode(L"empty"), L"Leere Antwort vom Server");
  ExpectFailure(UploadInMode(L"no-link"), L"Konnte URL nicht aus Server-Antwort extrahieren");
}

TEST_F(UploadServer, AcceptsAReplyOfOneMebibyteAndNoMore) {
  const UploadResult atLimit = UploadInMode(L"limit");
  EXPECT_TRUE(atLimit.success) << atLimit.error;
  ExpectFailure(UploadInMode(L"huge"), L"Antwort des Servers zu groß");
}

TEST_F(UploadServer, GivesUpOnAServerThatStopsAnswering) {
  const ULONGLONG started = GetTickCount64();
  ExpectFailure(UploadInMode(L"stall-head"), L"Keine Antwort vom Server");
  // Whatever arrived before the silence is judged like a whole reply: here it has no link.
  ExpectFailure(UploadInMode(L"stall-body"), L"Konnte URL nicht aus Server-Antwort extrahieren");
  // Each waited for the receive time-out, not for ever.
  EXPECT_LT(GetTickCount64() - started, 4 * kTestTimeoutMs);
}

TEST_F(UploadServer, NamesAConnectionClosedWithoutAnswer) {
  ExpectFailure(UploadInMode(L"drop"), L"Keine Antwort vom Server");
}

TEST_F(UploadServer, NamesTheErrorOfARefusedConnection) {
  const std::wstring port = Environment(L"SNAPWREN_UPLOAD_REFUSED_PORT");
  ASSERT_FALSE(port.empty());
  // ERROR_WINHTTP_CANNOT_CONNECT
  ExpectFailure(UploadPngTo(L"https://localhost:" + port + L"/upload.php", PatternPng(),
                            kTestTimeoutMs),
                L"Senden fehlgeschlagen (Fehlercode: 12029)");
}

TEST_F(UploadServer, RefusesAServerWhoseCertificateIsNotTrusted) {
  const std::wstring port = Environment(L"SNAPWREN_UPLOAD_UNTRUSTED_PORT");
  ASSERT_FALSE(port.empty());
  const UploadResult result = UploadPngTo(L"https://localhost:" + port + L"/upload.php",
                                          PatternPng(), kTestTimeoutMs);
  EXPECT_FALSE(result.success);
  // Windows reports ERROR_WINHTTP_SECURE_FAILURE (12175) here; Wine 8 reports
  // ERROR_WINHTTP_SECURE_CHANNEL_ERROR (12157). Either way the image never leaves, which the
  // server side checks.
  EXPECT_TRUE(result.error == L"Senden fehlgeschlagen (Fehlercode: 12175)" ||
              result.error == L"Senden fehlgeschlagen (Fehlercode: 12157)")
      << result.error;
}

}  // namespace
