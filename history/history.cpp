#include "history/history.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "app/app.h"
#include "app/clipboard.h"
#include "app/clipboard_dib.h"
#include "app/dpi.h"
#include "app/gdiplus_handles.h"
#include "app/https.h"
#include "app/messages.h"
#include "app/notifier.h"
#include "app/png.h"
#include "app/worker.h"
#include "build_config.h"
#include "settings/labels.h"
#include "settings/settings.h"

namespace {

constexpr wchar_t kIndexName[] = L"index.txt";
// A damaged index is kept for whoever wants to look into it, and replaced by the next one.
constexpr wchar_t kDamagedIndexName[] = L"index.damaged.txt";
constexpr wchar_t kUserAgent[] = L"Snapwren/1.0";
constexpr DWORD kDeleteTimeoutMs = 30000;
constexpr SIZE kThumbnailSize = {64, 40};  // at 96 DPI, the picture fitted inside
constexpr UINT kActionsPerEntry = 8;

enum Action : UINT { kCopyLink, kOpenLink, kDeleteUpload, kOpenFile, kShowFile, kCopyAgain };

// The entries with the menu's pictures, touched by the UI thread only.
struct HistoryStore {
  std::wstring folder;
  std::vector<HistoryEntry> entries;  // newest first
  std::vector<std::pair<uint64_t, UniqueBitmap>> thumbnails;
  // Pictures taken out of the history while a menu may still show them; freed with the next.
  std::vector<UniqueBitmap> retired;
  // The entry of each submenu of the menu last shown, by its position.
  std::vector<uint64_t> menuIds;
  uint64_t lastId = 0;
  // Counts clearings: a picture that a worker stored for an earlier history is not taken in.
  uint64_t generation = 0;
};
HistoryStore g_history;

struct PictureJob {
  HistoryEntry entry;
  std::wstring folder;
  uint64_t generation = 0;
  SIZE thumbnailSize = {};
  std::vector<BYTE> png;  // or, when empty, made from picture
  UniqueBitmap picture;
  UniqueBitmap thumbnail;
};

struct ThumbnailJob {
  std::wstring folder;
  uint64_t generation = 0;
  SIZE thumbnailSize = {};
  std::vector<uint64_t> ids;
  std::vector<std::pair<uint64_t, UniqueBitmap>> made;
};

struct DeleteJob {
  uint64_t id = 0;
  std::wstring url;
  bool deleted = false;
  std::wstring reason;
};

std::wstring PicturePath(const std::wstring& folder, uint64_t id) {
  return folder + L"\\" + HistoryPictureName(id);
}

int64_t Now() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ull) - kUnixEpochInFileTimeSeconds;
}

bool English() { return AppSettings.Language != 0; }

// The picture fitted into size, keeping its proportions; null when it cannot be made.
UniqueBitmap MakeThumbnail(Gdiplus::GpImage* image, SIZE size) {
  UINT width = 0;
  UINT height = 0;
  if (!image || gp::GdipGetImageWidth(image, &width) != Gdiplus::Ok ||
      gp::GdipGetImageHeight(image, &height) != Gdiplus::Ok || width == 0 || height == 0) {
    return {};
  }
  const double scale = std::min(static_cast<double>(size.cx) / width,
                                static_cast<double>(size.cy) / height);
  const UINT thumbWidth = std::max(1u, static_cast<UINT>(width * std::min(scale, 1.0)));
  const UINT thumbHeight = std::max(1u, static_cast<UINT>(height * std::min(scale, 1.0)));
  Gdiplus::GpImage* thumb = nullptr;
  if (gp::GdipGetImageThumbnail(image, thumbWidth, thumbHeight, &thumb, nullptr, nullptr) !=
      Gdiplus::Ok) {
    return {};
  }
  const UniqueGpImage owned(thumb);
  HBITMAP bitmap = nullptr;
  gp::GdipCreateHBITMAPFromBitmap(reinterpret_cast<Gdiplus::GpBitmap*>(thumb), &bitmap,
                                  0xFFFFFFFFu);
  return UniqueBitmap(bitmap);
}

