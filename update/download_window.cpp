#include "update/download_window.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "app/app.h"
#include "app/dpi.h"
#include "app/messages.h"
#include "app/win_handles.h"
#include "app/window_proc.h"
#include "app/worker.h"
#include "update/update_check.h"
#include "update/update_download.h"
#include "upload/progress_view.h"

namespace {

constexpr wchar_t kDownloadClass[] = L"SnapwrenDownload";

// Layout of the client area at 96 DPI: the text (two lines, should a substitute font be wider)
// over the bar, the button at the bottom right.
constexpr int kMargin = 20;
constexpr int kTextTop = 10;
constexpr int kTextHeight = 34;
constexpr int kBarTop = 48;
constexpr int kBarHeight = 14;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 26;
constexpr int kButtonBottomMargin = 12;
constexpr COLORREF kBarTrack = RGB(230, 230, 230);
constexpr COLORREF kBarFill = RGB(255, 182, 193);  // the upload flower's petals

constexpr uint64_t kKibibyte = 1024;
constexpr uint64_t kMebibyte = 1024 * 1024;

constexpr wchar_t kDownloading[] = L"Update wird heruntergeladen: ";
constexpr wchar_t kCancel[] = L"Abbrechen";
constexpr wchar_t kErrorTitle[] = L"Update-Fehler";
constexpr wchar_t kNotStarted[] = L"Download fehlgeschlagen";
constexpr wchar_t kStartFailed[] = L"Update konnte nicht gestartet werden";
constexpr wchar_t kReadyTitle[] = L"Update bereit";
constexpr wchar_t kReadyText[] =
    L"Download abgeschlossen!\n\nSnapwren wird jetzt beendet und das Update gestartet.";

// One download window's state, reached through its window data. UI thread only.
struct DownloadWindow {
  std::shared_ptr<DownloadJob> job;
  HWND owner = nullptr;
  HWND hwnd = nullptr;
  HWND text = nullptr;
  HWND button = nullptr;
  UniqueFont font;
  RECT bar{};
  std::wstring shownText;
};

// The download that runs, if any: one at a time. Its window clears it as it goes.
std::unique_ptr<DownloadWindow> g_download;
UINT64 g_lastDownloadId = 0;

// In the unit of `scale`: KB below one MB, else MB with one decimal. Rounded down, so that the
// full size shows only once it has all arrived.
std::wstring FormatSize(uint64_t bytes, uint64_t scale) {
  if (scale < kMebibyte) return std::to_wstring(bytes / kKibibyte) + L" KB";
  const uint64_t tenths = bytes * 10 / kMebibyte;
  return std::to_wstring(tenths / 10) + L"," + std::to_wstring(tenths % 10) + L" MB";
}

// The dialog font the user chose, at the window's DPI (the system hands it out at its own).
UniqueFont CreateMessageFont(UINT dpi) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return {};
  LOGFONTW& font = metrics.lfMessageFont;
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return UniqueFont(CreateFontIndirectW(&font));
}

void Layout(DownloadWindow& window) {
  const UINT dpi = DpiForWindow(window.hwnd);
  RECT client{};
  GetClientRect(window.hwnd, &client);
  const int left = Scale(kMargin, dpi);
  const int right = client.right - Scale(kMargin, dpi);
  MoveWindow(window.text, left, Scale(kTextTop, dpi), right - left, Scale(kTextHeight, dpi),
             TRUE);
  window.bar = {left, Scale(kBarTop, dpi), right, Scale(kBarTop + kBarHeight, dpi)};
  const int buttonBottom = client.bottom - Scale(kButtonBottomMargin, dpi);
  MoveWindow(window.button, right - Scale(kButtonWidth, dpi),
             buttonBottom - Scale(kButtonHeight, dpi), Scale(kButtonWidth, dpi),
             Scale(kButtonHeight, dpi), TRUE);
}

// The old font is deleted only once no child uses it any more.
void ApplyFont(DownloadWindow& window, UINT dpi) {
  UniqueFont font = CreateMessageFont(dpi);
  for (HWND child : {window.text, window.button}) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
  }
  window.font = std::move(font);
}

