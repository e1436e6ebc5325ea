#include "upload/upload_worker.h"

#include <algorithm>
#include <memory>

#include "app/app.h"
#include "app/clipboard.h"
#include "app/dpi.h"
#include "app/notifier.h"
#include "app/win_handles.h"
#include "app/window_proc.h"
#include "app/worker.h"
#include "history/history.h"
#include "settings/settings.h"
#include "upload/failed_upload.h"
#include "upload/progress_view.h"
#include "upload/upload_client.h"

namespace {

constexpr wchar_t kProgressClass[] = L"SnapwrenProgress";
constexpr UINT kSpinnerIntervalMs = 50;
constexpr UINT kAutoCloseMs = 800;

constexpr wchar_t kLinkCopied[] = L"Link in Zwischenablage kopiert!";
constexpr wchar_t kLinkNotCopied[] = L"Link konnte nicht in die Zwischenablage kopiert werden:\n";
constexpr wchar_t kLinkOnly[] = L"Upload erfolgreich:\n";

// The address and key are copied when the upload starts: the settings belong to the UI thread.
struct UploadJob {
  std::vector<BYTE> png;
  std::wstring url;
  std::wstring key;
  HWND window = nullptr;
  UINT64 uploadId = 0;
};

// One per progress window, touched by the UI thread only. Each upload has its own window, so
// two uploads never share a spinner, a link or an outcome.
struct ProgressWindow {
  HWND hwnd = nullptr;
  UINT64 uploadId = 0;
  int slot = 0;  // -1 once hidden: the place on the screen is free again
  float spinnerAngle = 0.0f;
  bool succeeded = false;
  bool dismissed = false;  // closed by the user while the upload was still running
  std::wstring finalBalloon;
  bool linkOnlyInBalloon = false;  // not copied: closing early must still show it
};

std::vector<ProgressWindow> g_progressWindows;
UINT64 g_lastUploadId = 0;

ProgressWindow* FindProgress(HWND hwnd) {
  for (ProgressWindow& window : g_progressWindows) {
    if (window.hwnd == hwnd) return &window;
  }
  return nullptr;
}

int FreeSlot() {
  int slot = 0;
  while (std::any_of(g_progressWindows.begin(), g_progressWindows.end(),
                     [slot](const ProgressWindow& window) { return window.slot == slot; })) {
    ++slot;
  }
  return slot;
}

// A second registration fails and changes nothing.
void RegisterProgressClass() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ProgressWndProc;
  windowClass.hInstance = g_instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = kProgressClass;
  RegisterClassExW(&windowClass);
}

HWND CreateProgressWindow(int slot) {
  // It stands on the primary monitor and takes that monitor's DPI.
  const UINT dpi = DpiForMonitor(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY));
  const RECT rect = ProgressWindowRect(GetSystemMetrics(SM_CXSCREEN),
                                       GetSystemMetrics(SM_CYSCREEN), slot, dpi);
  return CreateWindowExW(kProgressExStyle, kProgressClass, kAppTitle, kProgressStyle, rect.left,
                         rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr,
                         nullptr, g_instance, nullptr);
}

// The worker's report belongs to the window from the moment it is posted; one that is not for
// this window's upload (a handle reused after an earlier window closed) is dropped.
std::unique_ptr<UploadOutcome> TakeOutcome(const ProgressWindow& window, LPARAM lParam) {
  std::unique_ptr<UploadOutcome> outcome(reinterpret_cast<UploadOutcome*>(lParam));
  if (!outcome || outcome->uploadId != window.uploadId) return nullptr;
  return outcome;
}

// An upload is in the history with its link; a failed one, like a saved screenshot, with the
// file that keeps it.
void RecordOutcome(UINT message, UploadOutcome& outcome) {
  if (message == WM_UPLOAD_SUCCEEDED) {
    RecordUploaded(std::move(outcome.png), outcome.link, outcome.deleteUrl);
  } else if (!outcome.keptPath.empty()) {
    RecordSavedPng(std::move(outcome.png), outcome.keptPath);
  }
}

// The balloon is shown after the window is gone, so that it never stands behind it.
void CloseWithBalloon(HWND hwnd, const std::wstring& message) {
  DestroyWindow(hwnd);
  if (!message.empty()) ShowTrayNotification(kAppTitle, message);
}

void OnProgressCreate(HWND hwnd) { SetTimer(hwnd, IDT_SPINNER, kSpinnerIntervalMs, nullptr); }

