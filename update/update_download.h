// Downloading the installer of a newer version, on a worker thread that never touches a window.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <mutex>
#include <string>

#include "app/https.h"
#include "app/win_handles.h"
#include "update/update_signature.h"

constexpr uint64_t kUnknownSize = std::numeric_limits<uint64_t>::max();

// One download, shared by the UI thread and its worker. What the worker reads is set before it
// starts; after that the two meet only in the atomics and under fileLock.
struct DownloadJob {
  UINT64 id = 0;
  std::wstring url;
  Sha256Digest sha256{};
  uint64_t length = 0;  // signed: not one byte more is read
  std::wstring target;  // the installer's final path
  // Milliseconds on a clock that only goes forward; a test's own clock decides in its place.
  std::function<ULONGLONG()> now = GetTickCount64;
  ULONGLONG deadline = 0;  // on that clock: the download ends here, complete or not
  HWND window = nullptr;  // receives the progress and the outcome
  std::atomic<bool> cancelled{false};
  std::atomic<uint64_t> received{0};
  std::atomic<uint64_t> total{kUnknownSize};
  // A progress message waits in the window's queue: the worker posts no second one meanwhile.
  std::atomic<bool> progressPosted{false};
  // Creating and renaming the partial file on the worker against the cancel that deletes it.
  std::mutex fileLock;
};

// Posted to the download window as WM_UPDATE_DOWNLOADED; the window owns it from then on.
struct DownloadOutcome {
  UINT64 downloadId = 0;
  std::wstring error;  // what to tell the user; empty when the installer is in place
  // The verified installer, held so that nothing can change or replace it until it is started.
  UniqueFile installer;
};

// The download grows under this name and takes the installer's only once complete and verified.
std::wstring PartialPathOf(const std::wstring& target);
// The partial file, opened for the worker; none once the download is cancelled.
UniqueFile CreatePartialFile(DownloadJob& job);
// Stops the download for good; its partial file goes, at once or as the worker lets go of it.
void CancelDownload(DownloadJob& job);
// Fetches job's installer into job.target and, once its SHA-256 matches, hands it over open in
// `installer`. Returns the message for the user, empty on success; every handle of the exchange
// is closed and a partial or altered file deleted by then.
std::wstring DownloadInstaller(DownloadJob& job, UniqueFile& installer);
// Writes one chunk of the download to `file`; false once the download is cancelled or its time
// is up.
bool StoreChunk(DownloadJob& job, HANDLE file, const BYTE* data, DWORD size);
// How long a download of `length` bytes may take: proportional to it, 2 to 30 minutes.
ULONGLONG DownloadDeadlineMs(uint64_t length);
// Host and path of an https:// address with a host, fetched from port 443; nothing otherwise.
std::optional<HttpsTarget> DownloadAddress(const std::wstring& url);
// The file at `path` open for reading only, shared for reading only, once its SHA-256 is
// `sha256`; none when it cannot be read or does not match.
UniqueFile OpenVerifiedInstaller(const std::wstring& path, const Sha256Digest& sha256);
// Thread procedure; its argument is a heap std::shared_ptr<DownloadJob> that it frees.
DWORD WINAPI DownloadWorker(LPVOID parameter);

// Where the installer goes: Snapwren's own folder under %LOCALAPPDATA%, else the folder of
// Snapwren's own executable.
std::wstring UpdateTargetPath();
// "<folder>\Snapwren_Update.exe".
std::wstring UpdateFileIn(const std::wstring& folder);
// The path cut before its last backslash; the whole path when it has none.
std::wstring FolderOf(const std::wstring& path);