UniqueGpImage ImageFromPng(const std::vector<BYTE>& png) {
  return DecodePng(png.data(), png.size());
}

UniqueGpImage ImageFromFile(const std::wstring& path) {
  // Read through a copy in memory: a file image stays locked until the image is gone. Shared for
  // deletion, so that clearing the history while a worker reads a picture still removes it.
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > static_cast<LONGLONG>(kMaxHistoryBytes)) {
    return {};
  }
  std::vector<BYTE> png(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.get(), png.data(), static_cast<DWORD>(png.size()), &read, nullptr) ||
      read != png.size()) {
    return {};
  }
  return ImageFromPng(png);
}

bool WriteWholeFile(const std::wstring& path, const std::vector<BYTE>& bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr) &&
                  written == bytes.size();
  file.reset();
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

// Posts job to the tray window, which owns it once the post succeeded.
template <typename Job>
void PostToTray(UINT message, std::unique_ptr<Job>& job) {
  if (g_trayWnd && PostMessageW(g_trayWnd, message, 0, reinterpret_cast<LPARAM>(job.get()))) {
    static_cast<void>(job.release());
  }
}

DWORD WINAPI StorePicture(LPVOID parameter) {
  try {
    std::unique_ptr<PictureJob> job(static_cast<PictureJob*>(parameter));
    if (job->png.empty() && job->picture) job->png = EncodePng(job->picture.get());
    job->picture.reset();
    const std::wstring path = PicturePath(job->folder, job->entry.id);
    if (!job->png.empty() && WriteWholeFile(path, job->png)) {
      job->entry.pictureBytes = job->png.size();
      const UniqueGpImage image = ImageFromPng(job->png);
      job->thumbnail = MakeThumbnail(image.get(), job->thumbnailSize);
    }
    job->png.clear();
    job->png.shrink_to_fit();
    PostToTray(WM_HISTORY_RECORDED, job);
    // Not taken in: the picture has no entry to belong to.
    if (job) DeleteFileW(path.c_str());
  } catch (...) {
  }
  return 0;
}

DWORD WINAPI MakeThumbnails(LPVOID parameter) {
  try {
    std::unique_ptr<ThumbnailJob> job(static_cast<ThumbnailJob*>(parameter));
    for (const uint64_t id : job->ids) {
      const UniqueGpImage image = ImageFromFile(PicturePath(job->folder, id));
      UniqueBitmap thumbnail = MakeThumbnail(image.get(), job->thumbnailSize);
      if (thumbnail) job->made.emplace_back(id, std::move(thumbnail));
    }
    PostToTray(WM_HISTORY_THUMBNAILS, job);
  } catch (...) {
  }
  return 0;
}

std::wstring DeleteFailureText(const HttpsExchange& exchange) {
  constexpr HttpsTexts kTexts = {L"Konnte HTTP-Session nicht erstellen",
                                 L"Verbindung zum Server fehlgeschlagen",
                                 L"Request-Erstellung fehlgeschlagen",
                                 L"Request-Erstellung fehlgeschlagen",
                                 L"Server nicht erreichbar",
                                 L"Keine Antwort vom Server"};
  if (exchange.failed != HttpsStep::Done) return FailureText(exchange.failed, kTexts);
  switch (exchange.status) {
    case 403:
      return L"Der Server verweigert das Löschen";
    case 429:
      return L"Zu viele Anfragen, bitte später erneut versuchen";
    default:
      return L"Server antwortete mit Status " + std::to_wstring(exchange.status);
  }
}