void OnSpinnerTick(HWND hwnd) {
  ProgressWindow* window = FindProgress(hwnd);
  if (!window) return;
  window->spinnerAngle = AdvanceSpinnerAngle(window->spinnerAngle);
  InvalidateRect(hwnd, nullptr, FALSE);
}

void OnAutoClose(HWND hwnd) {
  KillTimer(hwnd, IDT_AUTOCLOSE);
  KillTimer(hwnd, IDT_SPINNER);
  ProgressWindow* window = FindProgress(hwnd);
  const std::wstring message = window ? window->finalBalloon : std::wstring();
  CloseWithBalloon(hwnd, message);
}

void OnProgressTimer(HWND hwnd, WPARAM id) {
  switch (id) {
    case IDT_SPINNER:
      OnSpinnerTick(hwnd);
      break;
    case IDT_AUTOCLOSE:
      OnAutoClose(hwnd);
      break;
    default:
      break;
  }
}

void OnUploadSucceeded(HWND hwnd, LPARAM lParam) {
  ProgressWindow* window = FindProgress(hwnd);
  if (!window) return;
  const std::unique_ptr<UploadOutcome> outcome = TakeOutcome(*window, lParam);
  if (!outcome) return;
  RecordOutcome(WM_UPLOAD_SUCCEEDED, *outcome);
  // Closed by the user while uploading: the clipboard keeps what the user has put there since.
  if (window->dismissed) {
    DestroyWindow(hwnd);
    return;
  }
  const bool autoCopy = AppSettings.AutoCopyLink;
  const bool copied = autoCopy && CopyTextToClipboard(hwnd, outcome->link);
  window->finalBalloon = SuccessBalloonText(autoCopy, copied, outcome->link);
  window->linkOnlyInBalloon = !copied;
  KillTimer(hwnd, IDT_SPINNER);
  window->succeeded = true;
  InvalidateRect(hwnd, nullptr, TRUE);
  SetTimer(hwnd, IDT_AUTOCLOSE, kAutoCloseMs, nullptr);
}

void OnUploadFailed(HWND hwnd, LPARAM lParam) {
  ProgressWindow* window = FindProgress(hwnd);
  if (!window) return;
  const std::unique_ptr<UploadOutcome> outcome = TakeOutcome(*window, lParam);
  if (!outcome) return;
  RecordOutcome(WM_UPLOAD_FAILED, *outcome);
  // Even after the user closed the window: the balloon is the only place that says where the
  // screenshot went.
  CloseWithBalloon(hwnd, FailureBalloonText(outcome->reason, outcome->keptPath));
}

void OnProgressPaint(HWND hwnd) {
  PaintDc paint(hwnd);
  if (!paint.get()) return;
  const ProgressWindow* window = FindProgress(hwnd);
  RECT client{};
  GetClientRect(hwnd, &client);
  PaintProgress(paint.get(), client, window ? window->spinnerAngle : 0.0f,
                window && window->succeeded, DpiForWindow(hwnd));
}

// Moved to a monitor of another DPI: the size Windows suggests is the window's at that DPI.
void OnProgressDpiChanged(HWND hwnd, LPARAM lParam) {
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd, nullptr, TRUE);
}

// Closing does not stop a running upload. The window only hides and waits for the outcome, so
// that a failure can still say where the screenshot was kept.
void OnProgressClose(HWND hwnd) {
  ProgressWindow* window = FindProgress(hwnd);
  if (!window || window->succeeded) {
    // The copied link needs no confirmation, but one that was not copied is only in the balloon.
    const bool showLink = window && window->linkOnlyInBalloon;
    CloseWithBalloon(hwnd, showLink ? window->finalBalloon : std::wstring());
    return;
  }
  window->dismissed = true;
  window->slot = -1;
  KillTimer(hwnd, IDT_SPINNER);
  ShowWindow(hwnd, SW_HIDE);
}

void OnProgressDestroy(HWND hwnd) {
  KillTimer(hwnd, IDT_SPINNER);
  KillTimer(hwnd, IDT_AUTOCLOSE);
  g_progressWindows.erase(
      std::remove_if(g_progressWindows.begin(), g_progressWindows.end(),
                     [hwnd](const ProgressWindow& window) { return window.hwnd == hwnd; }),
      g_progressWindows.end());
}

