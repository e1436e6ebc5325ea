#include "update/update_check.h"

#include <memory>
#include <vector>

#include "app/tray.h"
#include "build_config.h"
#include "update/json_string.h"
#include "update/version.h"
#include "update/winhttp_handle.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Snapwren-Updater/1.0";
constexpr wchar_t kVersionPath[] = L"/version.json";
constexpr DWORD kReceiveTimeoutMs = 10000;
constexpr DWORD kStatusOk = 200;

// Appends the response body to `body`; false once it grows past kMaxVersionJsonBytes.
bool ReadBodyWithinLimit(HINTERNET request, std::string& body) {
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available) || available == 0) return true;
    std::vector<char> buffer(available);
    DWORD read = 0;
    // A failed read adds nothing; the next query tells whether anything is left to read.
    if (WinHttpReadData(request, buffer.data(), available, &read)) {
      body.append(buffer.data(), read);
    }
    if (body.size() > kMaxVersionJsonBytes) return false;
  }
}

}  // namespace

std::string FetchVersionJson(std::wstring& error) {
  UniqueInternet session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    error = L"WinHttpOpen fehlgeschlagen";
    return {};
  }
  UniqueInternet connection(
      WinHttpConnect(session.get(), kUpdateHost, INTERNET_DEFAULT_HTTPS_PORT, 0));
  if (!connection) {
    error = L"Verbindung fehlgeschlagen";
    return {};
  }
  UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", kVersionPath, nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            WINHTTP_FLAG_SECURE));
  if (!request) {
    error = L"Request erstellen fehlgeschlagen";
    return {};
  }
  DWORD timeout = kReceiveTimeoutMs;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);

  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0)) {
    error = L"Request senden fehlgeschlagen";
    return {};
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) {
    error = L"Keine Antwort vom Server";
    return {};
  }
  const DWORD status = QueryStatusCode(request.get());
  if (status != kStatusOk) {
    error = L"HTTP Status: " + std::to_wstring(status);
    return {};
  }

  std::string body;
  if (!ReadBodyWithinLimit(request.get(), body)) {
    // A body this large cannot be the version document; reading on would only fill memory.
    error = L"Ungültige Serverantwort";
    return {};
  }
  return body;
}

UpdateInfo ReadUpdateInfo(const std::string& body, const std::wstring& fetchError) {
  UpdateInfo info;
  if (body.empty()) {
    info.error = fetchError.empty() ? L"Keine Antwort vom Update-Server" : fetchError;
    return info;
  }
  std::wstring version = ExtractJsonString(body, "version");
  std::wstring url = ExtractJsonString(body, "url");
  std::wstring changelog = ExtractJsonString(body, "changelog");
  if (version.empty()) {
    info.error = L"Ungültige Serverantwort";
    return info;
  }
  info.available = IsNewerVersion(kAppVersion, version);
  info.version = std::move(version);
  info.url = std::move(url);
  info.changelog = std::move(changelog);
  return info;
}

UpdateInfo CheckForUpdate() {
  std::wstring error;
  const std::string body = FetchVersionJson(error);
  return ReadUpdateInfo(body, error);
}

DWORD WINAPI UpdateCheckThread(LPVOID parameter) {
  std::unique_ptr<HWND> cell(static_cast<HWND*>(parameter));
  try {
    UpdateInfo info = CheckForUpdate();
    // At start-up only good news is worth interrupting the user for; failures stay silent.
    if (!info.available) return 0;
    auto record = std::make_unique<UpdateInfo>(std::move(info));
    if (PostMessageW(*cell, WM_UPDATE_AVAILABLE, 0, reinterpret_cast<LPARAM>(record.get()))) {
      (void)record.release();  // the tray window owns it from here on
    }
  } catch (...) {
    // Out of memory on a background check: nothing to report, Snapwren runs on.
  }
  return 0;
}
