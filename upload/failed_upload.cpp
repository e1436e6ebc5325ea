#include "upload/failed_upload.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>

#include "app/notifier.h"
#include "app/text.h"
#include "app/win_handles.h"

namespace {

constexpr wchar_t kFolderName[] = L"Snapwren";
constexpr wchar_t kFailedTitle[] = L"Upload fehlgeschlagen!";
constexpr wchar_t kKeptIntro[] = L"\nScreenshot gespeichert unter:\n";
constexpr wchar_t kNotKept[] = L"\nDer Screenshot konnte nicht gespeichert werden.";
constexpr wchar_t kEllipsis[] = L"\u2026";
// Within the second, names are numbered; past this many the folder is hardly usable anyway.
constexpr int kMaxAttempts = 100;
// szInfo of NOTIFYICONDATAW holds 255 characters and its terminator.
constexpr size_t kBalloonCapacity = 255;
constexpr size_t kReasonCapacity = 80;

std::wstring PicturesFolder() {
  // The call may hand back a buffer even when it fails, so it is owned either way.
  UniqueCoTaskString folder;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_Pictures, KF_FLAG_CREATE, nullptr, folder.put());
  if (FAILED(hr) || !folder) return {};
  return folder.get();
}

bool WriteWhole(HANDLE file, const std::vector<BYTE>& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const size_t left = bytes.size() - written;
    const DWORD chunk = static_cast<DWORD>(left < 0x40000000u ? left : 0x40000000u);
    DWORD done = 0;
    if (!WriteFile(file, bytes.data() + written, chunk, &done, nullptr) || done == 0) return false;
    written += done;
  }
  return true;
}

// Creates a new file (never replacing one) and writes all of png into it.
bool WriteNewFile(const std::wstring& path, const std::vector<BYTE>& png, DWORD& error) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = GetLastError();
    return false;
  }
  error = ERROR_SUCCESS;
  if (WriteWhole(file.get(), png)) return true;
  // A half-written PNG would look like a kept screenshot that isn't one.
  file.reset();
  DeleteFileW(path.c_str());
  return false;
}

}  // namespace

std::wstring FailedUploadFileName(const SYSTEMTIME& time, int attempt) {
  wchar_t name[64];
  swprintf(name, ARRAYSIZE(name), L"Snapwren_%04u-%02u-%02u_%02u-%02u-%02u", time.wYear,
           time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
  std::wstring result = name;
  if (attempt >= 2) result += L"_" + std::to_wstring(attempt);
  return result + L".png";
}

std::wstring KeepFailedUpload(const std::vector<BYTE>& png) {
  const std::wstring pictures = PicturesFolder();
  if (pictures.empty()) return {};
  return KeepFailedUploadIn(pictures + L"\\" + kFolderName, png);
}

std::wstring KeepFailedUploadIn(const std::wstring& folder, const std::vector<BYTE>& png) {
  if (png.empty()) return {};
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return {};
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
    const std::wstring path = folder + L"\\" + FailedUploadFileName(now, attempt);
    DWORD error = ERROR_SUCCESS;
    if (WriteNewFile(path, png, error)) return path;
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

std::wstring FailureBalloonText(const std::wstring& reason, const std::wstring& keptPath) {
  // The reason is one of the upload's own short texts; the path gets the rest of the room.
  const std::wstring head =
      reason.empty() ? std::wstring(kFailedTitle)
                     : std::wstring(kFailedTitle) + L"\n" + TruncateUtf16(reason, kReasonCapacity);
  if (keptPath.empty()) return head + kNotKept;
  const std::wstring intro = head + kKeptIntro;
  if (intro.size() + keptPath.size() <= kBalloonCapacity) return intro + keptPath;
  // Too long for the balloon: the file name and the folders nearest to it tell the most, so the
  // path is cut at its start, on a folder boundary where one is in reach.
  const size_t room = kBalloonCapacity - intro.size() - 1;
  std::wstring tail = keptPath.substr(keptPath.size() - room);
  const size_t separator = tail.find(L'\\');
  if (separator != std::wstring::npos && separator + 1 < tail.size()) {
    tail = tail.substr(separator);
  } else if (IsLowSurrogate(tail.front())) {
    tail.erase(0, 1);
  }
  return intro + kEllipsis + tail;
}