DWORD WINAPI DeleteUpload(LPVOID parameter) {
  try {
    std::unique_ptr<DeleteJob> job(static_cast<DeleteJob*>(parameter));
    std::optional<HttpsTarget> target = SecureAddress(job->url);
    if (!target) {
      job->reason = L"Ungültige Lösch-Adresse";
    } else {
      HttpsRequest request;
      request.userAgent = kUserAgent;
      request.verb = L"DELETE";
      request.target = std::move(*target);
      request.timeoutMs = kDeleteTimeoutMs;
      request.acceptAnyCertificate = SNAPWREN_UPLOAD_ALLOW_UNTRUSTED != 0;
      const HttpsExchange exchange = SendHttps(request);
      // Gone already (deleted elsewhere, or expired): what the user asked for is true.
      job->deleted = exchange.failed == HttpsStep::Done &&
                     (exchange.status == 200 || exchange.status == 404);
      if (!job->deleted) job->reason = DeleteFailureText(exchange);
    }
    PostToTray(WM_HISTORY_DELETED, job);
  } catch (...) {
  }
  return 0;
}

SIZE ThumbnailSize() {
  const UINT dpi = DpiForMonitor(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY));
  return {Scale(kThumbnailSize.cx, dpi), Scale(kThumbnailSize.cy, dpi)};
}

