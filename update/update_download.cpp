#include "update/update_download.h"

#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/https.h"
#include "app/win_handles.h"
#include "update/update_check.h"
#include "update/update_signature.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Snapwren-Updater/1.0";
constexpr wchar_t kUpdateFileName[] = L"Snapwren_Update.exe";
// The download grows under this suffix and takes the installer's name only once complete and
// verified, so a broken or altered download never leaves something that looks like an installer.
constexpr wchar_t kPartialSuffix[] = L".part";
constexpr DWORD kTimeoutMs = 60000;
constexpr DWORD kStatusOk = 200;

constexpr wchar_t kErrorTitle[] = L"Update-Fehler";
constexpr wchar_t kBadUrl[] = L"Ungültige Download-URL";
constexpr wchar_t kDownloadFailed[] = L"Download fehlgeschlagen";
constexpr wchar_t kRequestFailed[] = L"Download-Request fehlgeschlagen";
constexpr HttpsTexts kTexts = {L"Download-Session fehlgeschlagen",
                               L"Verbindung zum Download-Server fehlgeschlagen",
                               kRequestFailed,
                               kRequestFailed,
                               kDownloadFailed,
                               kDownloadFailed};
constexpr wchar_t kCreateFailed[] = L"Konnte Update-Datei nicht erstellen";
constexpr wchar_t kAltered[] =
    L"Der Download ist beschädigt oder wurde verändert. Das Update wurde nicht gestartet.";
constexpr wchar_t kStartFailed[] = L"Update konnte nicht gestartet werden";
constexpr wchar_t kReadyTitle[] = L"Update bereit";
constexpr wchar_t kReadyText[] =
    L"Download abgeschlossen!\n\nSnapwren wird jetzt beendet und das Update gestartet.";

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

// Fetches the installer into `target` once its SHA-256 equals `expected`. Returns the message for
// the user, empty on success; every handle is closed and a partial file deleted by then.
std::wstring DownloadInstaller(const std::wstring& url, const Sha256Digest& expected,
                               const std::wstring& target) {
  std::optional<HttpsTarget> where = CrackUrl(url);
  if (!where) return kBadUrl;
  // The port follows the scheme alone; a port written in the address is not used.
  where->port = where->secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  HttpsRequest request;
  request.userAgent = kUserAgent;
  request.target = std::move(*where);
  request.timeoutMs = kTimeoutMs;
  const HttpsExchange exchange = SendHttps(request);
  if (exchange.failed != HttpsStep::Done) return FailureText(exchange.failed, kTexts);
  // An error page is not an installer: only a 200 body may be offered to start.
  if (exchange.status != kStatusOk) return kDownloadFailed;

  PartialFile partial(target + kPartialSuffix);
  Sha256 hash;
  uint64_t total = 0;
  {
    UniqueFile file(CreateFileW(partial.path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return kCreateFailed;
    // Hashed as it is written: the bytes in the file are the bytes that are checked.
    const BodyEnd end = ReadBody(exchange.request.get(), kNoBodyLimit,
                                 [&](const BYTE* data, DWORD size) {
                                   DWORD written = 0;
                                   total += size;
                                   return WriteFile(file.get(), data, size, &written, nullptr) &&
                                          written == size && hash.Add(data, size);
                                 });
    // An empty body starts nothing.
    if (end != BodyEnd::Complete || total == 0) return kDownloadFailed;
  }
  const std::optional<Sha256Digest> digest = hash.Finish();
  if (!digest || *digest != expected) return kAltered;

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

bool DownloadAndInstallUpdate(const UpdateInfo& update, HWND owner) {
  const std::wstring target = UpdateTargetPath();
  const std::wstring error = DownloadInstaller(update.url, update.sha256, target);
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
