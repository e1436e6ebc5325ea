#include "app/https.h"

namespace {

constexpr DWORD kHostCapacity = 256;
constexpr DWORD kPathCapacity = 1024;

// Only for a server that the builder chose to trust blindly (see SNAPWREN_UPLOAD_ALLOW_UNTRUSTED):
// anyone on the network path can then read what is sent and answer in the server's name.
constexpr DWORD kIgnoreCertificateErrors =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;

// Name resolution has no time-out of its own on Windows, and the wait for the response's header
// one of 90 s, longer than any caller's limit. Every step gets the caller's one limit. (Wine 8
// bounds the header wait by the receive time-out instead, so the tests cannot tell the two apart.)
void SetTimeouts(HINTERNET session, DWORD timeoutMs) {
  for (const DWORD option :
       {WINHTTP_OPTION_RESOLVE_TIMEOUT, WINHTTP_OPTION_CONNECT_TIMEOUT, WINHTTP_OPTION_SEND_TIMEOUT,
        WINHTTP_OPTION_RECEIVE_TIMEOUT, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT}) {
    WinHttpSetOption(session, option, &timeoutMs, sizeof timeoutMs);
  }
}

DWORD QueryStatusCode(HINTERNET request) {
  DWORD status = 0;  // stays 0 when the query fails, which no caller takes for success
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  return status;
}

HttpsExchange Failed(HttpsExchange exchange, HttpsStep step, DWORD error = 0) {
  exchange.failed = step;
  exchange.error = error;
  return exchange;
}

}  // namespace

std::optional<HttpsTarget> CrackUrl(const std::wstring& url) {
  wchar_t host[kHostCapacity] = {};
  wchar_t path[kPathCapacity] = {};
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostCapacity;
  // No buffer for the extra information, so the path keeps any query.
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathCapacity;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return std::nullopt;
  return HttpsTarget{host, path, parts.nPort, parts.nScheme == INTERNET_SCHEME_HTTPS};
}

// In clear text anyone on the way could read the screenshot, the key or the installer, and
// change what comes back.
std::optional<HttpsTarget> SecureAddress(const std::wstring& url) {
  std::optional<HttpsTarget> where = CrackUrl(url);
  if (!where || !where->secure || where->host.empty()) return std::nullopt;
  return where;
}

HttpsExchange SendHttps(const HttpsRequest& request) {
  HttpsExchange x;
  x.session.reset(WinHttpOpen(request.userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!x.session) return Failed(std::move(x), HttpsStep::Session);
  SetTimeouts(x.session.get(), request.timeoutMs);

  const HttpsTarget& target = request.target;
  x.connection.reset(WinHttpConnect(x.session.get(), target.host.c_str(), target.port, 0));
  if (!x.connection) return Failed(std::move(x), HttpsStep::Connect);
  x.request.reset(WinHttpOpenRequest(x.connection.get(), request.verb, target.path.c_str(),
                                     nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!x.request) return Failed(std::move(x), HttpsStep::Request);
  if (request.acceptAnyCertificate && target.secure) {
    DWORD flags = kIgnoreCertificateErrors;
    WinHttpSetOption(x.request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  if (!request.header.empty() &&
      !WinHttpAddRequestHeaders(x.request.get(), request.header.c_str(),
                                static_cast<DWORD>(request.header.size()),
                                WINHTTP_ADDREQ_FLAG_ADD)) {
    return Failed(std::move(x), HttpsStep::Header);
  }

  // The body goes out in this one call; WinHTTP derives Content-Length from its length.
  void* body = request.body ? const_cast<BYTE*>(request.body->data()) : WINHTTP_NO_REQUEST_DATA;
  const DWORD length = request.body ? static_cast<DWORD>(request.body->size()) : 0;
  if (!WinHttpSendRequest(x.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, length, length,
                          0)) {
    const DWORD error = GetLastError();
    return Failed(std::move(x), HttpsStep::Send, error);
  }
  // A server that cannot be reached shows only now: WinHttpConnect merely makes a handle.
  if (!WinHttpReceiveResponse(x.request.get(), nullptr)) {
    const DWORD error = GetLastError();
    return Failed(std::move(x), HttpsStep::Receive, error);
  }
  x.status = QueryStatusCode(x.request.get());
  return x;
}

const wchar_t* FailureText(HttpsStep step, const HttpsTexts& texts) {
  switch (step) {
    case HttpsStep::Session: return texts.session;
    case HttpsStep::Connect: return texts.connect;
    case HttpsStep::Request: return texts.request;
    case HttpsStep::Header: return texts.header;
    case HttpsStep::Send: return texts.send;
    case HttpsStep::Receive: return texts.receive;
    case HttpsStep::Done: break;
  }
  return L"";
}

BodyEnd ReadBody(HINTERNET request, uint64_t limit, const BodySink& sink) {
  const std::optional<uint64_t> announced = ResponseContentLength(request);
  uint64_t total = 0;
  std::vector<BYTE> chunk;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return BodyEnd::Broken;
    if (available == 0) break;
    // One byte past the limit is enough to know that the body is too large.
    const uint64_t room = limit - total;
    const DWORD wanted = available <= room ? available : static_cast<DWORD>(room + 1);
    chunk.resize(wanted);
    DWORD read = 0;
    // A failed read ends the body: trying again would spin for as long as the server is silent.
    if (!WinHttpReadData(request, chunk.data(), wanted, &read)) return BodyEnd::Broken;
    if (read == 0) break;
    total += read;
    if (total > limit) return BodyEnd::TooLarge;
    if (!sink(chunk.data(), read)) return BodyEnd::Broken;
  }
  // Fewer bytes than announced means the connection dropped on the way.
  return announced && total != *announced ? BodyEnd::Broken : BodyEnd::Complete;
}

BodyEnd ReadBodyInto(HINTERNET request, std::string& body, uint64_t limit) {
  return ReadBody(request, limit, [&body](const BYTE* data, DWORD size) {
    body.append(reinterpret_cast<const char*>(data), size);
    return true;
  });
}

std::optional<uint64_t> ResponseContentLength(HINTERNET request) {
  wchar_t value[32] = {};
  DWORD size = sizeof value;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           value, &size, WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  return ParseContentLength(value);
}

std::optional<uint64_t> ParseContentLength(const std::wstring& value) {
  if (value.empty() || value.size() > 19) return std::nullopt;  // 19 digits always fit
  uint64_t length = 0;
  for (const wchar_t c : value) {
    if (c < L'0' || c > L'9') return std::nullopt;
    length = length * 10 + static_cast<uint64_t>(c - L'0');
  }
  return length;
}
