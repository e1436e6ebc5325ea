// The one way Snapwren talks HTTPS: the upload, the version check and the installer download all
// open, send and read through here, each with its own texts, headers and limits. winhttp.h must
// not meet wininet.h in one file, so this stays out of app/win_handles.h.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/win_handles.h"

struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { WinHttpCloseHandle(value); }
};

using UniqueWinHttp = UniqueResource<WinHttpHandleTraits>;

struct HttpsTarget {
  std::wstring host;
  std::wstring path;  // with any query
  INTERNET_PORT port = INTERNET_DEFAULT_HTTPS_PORT;
  bool secure = true;
};

struct HttpsRequest {
  const wchar_t* userAgent = L"";
  const wchar_t* verb = L"GET";
  HttpsTarget target;
  // One limit for every step: resolving, connecting, sending, waiting for the response's header
  // and each read of its body.
  DWORD timeoutMs = 0;
  std::wstring header;                      // one more request header, or none
  const std::vector<BYTE>* body = nullptr;  // sent whole with the request
  bool acceptAnyCertificate = false;
};

// Where an exchange stopped; Done when a response arrived.
enum class HttpsStep { Done, Session, Connect, Request, Header, Send, Receive };

// What each caller tells its user when a step fails.
struct HttpsTexts {
  const wchar_t* session;
  const wchar_t* connect;
  const wchar_t* request;
  const wchar_t* header;
  const wchar_t* send;
  const wchar_t* receive;
};

// The handles are declared in this order so that they close request, connection, session.
struct HttpsExchange {
  HttpsStep failed = HttpsStep::Done;
  DWORD error = 0;   // GetLastError of the failed step
  DWORD status = 0;  // 0 when the response carries none
  UniqueWinHttp session;
  UniqueWinHttp connection;
  UniqueWinHttp request;
};

enum class BodyEnd { Complete, Broken, TooLarge };
constexpr uint64_t kNoBodyLimit = std::numeric_limits<uint64_t>::max();
// Takes each chunk of a body as it arrives; false stops the reading as broken.
using BodySink = std::function<bool(const BYTE* data, DWORD size)>;

// Host, port and path (with its query) of an address; nothing when it is not one.
std::optional<HttpsTarget> CrackUrl(const std::wstring& url);
// The address when it is https:// with a host, the only kind Snapwren sends anything to that the
// user or a server chose; nothing otherwise.
std::optional<HttpsTarget> SecureAddress(const std::wstring& url);
HttpsExchange SendHttps(const HttpsRequest& request);
const wchar_t* FailureText(HttpsStep step, const HttpsTexts& texts);
// Hands the body of an exchange that is Done to `sink`, chunk by chunk, until it ends, breaks off
// or grows past `limit`.
BodyEnd ReadBody(HINTERNET request, uint64_t limit, const BodySink& sink);
BodyEnd ReadBodyInto(HINTERNET request, std::string& body, uint64_t limit);
// The length that a response announces for its body; nothing when it announces none.
std::optional<uint64_t> ResponseContentLength(HINTERNET request);
// A Content-Length header value, or nothing when it is not a plain decimal number.
std::optional<uint64_t> ParseContentLength(const std::wstring& value);