void BeginUpload(std::vector<BYTE> png) {
  // Everything that allocates comes before the window, so that a failure leaves none behind.
  auto job = std::make_unique<UploadJob>();
  job->png = std::move(png);
  job->uploadId = ++g_lastUploadId;
  job->url = AppSettings.UploadUrl;
  job->key = AppSettings.UploadToken;
  g_progressWindows.reserve(g_progressWindows.size() + 1);

  RegisterProgressClass();
  const int slot = FreeSlot();
  job->window = CreateProgressWindow(slot);
  if (!job->window) {
    // The outcome goes to the tray window instead, which tells the user all the same.
    job->window = g_trayWnd;
  } else {
    ProgressWindow window;
    window.hwnd = job->window;
    window.uploadId = job->uploadId;
    window.slot = slot;
    g_progressWindows.push_back(window);
    ShowWindow(job->window, SW_SHOW);
    UpdateWindow(job->window);
  }

  if (StartWorker(UploadWorker, job)) return;
  // No worker: the upload fails here and now, and the screenshot is kept all the same.
  auto outcome = std::make_unique<UploadOutcome>();
  outcome->uploadId = job->uploadId;
  outcome->keptPath = KeepFailedUpload(job->png);
  if (job->window) {
    SendMessageW(job->window, WM_UPLOAD_FAILED, 0, reinterpret_cast<LPARAM>(outcome.release()));
  } else {
    ShowTrayNotification(kAppTitle, FailureBalloonText(outcome->reason, outcome->keptPath));
  }
}

}  // namespace

void StartUpload(std::vector<BYTE> png) {
  // Called from the overlay's window procedure, which no exception may cross.
  try {
    BeginUpload(std::move(png));
  } catch (...) {
    // Out of memory before the worker took over: the user hears of it if that still works.
    try {
      ShowTrayNotification(kAppTitle, FailureBalloonText(std::wstring(), std::wstring()));
    } catch (...) {
    }
  }
}

DWORD WINAPI UploadWorker(LPVOID parameter) {
  try {
    std::unique_ptr<UploadJob> job(static_cast<UploadJob*>(parameter));
    const UploadResult result = UploadPng(job->png, job->url, job->key);
    auto outcome = std::make_unique<UploadOutcome>();
    outcome->uploadId = job->uploadId;
    if (result.success) {
      outcome->link = result.link;
      outcome->deleteUrl = result.deleteUrl;
    } else {
      outcome->reason = result.error;
      outcome->keptPath = KeepFailedUpload(job->png);
    }
    outcome->png = std::move(job->png);
    const HWND window = job->window;
    job.reset();
    if (!window) return 0;
    const UINT message = result.success ? WM_UPLOAD_SUCCEEDED : WM_UPLOAD_FAILED;
    // The window owns the outcome once the post succeeds; a failed post leaves it with us.
    if (PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(outcome.get()))) {
      static_cast<void>(outcome.release());
    }
  } catch (...) {
    // Out of memory on a worker: nothing sensible is left to report it with.
  }
  return 0;
}

void ReportUploadWithoutWindow(UINT message, LPARAM lParam) {
  const std::unique_ptr<UploadOutcome> outcome(reinterpret_cast<UploadOutcome*>(lParam));
  if (!outcome) return;
  RecordOutcome(message, *outcome);
  if (message == WM_UPLOAD_FAILED) {
    ShowTrayNotification(kAppTitle, FailureBalloonText(outcome->reason, outcome->keptPath));
    return;
  }
  const bool autoCopy = AppSettings.AutoCopyLink;
  const bool copied = autoCopy && CopyTextToClipboard(OwnerWindow(), outcome->link);
  ShowTrayNotification(kAppTitle, SuccessBalloonText(autoCopy, copied, outcome->link));
}

LRESULT CALLBACK ProgressWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return Guarded([&]() -> LRESULT {
    switch (message) {
      case WM_CREATE:
        OnProgressCreate(hwnd);
        return 0;
      case WM_TIMER:
        OnProgressTimer(hwnd, wParam);
        return 0;
      case WM_UPLOAD_SUCCEEDED:
        OnUploadSucceeded(hwnd, lParam);
        return 0;
      case WM_UPLOAD_FAILED:
        OnUploadFailed(hwnd, lParam);
        return 0;
      case WM_PAINT:
        OnProgressPaint(hwnd);
        return 0;
      case WM_CLOSE:
        OnProgressClose(hwnd);
        return 0;
      case WM_DESTROY:
        OnProgressDestroy(hwnd);
        return 0;
      case WM_DPICHANGED:
        OnProgressDpiChanged(hwnd, lParam);
        return 0;
      default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
  });
}

std::wstring SuccessBalloonText(bool autoCopy, bool copied, const std::wstring& link) {
  if (!autoCopy) return kLinkOnly + link;
  if (!copied) return kLinkNotCopied + link;
  return kLinkCopied;
}
