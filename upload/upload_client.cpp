#include "upload/upload_client.h"

#include "app/https.h"
#include "app/text.h"
#include "build_config.h"
#include "upload/upload_format.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Snapwren/1.0";
constexpr DWORD kStatusOk = 200;
constexpr DWORD kStatusUnauthorized = 401;
constexpr DWORD kStatusForbidden = 403;
constexpr HttpsTexts kTexts = {
    L"Konnte HTTP-Session nicht erstellen", L"Verbindung zum Server fehlgeschlagen",
    L"Request-Erstellung fehlgeschlagen",   L"Header konnte nicht gesetzt werden",
    L"",  // a failed send names its error value (SendFailedText)
    L"Keine Antwort vom Server"};

UploadResult Failure(std::wstring error) {
  UploadResult result;
  result.error = std::move(error);
  return result;
}

}  // namespace

UploadResult UploadPng(const std::vector<BYTE>& png, const std::wstring& url,
                       const std::wstring& key) {
  return UploadPngTo(url, key, png, kUploadTimeoutMs);
}

UploadResult UploadPngTo(const std::wstring& url, const std::wstring& key,
                         const std::vector<BYTE>& png, DWORD timeoutMs) {
  if (png.empty()) return Failure(L"Keine PNG-Daten vorhanden");
  std::optional<HttpsTarget> target = SecureAddress(url);
  if (!target) return Failure(L"Ungültige Upload-URL");
  // In a header, a line break would end it and anything beyond ASCII arrives re-encoded.
  if (!IsVisibleAscii(key)) return Failure(L"Ungültiger Upload-Schlüssel");

  const std::string boundary = MakeBoundary();
  const std::vector<BYTE> body = BuildMultipartBody(png, boundary);
  HttpsRequest request;
  request.userAgent = kUserAgent;
  request.verb = L"POST";
  request.target = std::move(*target);
  request.timeoutMs = timeoutMs;
  request.header = ContentTypeHeader(boundary) + AuthorizationHeader(key);
  request.body = &body;
  request.acceptAnyCertificate = SNAPWREN_UPLOAD_ALLOW_UNTRUSTED != 0;
  const HttpsExchange exchange = SendHttps(request);
  if (exchange.failed == HttpsStep::Send) return Failure(SendFailedText(exchange.error));
  if (exchange.failed != HttpsStep::Done) return Failure(FailureText(exchange.failed, kTexts));
  if (exchange.status == kStatusUnauthorized || exchange.status == kStatusForbidden) {
    return Failure(L"Upload-Schlüssel abgelehnt");
  }
  if (exchange.status != kStatusOk) return Failure(StatusFailedText(exchange.status));

  // A reply that breaks off is judged by what arrived: a link counts only with its closing quote.
  std::string reply;
  if (ReadBodyInto(exchange.request.get(), reply, kMaxReplyBytes) == BodyEnd::TooLarge) {
    return Failure(L"Antwort des Servers zu groß");
  }
  if (reply.empty()) return Failure(L"Leere Antwort vom Server");

  std::wstring link = ExtractUrlFromJson(reply);
  if (link.empty()) return Failure(L"Konnte URL nicht aus Server-Antwort extrahieren");

  UploadResult result;
  result.success = true;
  result.link = std::move(link);
  result.deleteUrl = ExtractDeleteUrlFromJson(reply);
  return result;
}