HistoryEntry* FindEntry(uint64_t id) {
  for (HistoryEntry& entry : g_history.entries) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

HBITMAP FindThumbnail(uint64_t id) {
  for (const auto& [entryId, bitmap] : g_history.thumbnails) {
    if (entryId == id) return bitmap.get();
  }
  return nullptr;
}

void RetireThumbnail(uint64_t id) {
  auto& thumbnails = g_history.thumbnails;
  for (auto it = thumbnails.begin(); it != thumbnails.end(); ++it) {
    if (it->first == id) {
      g_history.retired.push_back(std::move(it->second));
      thumbnails.erase(it);
      return;
    }
  }
}

// Empties the history in memory only; pictures that workers are still storing are not taken in.
void ForgetHistory() {
  ++g_history.generation;
  g_history.entries.clear();
  for (auto& [id, bitmap] : g_history.thumbnails) g_history.retired.push_back(std::move(bitmap));
  g_history.thumbnails.clear();
}

bool SaveIndex() {
  return ReplaceFileContent(g_history.folder + L"\\" + kIndexName,
                            FormatHistoryIndex(g_history.entries));
}

void Record(HistoryEntry entry, std::vector<BYTE> png, UniqueBitmap picture) {
  if (!AppSettings.SaveHistory || g_history.folder.empty()) return;
  auto job = std::make_unique<PictureJob>();
  entry.time = Now();
  entry.id = std::max(g_history.lastId + 1, static_cast<uint64_t>(entry.time) * 1000);
  g_history.lastId = entry.id;
  job->entry = std::move(entry);
  job->folder = g_history.folder;
  job->generation = g_history.generation;
  job->thumbnailSize = ThumbnailSize();
  job->png = std::move(png);
  job->picture = std::move(picture);
  CreateDirectoryW(g_history.folder.c_str(), nullptr);
  // Without a worker the result goes unrecorded; the result itself is not affected.
  StartWorker(StorePicture, job);
}

void OnRecorded(std::unique_ptr<PictureJob> job) {
  if (job->generation != g_history.generation || !AppSettings.SaveHistory) {
    DeleteFileW(PicturePath(job->folder, job->entry.id).c_str());
    return;
  }
  auto& entries = g_history.entries;
  const auto place = std::find_if(entries.begin(), entries.end(), [&](const HistoryEntry& e) {
    return e.id < job->entry.id;
  });
  entries.insert(place, job->entry);
  if (job->thumbnail) g_history.thumbnails.emplace_back(job->entry.id, std::move(job->thumbnail));
  for (const HistoryEntry& removed : TrimHistory(entries, kMaxHistoryEntries, kMaxHistoryBytes)) {
    DeleteFileW(PicturePath(g_history.folder, removed.id).c_str());
    RetireThumbnail(removed.id);
  }
  SaveIndex();
}

void OnThumbnails(std::unique_ptr<ThumbnailJob> job) {
  if (job->generation != g_history.generation) return;
  for (auto& [id, bitmap] : job->made) {
    if (FindEntry(id) && !FindThumbnail(id)) g_history.thumbnails.emplace_back(id, std::move(bitmap));
  }
}

void OnDeleted(std::unique_ptr<DeleteJob> job) {
  HistoryEntry* entry = FindEntry(job->id);
  if (!job->deleted) {
    ShowTrayNotification(kAppTitle, L"Löschen fehlgeschlagen:\n" + job->reason);
    return;
  }
  if (entry) {
    entry->deleted = true;
    entry->link.clear();
    entry->deleteUrl.clear();
    SaveIndex();
  }
  ShowTrayNotification(kAppTitle, L"Screenshot vom Server gelöscht.");
}

void AppendItem(HMENU menu, UINT id, const char* label) {
  AppendMenuW(menu, MF_STRING, id, GetLabel(label));
}

// The submenu of one entry: what can still be done with its result.
UniqueMenu EntryMenu(const HistoryEntry& entry, UINT firstId) {
  UniqueMenu menu(CreatePopupMenu());
  if (!menu) return menu;
  switch (entry.kind) {
    case HistoryKind::Uploaded:
      if (entry.deleted || entry.link.empty()) {
        AppendMenuW(menu.get(), MF_STRING | MF_GRAYED, 0, GetLabel("history_deleted"));
        break;
      }
      AppendItem(menu.get(), firstId + kCopyLink, "history_copy_link");
      AppendItem(menu.get(), firstId + kOpenLink, "history_open_link");
      if (!entry.deleteUrl.empty()) {
        AppendItem(menu.get(), firstId + kDeleteUpload, "history_delete");
      }
      break;
    case HistoryKind::Saved:
      AppendItem(menu.get(), firstId + kOpenFile, "history_open");
      AppendItem(menu.get(), firstId + kShowFile, "history_show");
      break;
    case HistoryKind::Copied:
      AppendItem(menu.get(), firstId + kCopyAgain, "history_copy_again");
      break;
  }
  return menu;
}

void OpenWithShell(const std::wstring& target, const wchar_t* parameters) {
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", target.c_str(), parameters, nullptr, SW_SHOWNORMAL));
  if (result <= 32) ShowTrayNotification(kAppTitle, L"Konnte nicht geöffnet werden:\n" + target);
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CopyAgain(const HistoryEntry& entry) {
  const UniqueGpImage image = ImageFromFile(PicturePath(g_history.folder, entry.id));
  HBITMAP raw = nullptr;
  if (image) {
    gp::GdipCreateHBITMAPFromBitmap(reinterpret_cast<Gdiplus::GpBitmap*>(image.get()), &raw,
                                    0xFF000000u);
  }
  const UniqueBitmap bitmap(raw);
  if (!bitmap) {
    ShowTrayNotification(kAppTitle, L"Das Bild ist nicht mehr vorhanden.");
  } else if (PutBitmapOnClipboard(OwnerWindow(), bitmap.get())) {
    ShowTrayNotification(L"Screenshot kopiert!", L"Bild ist in der Zwischenablage.");
  } else {
    ShowTrayNotification(L"Fehler", L"Konnte Bild nicht kopieren.");
  }
}

void AskAndDelete(const HistoryEntry& entry) {
  const std::wstring question = std::wstring(GetLabel("history_delete_question")) + L"\n" + entry.link;
  if (MessageBoxW(OwnerWindow(), question.c_str(), kAppTitle, MB_YESNO | MB_ICONQUESTION) !=
      IDYES) {
    return;
  }
  auto job = std::make_unique<DeleteJob>();
  job->id = entry.id;
  job->url = entry.deleteUrl;
  if (!StartWorker(DeleteUpload, job)) {
    ShowTrayNotification(kAppTitle, L"Löschen fehlgeschlagen.");
  }
}

void RunAction(const HistoryEntry& entry, UINT action) {
  switch (action) {
    case kCopyLink:
      if (CopyTextToClipboard(OwnerWindow(), entry.link)) {
        ShowTrayNotification(kAppTitle, L"Link in Zwischenablage kopiert!");
      } else {
        ShowTrayNotification(kAppTitle, L"Link konnte nicht in die Zwischenablage kopiert werden.");
      }
      break;
    case kOpenLink:
      // Only what a browser should open: a server's reply never reaches the shell otherwise.
      if (!SafeLink(entry.link).empty()) OpenWithShell(entry.link, nullptr);
      break;
    case kDeleteUpload:
      AskAndDelete(entry);
      break;
    case kOpenFile:
      if (FileExists(entry.path)) {
        OpenWithShell(entry.path, nullptr);
      } else {
        ShowTrayNotification(kAppTitle, L"Die Datei gibt es nicht mehr:\n" + entry.path);
      }
      break;
    case kShowFile: {
      const std::wstring select = L"/select,\"" + entry.path + L"\"";
      OpenWithShell(L"explorer.exe", select.c_str());
      break;
    }
    case kCopyAgain:
      CopyAgain(entry);
      break;
    default:
      break;
  }
}

}  // namespace

std::wstring GetHistoryFolder() {
  wchar_t local[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local))) {
    return {};
  }
  std::wstring folder = std::wstring(local) + L"\\Snapwren";
  CreateDirectoryW(folder.c_str(), nullptr);  // usually exists already
  return folder + L"\\history";
}

