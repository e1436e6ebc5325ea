#include "update/update_download.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "app/https.h"
#include "app/messages.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Snapwren-Updater/1.0";
constexpr wchar_t kUpdateFileName[] = L"Snapwren_Update.exe";
// A broken, altered or cancelled download never leaves something that looks like an installer.
constexpr wchar_t kPartialSuffix[] = L".part";
constexpr DWORD kTimeoutMs = 60000;
constexpr DWORD kStatusOk = 200;
// The slowest line a user would still wait on, and the bounds that keep a small download from
// failing on a short stall and a large one from being held open for hours.
constexpr uint64_t kSlowestBytesPerSecond = 32 * 1024;
constexpr ULONGLONG kShortestDeadlineMs = 2 * 60 * 1000;
constexpr ULONGLONG kLongestDeadlineMs = 30 * 60 * 1000;
constexpr DWORD kHashChunk = 64 * 1024;

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
constexpr wchar_t kTooSlow[] = L"Der Download hat zu lange gedauert und wurde abgebrochen.";

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

// The window hears of new bytes through one message at a time: a fast download would otherwise
// fill its queue faster than it repaints.
void PostProgress(DownloadJob& job) {
  if (job.progressPosted.exchange(true)) return;
  if (!PostMessageW(job.window, WM_UPDATE_DOWNLOAD_PROGRESS, 0, 0)) job.progressPosted = false;
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
  // Not Downloads, where every program of the user and the browser put files: a folder of
  // Snapwren's own. The call may hand back a buffer even when it fails: the owner frees it.
  UniqueCoTaskString local;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr,
                                     local.put()))) {
    const std::wstring folder = std::wstring(local.get()) + L"\\Snapwren";
    CreateDirectoryW(folder.c_str(), nullptr);  // exists after the first update
    return UpdateFileIn(folder);
  }
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  return UpdateFileIn(FolderOf(module));
}

std::wstring PartialPathOf(const std::wstring& target) { return target + kPartialSuffix; }

UniqueFile CreatePartialFile(DownloadJob& job) {
  const std::lock_guard<std::mutex> lock(job.fileLock);
  if (job.cancelled) return {};
  // Shared for deleting, so that a cancel on the UI thread can remove the file while the worker
  // still holds it, waiting for a silent server.
  return UniqueFile(CreateFileW(PartialPathOf(job.target).c_str(), GENERIC_WRITE,
                                FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
}

void CancelDownload(DownloadJob& job) {
  const std::lock_guard<std::mutex> lock(job.fileLock);
  job.cancelled = true;
  // A file the worker still holds is only marked: it goes when the worker closes it, or when
  // the process ends, whichever comes first.
  DeleteFileW(PartialPathOf(job.target).c_str());
}

ULONGLONG DownloadDeadlineMs(uint64_t length) {
  if (length / kSlowestBytesPerSecond >= kLongestDeadlineMs / 1000) return kLongestDeadlineMs;
  return std::max(kShortestDeadlineMs, length * 1000 / kSlowestBytesPerSecond);
}

std::optional<HttpsTarget> DownloadAddress(const std::wstring& url) {
  // In clear text anyone on the way would learn who fetches which release, and could stall it.
  std::optional<HttpsTarget> where = SecureAddress(url);
  if (!where) return std::nullopt;
  // A port written in the address is not used.
  where->port = INTERNET_DEFAULT_HTTPS_PORT;
  return where;
}

bool StoreChunk(DownloadJob& job, HANDLE file, const BYTE* data, DWORD size) {
  if (job.cancelled || job.now() >= job.deadline) return false;
  DWORD written = 0;
  if (!WriteFile(file, data, size, &written, nullptr) || written != size) return false;
  job.received += size;
  PostProgress(job);
  return true;
}

UniqueFile OpenVerifiedInstaller(const std::wstring& path, const Sha256Digest& sha256) {
  // Shared for reading only: no one can write, rename or delete the file while it is held, and
  // CreateProcess, which opens it for reading and executing, still can.
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  Sha256 hash;
  std::vector<BYTE> chunk(kHashChunk);
  DWORD read = 0;
  while (ReadFile(file.get(), chunk.data(), kHashChunk, &read, nullptr) && read > 0) {
    hash.Add(chunk.data(), read);
  }
  const std::optional<Sha256Digest> digest = hash.Finish();
  if (!digest || *digest != sha256) return {};
  return file;
}

std::wstring DownloadInstaller(DownloadJob& job, UniqueFile& installer) {
  std::optional<HttpsTarget> where = DownloadAddress(job.url);
  if (!where) return kBadUrl;
  HttpsRequest request;
  request.userAgent = kUserAgent;
  request.target = std::move(*where);
  request.timeoutMs = kTimeoutMs;
  job.deadline = job.now() + DownloadDeadlineMs(job.length);
  const HttpsExchange exchange = SendHttps(request);
  if (exchange.failed != HttpsStep::Done) return FailureText(exchange.failed, kTexts);
  // An error page is not an installer: only a 200 body may be offered to start.
  if (exchange.status != kStatusOk) return kDownloadFailed;
  job.total = job.length;
  PostProgress(job);

  PartialFile partial(PartialPathOf(job.target));
  {
    const UniqueFile file = CreatePartialFile(job);
    if (!file) return kCreateFailed;
    // The signed length bounds what a hostile host can make Snapwren store.
    const BodyEnd end = ReadBody(exchange.request.get(), job.length,
                                 [&](const BYTE* data, DWORD size) {
                                   return StoreChunk(job, file.get(), data, size);
                                 });
    if (end == BodyEnd::TooLarge) return kAltered;
    if (end != BodyEnd::Complete) return job.now() >= job.deadline ? kTooSlow : kDownloadFailed;
    // An empty body starts nothing.
    if (job.received == 0) return kDownloadFailed;
  }

  {
    const std::lock_guard<std::mutex> lock(job.fileLock);
    if (job.cancelled) return kDownloadFailed;
    // Replaces an older download of the same name, as a fresh download should.
    if (!MoveFileExW(partial.path().c_str(), job.target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      return kCreateFailed;
    }
    partial.keep();
  }
  // Checked as it is held from here until it is started: the bytes checked are the bytes run.
  installer = OpenVerifiedInstaller(job.target, job.sha256);
  if (!installer) {
    DeleteFileW(job.target.c_str());
    return kAltered;
  }
  return {};
}

DWORD WINAPI DownloadWorker(LPVOID parameter) {
  try {
    const std::unique_ptr<std::shared_ptr<DownloadJob>> cell(
        static_cast<std::shared_ptr<DownloadJob>*>(parameter));
    DownloadJob& job = **cell;
    auto outcome = std::make_unique<DownloadOutcome>();
    outcome->downloadId = job.id;
    outcome->error = DownloadInstaller(job, outcome->installer);
    // A cancelled download has no window left to tell.
    if (job.cancelled) return 0;
    // The window owns the outcome once the post succeeds; a failed post leaves it with us.
    if (PostMessageW(job.window, WM_UPDATE_DOWNLOADED, 0,
                     reinterpret_cast<LPARAM>(outcome.get()))) {
      (void)outcome.release();
    }
  } catch (...) {
    // Out of memory on a worker: nothing sensible is left to report it with.
  }
  return 0;
}