void ShowProgress(DownloadWindow& window) {
  const DownloadJob& job = *window.job;
  const std::wstring text = DownloadProgressText(job.received, job.total);
  if (text != window.shownText) {
    SetWindowTextW(window.text, text.c_str());
    window.shownText = text;
  }
  InvalidateRect(window.hwnd, &window.bar, FALSE);
}

void OnCreate(DownloadWindow& window) {
  const DWORD child = WS_CHILD | WS_VISIBLE;
  window.text = CreateWindowExW(0, L"STATIC", L"", child | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                window.hwnd, nullptr, g_instance, nullptr);
  window.button = CreateWindowExW(0, L"BUTTON", kCancel, child | WS_TABSTOP | BS_PUSHBUTTON, 0,
                                  0, 0, 0, window.hwnd,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDCANCEL)),
                                  g_instance, nullptr);
  ApplyFont(window, DpiForWindow(window.hwnd));
  Layout(window);
  ShowProgress(window);
}

// The button, the close box and Alt+F4 all end the download; nothing of it stays.
void OnCancel(DownloadWindow& window) {
  CancelDownload(*window.job);
  DestroyWindow(window.hwnd);
}

void OnProgress(DownloadWindow& window) {
  // Cleared before reading, so that bytes arriving meanwhile post the next message.
  window.job->progressPosted = false;
  ShowProgress(window);
}

void OnPaint(DownloadWindow& window) {
  PaintDc paint(window.hwnd);
  if (!paint.get()) return;
  const DownloadJob& job = *window.job;
  const RECT& bar = window.bar;
  RECT filled = bar;
  filled.right = bar.left + ProgressBarFill(bar.right - bar.left, job.received, job.total);
  const UniqueBrush track(CreateSolidBrush(kBarTrack));
  const UniqueBrush fill(CreateSolidBrush(kBarFill));
  if (track) FillRect(paint.get(), &bar, track.get());
  if (fill) FillRect(paint.get(), &filled, fill.get());
}

// The static text stands on the window's own background.
LRESULT OnColorStatic(WPARAM hdc) {
  SetBkColor(reinterpret_cast<HDC>(hdc), GetSysColor(COLOR_WINDOW));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

void OnDpiChanged(DownloadWindow& window, WPARAM wParam, LPARAM lParam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(window.hwnd, nullptr, suggested->left, suggested->top,
               suggested->right - suggested->left, suggested->bottom - suggested->top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  ApplyFont(window, HIWORD(wParam));
  Layout(window);
  InvalidateRect(window.hwnd, nullptr, TRUE);
}

// Starts the installer from its path while `installer` still holds it against changes.
bool StartInstaller(const std::wstring& target) {
  std::wstring commandLine = L"\"" + target + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(target.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  const UniqueHandle thread(process.hThread);
  const UniqueHandle started(process.hProcess);
  return true;
}

// After the download: the failure, or the question whose OK starts the installer and quits.
// `installer` holds the verified file open until then.
void FinishDownload(HWND owner, const std::wstring& target, const std::wstring& error,
                    UniqueFile installer) {
  if (!error.empty()) {
    MessageBoxW(owner, error.c_str(), kErrorTitle, MB_ICONERROR);
    return;
  }
  if (MessageBoxW(owner, kReadyText, kReadyTitle, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
    return;  // the installer stays in Snapwren's folder; a later download replaces it
  }
  // Quitting without a started installer would leave the user with neither Snapwren nor the new
  // version.
  if (!StartInstaller(target)) {
    MessageBoxW(owner, kStartFailed, kErrorTitle, MB_ICONERROR);
    return;
  }
  installer.reset();
  PostQuitMessage(0);
}

void OnDownloaded(DownloadWindow& window, LPARAM lParam) {
  // The worker's report belongs to the window from the moment it is posted; one that is not for
  // this window's download (a handle reused after an earlier window closed) is dropped.
  const std::unique_ptr<DownloadOutcome> outcome(reinterpret_cast<DownloadOutcome*>(lParam));
  if (!outcome || outcome->downloadId != window.job->id) return;
  const HWND owner = window.owner;
  const std::wstring target = window.job->target;
  DestroyWindow(window.hwnd);  // and with it `window`
  FinishDownload(owner, target, outcome->error, std::move(outcome->installer));
}

void OnNcDestroy(HWND hwnd) {
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  if (g_download && g_download->hwnd == hwnd) g_download.reset();
}

LRESULT Dispatch(DownloadWindow& window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnCreate(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) OnCancel(window);
      return 0;
    case WM_CLOSE:
      OnCancel(window);
      return 0;
    case WM_UPDATE_DOWNLOAD_PROGRESS:
      OnProgress(window);
      return 0;
    case WM_UPDATE_DOWNLOADED:
      OnDownloaded(window, lParam);
      return 0;
    case WM_PAINT:
      OnPaint(window);
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnColorStatic(wParam);
    case WM_DPICHANGED:
      OnDpiChanged(window, wParam, lParam);
      return 0;
    default:
      return DefWindowProcW(window.hwnd, message, wParam, lParam);
  }
}

// A second registration fails and changes nothing.
void RegisterDownloadClass() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DownloadWndProc;
  windowClass.hInstance = g_instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = kDownloadClass;
  RegisterClassExW(&windowClass);
}

HWND CreateDownloadWindow(DownloadWindow& window) {
  RegisterDownloadClass();
  // Where the upload's first progress window stands, on the primary monitor at its DPI.
  const UINT dpi = DpiForMonitor(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY));
  const RECT rect =
      ProgressWindowRect(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), 0, dpi);
  return CreateWindowExW(kProgressExStyle, kDownloadClass, kAppTitle, kProgressStyle, rect.left,
                         rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr,
                         nullptr, g_instance, &window);
}

}  // namespace