void LoadHistory(const std::wstring& folder) {
  ForgetHistory();
  g_history.folder = folder;
  if (folder.empty()) return;
  const std::wstring index = folder + L"\\" + kIndexName;
  UniqueFile file(CreateFileW(index.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr));
  if (!file) return;
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  // Twenty entries take a few kilobytes; anything much larger is not an index of ours.
  while (text.size() < 1024 * 1024 && ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) &&
         read > 0) {
    text.append(buffer, read);
  }
  file.reset();
  std::optional<std::vector<HistoryEntry>> entries = ParseHistoryIndex(text);
  if (!entries) {
    MoveFileExW(index.c_str(), (folder + L"\\" + kDamagedIndexName).c_str(),
                MOVEFILE_REPLACE_EXISTING);
    return;
  }
  g_history.entries = std::move(*entries);
  // Switched off in the file while Snapwren was not running: what was kept goes now.
  if (!AppSettings.SaveHistory) {
    ClearHistory();
    return;
  }
  TrimHistory(g_history.entries, kMaxHistoryEntries, kMaxHistoryBytes);
  auto job = std::make_unique<ThumbnailJob>();
  job->folder = folder;
  job->generation = g_history.generation;
  job->thumbnailSize = ThumbnailSize();
  for (const HistoryEntry& entry : g_history.entries) {
    g_history.lastId = std::max(g_history.lastId, entry.id);
    job->ids.push_back(entry.id);
  }
  StartWorker(MakeThumbnails, job);
}

void RecordCopied(UniqueBitmap picture) {
  HistoryEntry entry;
  entry.kind = HistoryKind::Copied;
  Record(std::move(entry), {}, std::move(picture));
}

void RecordSaved(UniqueBitmap picture, const std::wstring& path) {
  HistoryEntry entry;
  entry.kind = HistoryKind::Saved;
  entry.path = path;
  Record(std::move(entry), {}, std::move(picture));
}

void RecordSavedPng(std::vector<BYTE> png, const std::wstring& path) {
  HistoryEntry entry;
  entry.kind = HistoryKind::Saved;
  entry.path = path;
  Record(std::move(entry), std::move(png), {});
}

void RecordUploaded(std::vector<BYTE> png, const std::wstring& link, const std::wstring& deleteUrl) {
  HistoryEntry entry;
  entry.kind = HistoryKind::Uploaded;
  entry.link = SafeLink(link);
  entry.deleteUrl = SafeLink(deleteUrl);
  Record(std::move(entry), std::move(png), {});
}

