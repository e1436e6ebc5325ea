#include "capture/capture_session.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "app/app.h"
#include "app/clipboard.h"
#include "app/dpi.h"
#include "app/notifier.h"
#include "capture/clipboard_dib.h"
#include "capture/crosshair_cursor.h"
#include "capture/screen_capture.h"
#include "capture/window_list.h"
#include "overlay/overlay_paint.h"
#include "overlay/overlay_state.h"
#include "overlay/toolbar.h"
#include "settings/settings.h"

bool g_capturing = false;
UniqueBitmap g_screenBitmap;
HBITMAP g_sessionScreenBitmap = nullptr;
SelectionDoneCallback g_onSelectionDone;
UniqueGpImage g_toolImages[kToolImageSizeCount][kToolImageCount];

namespace {

constexpr wchar_t kOverlayClass[] = L"SnapwrenOverlay";
constexpr wchar_t kOverlayTitle[] = L"Snapwren Overlay";
constexpr DWORD kOverlayExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;

// One per DPI met, kept for the life of the process: the pointer may still show one when it
// moves on to a monitor of another DPI.
std::vector<std::pair<UINT, UniqueCursor>> g_crosshairCursors;

// Which sizes of g_toolImages the running session has decoded.
bool g_toolImagesLoaded[kToolImageSizeCount] = {};

// The toolbar images live at most as long as one session, and go before its GDI+ start does.
class SessionToolImages {
 public:
  SessionToolImages() = default;
  ~SessionToolImages() { FreeToolImages(); }
  SessionToolImages(const SessionToolImages&) = delete;
  SessionToolImages& operator=(const SessionToolImages&) = delete;
};

// A remembered selection that is still usable opens the session with the toolbar up, so the
// user can act on the same region at once.
void RestoreRememberedSelection(int width, int height) {
  if (!AppSettings.RememberSelection) return;
  if (!CanRestoreSelection(AppSettings.Selection, width, height)) return;
  g_overlayState.SelectionRect = AppSettings.Selection;
  g_overlayState.Phase = OverlayPhase::Selected;
  LayoutToolbar();
}

// The images of one size, the index of a kToolImageSizes entry.
void LoadToolImages(int size) {
  for (int i = 0; i < kToolImageCount; ++i) {
    g_toolImages[size][i] = LoadPngResource(kFirstToolImageId + kToolImageIdStep * size + i);
  }
  g_toolImagesLoaded[size] = true;
}

// Returns the exit code of a quit request that arrived meanwhile.
std::optional<int> PumpUntilSessionDone(HWND overlay) {
  std::optional<int> quitCode;
  MSG message = {};
  while (!g_overlayState.SessionDone && IsWindow(overlay)) {
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(1);
      continue;
    }
    if (message.message == WM_QUIT) quitCode = static_cast<int>(message.wParam);
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return quitCode;
}

}  // namespace

UniqueGpImage LoadPngResource(int id) {
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (!resource) return {};
  const HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, resource);
  if (!bytes || size == 0) return {};

  UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!block) return {};
  void* copy = GlobalLock(block.get());
  if (!copy) return {};
  std::memcpy(copy, bytes, size);
  GlobalUnlock(block.get());

  IStream* rawStream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, &rawStream))) return {};
  (void)block.release();  // the stream frees it
  UniqueStream stream(rawStream);

  Gdiplus::GpImage* image = nullptr;
  gp::GdipLoadImageFromStream(stream.get(), &image);
  return UniqueGpImage(image);
}

void FreeToolImages() {
  for (auto& images : g_toolImages) {
    for (auto& image : images) image.reset();
  }
  for (bool& loaded : g_toolImagesLoaded) loaded = false;
}

// On a tie the larger: shrinking keeps an image sharper than enlarging it.
int NearestToolImageSize(int buttonSize) {
  int nearest = 0;
  for (int i = 1; i < kToolImageSizeCount; ++i) {
    if (std::abs(kToolImageSizes[i] - buttonSize) <=
        std::abs(kToolImageSizes[nearest] - buttonSize)) {
      nearest = i;
    }
  }
  return nearest;
}

