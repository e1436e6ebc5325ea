#include "upload/upload_client.h"

#include "build_config.h"
#include "upload/upload_format.h"
#include "upload/winhttp_handle.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Snapwren/1.0";
constexpr wchar_t kVerb[] = L"POST";
constexpr DWORD kStatusOk = 200;
constexpr DWORD kHostCapacity = 256;
constexpr DWORD kPathCapacity = 1024;

#if SNAPWREN_UPLOAD_ALLOW_UNTRUSTED
// Only for a private server with a self-signed certificate: anyone on the network path can then
// read every screenshot and hand back a link of their choosing.
constexpr DWORD kIgnoreCertificateErrors =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
#endif

UploadResult Failure(std::wstring error) {
  UploadResult result;
  result.error = std::move(error);
  return result;
}

struct CrackedUrl {
  wchar_t host[kHostCapacity] = {};
  wchar_t path[kPathCapacity] = {};
  INTERNET_PORT port = 0;
  bool secure = false;
};

bool CrackUploadUrl(const std::wstring& url, CrackedUrl& cracked) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = cracked.host;
  parts.dwHostNameLength = kHostCapacity;
  parts.lpszUrlPath = cracked.path;
  parts.dwUrlPathLength = kPathCapacity;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  cracked.port = parts.nPort;
  cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

// The wait for the reply's headers has a time-out of its own: 90 s on Windows, none at all in
// Wine, where a server that accepts the request and never answers would hold the upload for
// ever. It gets the same limit as every other step.
void SetTimeouts(HINTERNET session, DWORD timeoutMs) {
  for (const DWORD option :
       {WINHTTP_OPTION_CONNECT_TIMEOUT, WINHTTP_OPTION_SEND_TIMEOUT,
        WINHTTP_OPTION_RECEIVE_TIMEOUT, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT}) {
    WinHttpSetOption(session, option, &timeoutMs, sizeof timeoutMs);
  }
}

DWORD QueryStatus(HINTERNET request) {
  // Left at 0 when the query fails, which then reads as a failed status.
  DWORD status = 0;
  DWORD length = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX);
  return status;
}

// Reads until the server has nothing more or a read fails; whatever arrived is judged by the
// caller, since a link is only taken when its closing quote came too. False when the reply
// outgrows kMaxReplyBytes.
bool ReadReply(HINTERNET request, std::string& reply) {
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available) || available == 0) return true;
    // One byte past the limit is enough to know the reply is too large.
    const size_t room = kMaxReplyBytes + 1 - reply.size();
    const DWORD wanted = static_cast<DWORD>(available < room ? available : room);
    std::string chunk(wanted, '\0');
    DWORD read = 0;
    // A failed read ends the loop: trying again would spin for as long as the server is silent.
    if (!WinHttpReadData(request, chunk.data(), wanted, &read)) return true;
    if (read == 0) return true;
    reply.append(chunk.data(), read);
    if (reply.size() > kMaxReplyBytes) return false;
  }
}

}  // namespace

UploadResult UploadPng(const std::vector<BYTE>& png) {
  return UploadPngTo(kUploadUrl, png, kUploadTimeoutMs);
}

UploadResult UploadPngTo(const std::wstring& url, const std::vector<BYTE>& png, DWORD timeoutMs) {
  if (png.empty()) return Failure(L"Keine PNG-Daten vorhanden");

  CrackedUrl cracked;
  if (!CrackUploadUrl(url, cracked)) return Failure(L"Ungültige Upload-URL");

  // Declared session first so that they close request, connection, session.
  UniqueWinHttp session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return Failure(L"Konnte HTTP-Session nicht erstellen");
  SetTimeouts(session.get(), timeoutMs);

  UniqueWinHttp connection(WinHttpConnect(session.get(), cracked.host, cracked.port, 0));
  if (!connection) return Failure(L"Verbindung zum Server fehlgeschlagen");

  UniqueWinHttp request(WinHttpOpenRequest(connection.get(), kVerb, cracked.path, nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           cracked.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return Failure(L"Request-Erstellung fehlgeschlagen");

#if SNAPWREN_UPLOAD_ALLOW_UNTRUSTED
  if (cracked.secure) {
    DWORD flags = kIgnoreCertificateErrors;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
#endif

  const std::string boundary = MakeBoundary();
  std::vector<BYTE> body = BuildMultipartBody(png, boundary);
  const std::wstring header = ContentTypeHeader(boundary);
  if (!WinHttpAddRequestHeaders(request.get(), header.c_str(), static_cast<DWORD>(header.size()),
                                WINHTTP_ADDREQ_FLAG_ADD)) {
    return Failure(L"Header konnte nicht gesetzt werden");
  }

  const DWORD bodyLength = static_cast<DWORD>(body.size());
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body.data(),
                          bodyLength, bodyLength, 0)) {
    const DWORD error = GetLastError();
    return Failure(SendFailedText(error));
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) {
    return Failure(L"Keine Antwort vom Server");
  }

  const DWORD status = QueryStatus(request.get());
  if (status != kStatusOk) return Failure(StatusFailedText(status));

  std::string reply;
  if (!ReadReply(request.get(), reply)) return Failure(L"Antwort des Servers zu groß");
  if (reply.empty()) return Failure(L"Leere Antwort vom Server");

  std::wstring link = ExtractUrlFromJson(reply);
  if (link.empty()) return Failure(L"Konnte URL nicht aus Server-Antwort extrahieren");

  UploadResult result;
  result.success = true;
  result.link = std::move(link);
  return result;
}
