#include "update/update_download.h"

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <vector>

#include "app/win_handles.h"
#include "update/winhttp_handle.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Snapwren-Updater/1.0";
constexpr wchar_t kUpdateFileName[] = L"Snapwren_Update.exe";
// The download grows under this suffix and takes the installer's name only once complete, so a
// broken download never leaves something that looks like a finished installer.
constexpr wchar_t kPartialSuffix[] = L".part";
constexpr DWORD kReceiveTimeoutMs = 60000;
constexpr DWORD kStatusOk = 200;
constexpr DWORD kHostCapacity = 256;
constexpr DWORD kPathCapacity = 1024;

constexpr wchar_t kErrorTitle[] = L"Update-Fehler";
constexpr wchar_t kBadUrl[] = L"Ungültige Download-URL";
constexpr wchar_t kSessionFailed[] = L"Download-Session fehlgeschlagen";
constexpr wchar_t kConnectFailed[] = L"Verbindung zum Download-Server fehlgeschlagen";
constexpr wchar_t kRequestFailed[] = L"Download-Request fehlgeschlagen";
constexpr wchar_t kDownloadFailed[] = L"Download fehlgeschlagen";
constexpr wchar_t kCreateFailed[] = L"Konnte Update-Datei nicht erstellen";
constexpr wchar_t kStartFailed[] = L"Update konnte nicht gestartet werden";
constexpr wchar_t kReadyTitle[] = L"Update bereit";
constexpr wchar_t kReadyText[] =
    L"Download abgeschlossen!\n\nSnapwren wird jetzt beendet und das Update gestartet.";

struct CrackedUrl {
  std::wstring host;
  std::wstring path;
  bool secure = false;
};

// Host and path only; the path keeps any query because no separate buffer asks for it.
bool CrackDownloadUrl(const std::wstring& url, CrackedUrl& cracked) {
  wchar_t host[kHostCapacity] = {};
  wchar_t path[kPathCapacity] = {};
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostCapacity;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathCapacity;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  cracked.host = host;
  cracked.path = path;
  cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

std::optional<uint64_t> QueryContentLength(HINTERNET request) {
  wchar_t value[32] = {};
  DWORD size = sizeof value;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           value, &size, WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  return ParseContentLength(value);
}

// Removes the partial download unless it was handed over under its final name. Declared before
// the file's owner, so the file is closed by the time it is deleted.
class PartialFile {
 public:
  explicit PartialFile(std::wstring path) : path_(std::move(path)) {}
  ~PartialFile() {
    if (!kept_) DeleteFileW(path_.c_str());
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const std::wstring& path() const { return path_; }
  void keep() { kept_ = true; }

 private:
  std::wstring path_;
  bool kept_ = false;
};

// Copies the body into `file`; false when the transfer breaks off or a write fails.
bool CopyBody(HINTERNET request, HANDLE file, uint64_t& total) {
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return false;
    if (available == 0) return true;
    std::vector<char> buffer(available);
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data(), available, &read)) return false;
    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), read, &written, nullptr) || written != read) return false;
    total += read;
  }
}

// Fetches `url` into `target`. Returns the message for the user, empty on success; every handle
// is closed by the time it returns.
std::wstring DownloadInstaller(const std::wstring& url, const std::wstring& target) {
  CrackedUrl cracked;
  if (!CrackDownloadUrl(url, cracked)) return kBadUrl;

  UniqueInternet session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return kSessionFailed;
  // The port follows the scheme alone; a port written in the address is not used.
  const INTERNET_PORT port =
      cracked.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  UniqueInternet connection(WinHttpConnect(session.get(), cracked.host.c_str(), port, 0));
  if (!connection) return kConnectFailed;
  UniqueInternet request(WinHttpOpenRequest(
      connection.get(), L"GET", cracked.path.c_str(), nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, cracked.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return kRequestFailed;
  DWORD timeout = kReceiveTimeoutMs;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);

  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    return kDownloadFailed;
  }
  // An error page is not an installer: only a 200 body may be offered to start.
  if (QueryStatusCode(request.get()) != kStatusOk) return kDownloadFailed;
  const std::optional<uint64_t> announced = QueryContentLength(request.get());

  PartialFile partial(target + kPartialSuffix);
  uint64_t total = 0;
  {
    UniqueFile file(CreateFileW(partial.path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return kCreateFailed;
    if (!CopyBody(request.get(), file.get(), total)) return kDownloadFailed;
  }
  // Fewer bytes than announced means the connection dropped; an empty body starts nothing.
  if (total == 0 || (announced && total != *announced)) return kDownloadFailed;

  // Replaces an older download of the same name, as a fresh download should.
  if (!MoveFileExW(partial.path().c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return kCreateFailed;
  }
  partial.keep();
  return {};
}

}  // namespace

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(0, slash);
}

std::wstring UpdateFileIn(const std::wstring& folder) {
  return folder + L"\\" + kUpdateFileName;
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

std::wstring UpdateTargetPath() {
  PWSTR downloads = nullptr;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &downloads))) {
    std::wstring target = UpdateFileIn(downloads);
    CoTaskMemFree(downloads);
    return target;
  }
  CoTaskMemFree(downloads);  // the call may hand back a buffer even when it fails
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  return UpdateFileIn(FolderOf(module));
}

bool DownloadAndInstallUpdate(const std::wstring& url, HWND owner) {
  const std::wstring target = UpdateTargetPath();
  const std::wstring error = DownloadInstaller(url, target);
  if (!error.empty()) {
    MessageBoxW(owner, error.c_str(), kErrorTitle, MB_ICONERROR);
    return false;
  }
  if (MessageBoxW(owner, kReadyText, kReadyTitle, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
    return false;  // the installer stays in the Downloads folder for the user
  }
  // The file may have gone while the question was open (a virus scanner, the user). Quitting
  // then would leave the user with neither Snapwren nor the new version.
  const HINSTANCE started =
      ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(started) <= 32) {
    MessageBoxW(owner, kStartFailed, kErrorTitle, MB_ICONERROR);
    return false;
  }
  PostQuitMessage(0);
  return true;
}
