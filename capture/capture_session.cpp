#include "capture/capture_session.h"

#include <cstring>
#include <optional>
#include <utility>

#include "app/app.h"
#include "app/tray.h"
#include "capture/clipboard_dib.h"
#include "capture/crosshair_cursor.h"
#include "capture/screen_capture.h"
#include "overlay/overlay_paint.h"
#include "overlay/overlay_state.h"
#include "overlay/toolbar.h"
#include "settings/settings.h"

bool g_capturing = false;
UniqueBitmap g_screenBitmap;
HBITMAP g_sessionScreenBitmap = nullptr;
SelectionDoneCallback g_onSelectionDone;
UniqueGpImage g_toolImages[kToolImageCount];
UniqueCursor g_crosshairCursor;

namespace {

constexpr wchar_t kOverlayClass[] = L"SnapwrenOverlay";
constexpr wchar_t kOverlayTitle[] = L"Snapwren Overlay";
constexpr DWORD kOverlayExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;

// The toolbar images live exactly as long as one session, and go before its GDI+ start does.
class SessionToolImages {
 public:
  SessionToolImages() {
    for (int i = 0; i < kToolImageCount; ++i) g_toolImages[i] = LoadPngResource(kFirstToolImageId + i);
  }
  ~SessionToolImages() {
    for (auto& image : g_toolImages) image.reset();
  }
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

void CopyResultToClipboard() {
  UniqueBitmap bitmap = std::move(g_overlayState.ResultBitmap);
  if (!bitmap) return;
  if (PutBitmapOnClipboard(bitmap.get())) {
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
  if (!g_crosshairCursor) g_crosshairCursor.reset(CreateCrosshairCursor());
  g_sessionScreenBitmap = screenBitmap;
  g_onSelectionDone = onDone;

  ResetOverlayState(g_overlayState);
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
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