// Decoded when the toolbar is first drawn, not before the session's first frame, and only at
// the sizes shown (the selection may move on to a monitor of another DPI). A failed image stays
// null until the session ends.
Gdiplus::GpImage* ToolImage(int slot, int buttonSize) {
  if (slot < 0 || slot >= kToolImageCount) return nullptr;
  const int size = NearestToolImageSize(buttonSize);
  if (!g_toolImagesLoaded[size]) LoadToolImages(size);
  return g_toolImages[size][slot].get();
}

HCURSOR CrosshairCursor(UINT dpi) {
  for (const auto& made : g_crosshairCursors) {
    if (made.first == dpi) return made.second.get();
  }
  // A failure is tried again the next time.
  UniqueCursor cursor(CreateCrosshairCursor(dpi));
  if (!cursor) return nullptr;
  g_crosshairCursors.emplace_back(dpi, std::move(cursor));
  return g_crosshairCursors.back().second.get();
}

void CopyResultToClipboard() {
  UniqueBitmap bitmap = std::move(g_overlayState.ResultBitmap);
  if (!bitmap) return;
  if (PutBitmapOnClipboard(OwnerWindow(), bitmap.get())) {
    ShowTrayNotification(L"Screenshot kopiert!", L"Bild ist in der Zwischenablage.");
  } else {
    ShowTrayNotification(L"Fehler", L"Konnte Bild nicht kopieren.");
  }
}

void RunOverlay(HINSTANCE instance, HBITMAP screenBitmap, SelectionDoneCallback onDone) {
  // A nested start on top of the process's own, so the session's images have a GDI+ of their
  // own to be freed under.
  GdiplusSession gdiplus;
  SessionToolImages images;
  g_sessionScreenBitmap = screenBitmap;
  g_onSelectionDone = onDone;

  ResetOverlayState(g_overlayState);
  // The screen froze a moment ago and the overlay does not cover it yet: the windows are as
  // the picture shows them.
  g_overlayState.Windows = ListTopLevelWindows();
  POINT pointer = {};
  GetCursorPos(&pointer);
  // Until a selection exists, the overlay looks as the monitor under the pointer needs.
  g_overlayState.Dpi = DpiForMonitor(MonitorFromPoint(pointer, MONITOR_DEFAULTTONEAREST));
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  g_overlayState.HoverTarget = ClickTargetAt(POINT{pointer.x - x, pointer.y - y});
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  RestoreRememberedSelection(width, height);

  const HWND overlay = CreateWindowExW(kOverlayExStyle, kOverlayClass, kOverlayTitle, WS_POPUP, x,
                                       y, width, height, nullptr, nullptr, instance, nullptr);
  std::optional<int> quitCode;
  if (overlay) {
    ShowWindow(overlay, SW_SHOW);
    UpdateWindow(overlay);
    SetForegroundWindow(overlay);
    SetFocus(overlay);
    quitCode = PumpUntilSessionDone(overlay);
  }
  ReleaseOverlayCanvas();
  g_sessionScreenBitmap = nullptr;
  // A quit request (the tray's "Beenden", a started installer) must not be lost to the
  // session's loop: it is passed on to the main loop once the session is over.
  if (quitCode) PostQuitMessage(*quitCode);
}

void StartCapture() {
  if (g_capturing) return;
  g_capturing = true;
  g_screenBitmap.reset(CaptureScreen(AppSettings.CaptureCursor));
  if (g_screenBitmap) {
    RunOverlay(g_instance, g_screenBitmap.get(), [](const RECT&) {
      CopyResultToClipboard();
      g_capturing = false;
    });
  } else {
    ShowTrayNotification(L"Fehler", L"Konnte Bildschirm nicht erfassen");
  }
  // Nothing reads the frozen screen once its session is over; a 4K desktop is 33 MB.
  g_screenBitmap.reset();
  g_capturing = false;
}
