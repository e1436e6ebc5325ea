// UploadPng over real WinHTTP. UploadServer runs when tests/e2e/test_upload.py starts this with
// its server up, which counts the requests: one to the built-in address, then one per mode below.
#include "upload/upload_client.h"
#include "build_config.h"
#include "unit/support.h"

// Short enough for the stalled answers to fail quickly, long enough for a loaded machine.
constexpr DWORD kTestTimeoutMs = 3000;
static std::wstring Env(const wchar_t* name) { return _wgetenv(name) ? _wgetenv(name) : L""; }
// Every byte value, CR LF and "--" pairs included, so that any re-encoding of the body shows.
static std::vector<BYTE> PatternPng() {
  std::vector<BYTE> png(70000);
  for (size_t i = 0; i < png.size(); ++i) png[i] = static_cast<BYTE>((i * 7 + i / 256) & 0xFF);
  return png;
}
static std::wstring Outcome(const UploadResult& result) {
  return (result.success ? L"ok " : L"failed ") + result.link + L"|" + result.error +
         (result.deleteUrl.empty() ? L"" : L"|" + result.deleteUrl);
}
static std::wstring To(const std::wstring& port, const std::wstring& path,
                       const std::wstring& key = L"") {
  return Outcome(
      UploadPngTo(L"https://localhost" + port + path, key, PatternPng(), kTestTimeoutMs));
}

// An address that is not https:// with a host is never sent to: the port stays closed.
TEST(UploadPng, RefusesAnEmptyImageAndAnyAddressThatIsNotHttpsWithAHostBeforeAnyTraffic) {
  EXPECT_EQ(Outcome(UploadPng({}, kUploadUrl, L"")), L"failed |Keine PNG-Daten vorhanden");
  for (const wchar_t* url : {L"kein Link", L"http://localhost/upload.php", L"https:///upload.php",
                             L"ftp://localhost/upload.php", L""}) {
    EXPECT_EQ(Outcome(UploadPngTo(url, L"k", PatternPng(), kTestTimeoutMs)),
              L"failed |Ungültige Upload-URL") << url;
  }
  for (const wchar_t* key : {L"k\u00E4y", L"a b", L"a\r\nX-Injected: 1"}) {
    EXPECT_EQ(Outcome(UploadPngTo(kUploadUrl, key, PatternPng(), kTestTimeoutMs)),
              L"failed |Ungültiger Upload-Schlüssel") << key;
  }
}

class UploadServer : public ::testing::Test {
  void SetUp() override {
    if (Env(L"SNAPWREN_UPLOAD_SERVER").empty()) GTEST_SKIP() << "needs the test server";
  }
};

TEST_F(UploadServer, TheBuiltInAddressAndEveryKindOfAnswerGiveTheLinkOrItsFailureText) {
  // The server numbers links by request; the built-in address is asked first.
  EXPECT_EQ(Outcome(UploadPng(PatternPng(), kUploadUrl, L"")), L"ok https://img.example/1.png|");
  const std::wstring linked = L"ok https://img.example/*", none = L"failed |Keine Antwort vom "
      L"Server", noLink = L"failed |Konnte URL nicht aus Server-Antwort extrahieren";
  const struct { const wchar_t* mode; std::wstring outcome; } cases[] = {
      {L"ok", linked}, {L"utf8", L"ok https://img.example/Grüße/\U0001F338.png|"},
      {L"status-201", L"failed |Server antwortete mit Status 201"},
      {L"status-500", L"failed |Server antwortete mit Status 500"},
      {L"status-401", L"failed |Upload-Schlüssel abgelehnt"},
      {L"status-403", L"failed |Upload-Schlüssel abgelehnt"},
      {L"empty", L"failed |Leere Antwort vom Server"}, {L"no-link", noLink},
      {L"limit", linked},  // a reply of one mebibyte and no more
      {L"huge", L"failed |Antwort des Servers zu groß"},
      // Silent after the request or within the reply: the time-out; what came is judged whole.
      // Wine ends the header wait at the receive time-out, Windows at its own (90 s by default).
      {L"stall-head", none}, {L"stall-body", noLink}, {L"drop", none}};
  for (const auto& c : cases) {
    const std::wstring outcome = To(L"", L"/t/" + std::wstring(c.mode) + L"/upload.php");
    // A trailing * stands for the link's number, which counts the server's requests.
    const bool prefix = c.outcome.back() == L'*';
    EXPECT_EQ(prefix ? outcome.substr(0, c.outcome.size() - 1) + L"*" : outcome, c.outcome)
        << c.mode;
  }
}

// The key travels only as a bearer token, and only when there is one.
TEST_F(UploadServer, SendsTheKeyAsABearerTokenOnlyWithAKeyAndReadsTheDeleteAddress) {
  const std::wstring deleteUrl = L"|https://img.example/d?k=1";
  EXPECT_EQ(To(L"", L"/t/auth/upload.php", L"k3y-42"),
            L"ok https://img.example/Bearer_k3y-42|" + deleteUrl);
  EXPECT_EQ(To(L"", L"/t/auth/upload.php"), L"ok https://img.example/none|" + deleteUrl);
}

TEST_F(UploadServer, NamesTheErrorOfARefusedConnectionAndRefusesAnUntrustedServer) {
  const std::wstring refused = Env(L"SNAPWREN_UPLOAD_REFUSED_PORT");
  const std::wstring untrusted = Env(L"SNAPWREN_UPLOAD_UNTRUSTED_PORT");
  ASSERT_FALSE(refused.empty() || untrusted.empty());
  const std::wstring failed = L"failed |Senden fehlgeschlagen (Fehlercode: ";
  EXPECT_EQ(To(L":" + refused, L"/upload.php"), failed + L"12029)");  // cannot connect
  // A secure failure on Windows, a secure channel error on Wine 8; the server sees no image.
  const std::wstring outcome = To(L":" + untrusted, L"/upload.php");
  EXPECT_TRUE(outcome == failed + L"12175)" || outcome == failed + L"12157)") << outcome;
}