std::wstring DownloadProgressText(uint64_t received, uint64_t total) {
  if (total == kUnknownSize) return kDownloading + FormatSize(received, received);
  return kDownloading + FormatSize(received, total) + L" von " + FormatSize(total, total);
}

int ProgressBarFill(int width, uint64_t received, uint64_t total) {
  if (total == kUnknownSize || total == 0 || width <= 0) return 0;
  const double share = static_cast<double>(std::min(received, total)) / static_cast<double>(total);
  return static_cast<int>(share * width);
}

void DownloadAndInstallUpdate(const UpdateInfo& update, HWND owner) {
  if (g_download) {
    SetForegroundWindow(g_download->hwnd);
    return;
  }
  auto job = std::make_shared<DownloadJob>();
  job->id = ++g_lastDownloadId;
  job->url = update.url;
  job->sha256 = update.sha256;
  job->length = update.length;
  job->target = UpdateTargetPath();
  auto cell = std::make_unique<std::shared_ptr<DownloadJob>>(job);
  g_download = std::make_unique<DownloadWindow>();
  g_download->job = job;
  g_download->owner = owner;

  const HWND hwnd = CreateDownloadWindow(*g_download);
  if (!hwnd) {
    g_download.reset();
    MessageBoxW(owner, kNotStarted, kErrorTitle, MB_ICONERROR);
    return;
  }
  job->window = hwnd;
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  if (!StartWorker(DownloadWorker, cell)) {
    DestroyWindow(hwnd);
    MessageBoxW(owner, kNotStarted, kErrorTitle, MB_ICONERROR);
  }
}

void CancelUpdateDownload() {
  if (g_download) CancelDownload(*g_download->job);
}

LRESULT CALLBACK DownloadWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return Guarded([&]() -> LRESULT {
    DownloadWindow* window = WindowState<DownloadWindow>(hwnd, message, lParam);
    if (message == WM_NCCREATE && window) window->hwnd = hwnd;
    if (message == WM_NCDESTROY) {
      OnNcDestroy(hwnd);
      return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
    return Dispatch(*window, message, wParam, lParam);
  });
}