void ClearHistory() {
  const bool had = !g_history.entries.empty();
  for (const HistoryEntry& entry : g_history.entries) {
    DeleteFileW(PicturePath(g_history.folder, entry.id).c_str());
  }
  ForgetHistory();
  if (had && !g_history.folder.empty()) SaveIndex();
}

const std::vector<HistoryEntry>& HistoryEntries() { return g_history.entries; }

void OnHistoryMessage(UINT message, LPARAM lParam) {
  switch (message) {
    case WM_HISTORY_RECORDED:
      OnRecorded(std::unique_ptr<PictureJob>(reinterpret_cast<PictureJob*>(lParam)));
      break;
    case WM_HISTORY_THUMBNAILS:
      OnThumbnails(std::unique_ptr<ThumbnailJob>(reinterpret_cast<ThumbnailJob*>(lParam)));
      break;
    case WM_HISTORY_DELETED:
      OnDeleted(std::unique_ptr<DeleteJob>(reinterpret_cast<DeleteJob*>(lParam)));
      break;
    default:
      break;
  }
}

void AppendHistoryMenu(HMENU menu) {
  // The last menu is gone: the pictures it showed can go too.
  g_history.retired.clear();
  g_history.menuIds.clear();
  UniqueMenu submenu(CreatePopupMenu());
  if (!submenu) return;
  if (!AppSettings.SaveHistory) {
    AppendMenuW(submenu.get(), MF_STRING | MF_GRAYED, 0, GetLabel("history_off"));
  } else if (g_history.entries.empty()) {
    AppendMenuW(submenu.get(), MF_STRING | MF_GRAYED, 0, GetLabel("history_empty"));
  }
  const int64_t now = Now();
  for (const HistoryEntry& entry : g_history.entries) {
    const UINT firstId = IDM_HISTORY_FIRST +
                         static_cast<UINT>(g_history.menuIds.size()) * kActionsPerEntry;
    UniqueMenu entryMenu = EntryMenu(entry, firstId);
    if (!entryMenu) continue;
    const std::wstring text = HistoryEntryText(entry, now, English());
    MENUITEMINFOW item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING | MIIM_SUBMENU;
    item.dwTypeData = const_cast<wchar_t*>(text.c_str());
    item.hSubMenu = entryMenu.get();
    if (const HBITMAP thumbnail = FindThumbnail(entry.id)) {
      item.fMask |= MIIM_BITMAP;
      item.hbmpItem = thumbnail;
    }
    if (!InsertMenuItemW(submenu.get(), GetMenuItemCount(submenu.get()), TRUE, &item)) continue;
    static_cast<void>(entryMenu.release());  // destroyed with its parent
    g_history.menuIds.push_back(entry.id);
  }
  if (!g_history.entries.empty()) {
    AppendMenuW(submenu.get(), MF_SEPARATOR, 0, nullptr);
    AppendItem(submenu.get(), IDM_HISTORY_CLEAR, "history_clear");
  }
  if (AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(submenu.get()), GetLabel("history"))) {
    static_cast<void>(submenu.release());
  }
}

void RunHistoryCommand(UINT command) {
  if (command == IDM_HISTORY_CLEAR) {
    ClearHistory();
    return;
  }
  if (command < IDM_HISTORY_FIRST || command > IDM_HISTORY_LAST) return;
  const size_t position = (command - IDM_HISTORY_FIRST) / kActionsPerEntry;
  if (position >= g_history.menuIds.size()) return;
  // Found by its id: a worker's report during the menu may have moved it.
  const HistoryEntry* entry = FindEntry(g_history.menuIds[position]);
  if (entry) RunAction(HistoryEntry(*entry), (command - IDM_HISTORY_FIRST) % kActionsPerEntry);
}
