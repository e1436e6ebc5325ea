#include "overlay/export.h"

#include <cstring>
#include <memory>
#include <utility>

#include <commdlg.h>

#include "app/app.h"
#include "app/clipboard_dib.h"
#include "app/gdiplus_handles.h"
#include "app/notifier.h"
#include "history/history.h"
#include "overlay/annotations.h"
#include "overlay/overlay_state.h"
#include "overlay/session.h"
#include "upload/upload_worker.h"

namespace {

constexpr wchar_t kSaveFilter[] = L"PNG Dateien\0*.png\0Alle Dateien\0*.*\0";
constexpr wchar_t kDefaultFileName[] = L"screenshot.png";
constexpr DWORD kPathCapacity = MAX_PATH;

// Copies what of the frozen screen lies under the selection; the rest of target stays as it is.
void CopyScreenPart(HDC target, HBITMAP screenBitmap, const RECT& selection) {
  BITMAP info = {};
  if (!screenBitmap || !GetObjectW(screenBitmap, sizeof info, &info)) return;
  const RECT screen = {0, 0, info.bmWidth, info.bmHeight};
  RECT visible = {};
  if (!IntersectRect(&visible, &selection, &screen)) return;
  UniqueMemoryDc source(CreateCompatibleDC(target));
  if (!source) return;
  SelectGuard select(source.get(), screenBitmap);
  BitBlt(target, visible.left - selection.left, visible.top - selection.top,
         visible.right - visible.left, visible.bottom - visible.top, source.get(), visible.left,
         visible.top, SRCCOPY);
}

}  // namespace

UniqueBitmap ComposeSelection(const CaptureSession& session) {
  const OverlayState& state = session.State;
  const RECT selection = state.SelectionRect;
  const int width = selection.right - selection.left;
  const int height = selection.bottom - selection.top;
  // A zero-width bitmap would come back as a valid 1 x 1 one: rule it out here.
  if (width <= 0 || height <= 0) return {};

  WindowDc screen(nullptr);
  if (!screen) return {};
  UniqueBitmap result(CreateCompatibleBitmap(screen.get(), width, height));
  if (!result) return {};
  UniqueMemoryDc target(CreateCompatibleDC(screen.get()));
  if (!target) return {};
  {
    SelectGuard select(target.get(), result.get());
    // Parts moved off the screen have no picture: they are black, not left to chance.
    const RECT all = {0, 0, width, height};
    FillRect(target.get(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    CopyScreenPart(target.get(), session.Screen(), selection);
    const POINT offset = {-selection.left, -selection.top};
    for (const Annotation& annotation : state.Annotations) {
      DrawAnnotation(target.get(), annotation, offset);
    }
  }
  return result;
}

void CopySelection(HWND overlay, CaptureSession& session) {
  UniqueBitmap composed = ComposeSelection(session);
  if (!composed) return;
  session.State.Result = OverlayResult::Done;
  ReleaseCapture();
  ShowTrayNotification(kAppTitle, L"Screenshot in Zwischenablage kopiert!");
  CopyPictureToClipboard(composed.get());
  RecordCopied(std::move(composed));
  DestroyWindow(overlay);
}

SaveOutcome SavePictureAs(HWND owner, HBITMAP picture, std::wstring& savedPath) {
  wchar_t path[kPathCapacity] = {};
  wcscpy_s(path, kDefaultFileName);
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = kSaveFilter;
  dialog.lpstrFile = path;
  dialog.nMaxFile = kPathCapacity;
  dialog.lpstrDefExt = L"png";
  dialog.Flags = OFN_OVERWRITEPROMPT;
  if (!GetSaveFileNameW(&dialog)) return SaveOutcome::Cancelled;
  if (!SavePngFile(picture, path)) return SaveOutcome::Failed;
  ShowTrayNotification(kAppTitle, L"Screenshot gespeichert!");
  savedPath = path;
  return SaveOutcome::Saved;
}

void CopyPictureToClipboard(HBITMAP picture) {
  if (PutBitmapOnClipboard(OwnerWindow(), picture)) {
    ShowTrayNotification(L"Screenshot kopiert!", L"Bild ist in der Zwischenablage.");
  } else {
    ShowTrayNotification(L"Fehler", L"Konnte Bild nicht kopieren.");
  }
}

void SaveSelection(HWND overlay, CaptureSession& session, bool showError) {
  UniqueBitmap composed = ComposeSelection(session);
  if (!composed) return;
  ReleaseCapture();
  std::wstring path;
  const SaveOutcome outcome = SavePictureAs(overlay, composed.get(), path);
  if (outcome == SaveOutcome::Saved) {
    RecordSaved(std::move(composed), path);
    session.State.Result = OverlayResult::Done;
    DestroyWindow(overlay);
    return;
  }
  // The editor stays as it was, so the user can try another place.
  if (outcome == SaveOutcome::Failed && showError) {
    MessageBoxW(overlay, L"Fehler beim Speichern!", kAppTitle, MB_ICONERROR);
  }
  SetCapture(overlay);
}

void UploadSelection(HWND overlay, CaptureSession& session) {
  std::vector<BYTE> png;
  {
    UniqueBitmap composed = ComposeSelection(session);
    if (!composed) return;
    png = EncodePng(composed.get());
  }
  if (png.empty()) return;
  session.State.Result = OverlayResult::Done;
  DestroyWindow(overlay);
  StartUpload(std::move(png));
}

void PinSelection(HWND overlay, CaptureSession& session) {
  UniqueBitmap composed = ComposeSelection(session);
  if (!composed) return;
  session.Pinned = std::move(composed);
  session.State.Result = OverlayResult::Pinned;
  ReleaseCapture();
  DestroyWindow(overlay);
}
