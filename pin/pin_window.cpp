#include "pin/pin_window.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "app/pixel_bitmap.h"
#include "app/window_proc.h"
#include "overlay/export.h"
#include "overlay/overlay_paint.h"
#include "overlay/overlay_window.h"
#include "settings/labels.h"

namespace {

constexpr wchar_t kPinClass[] = L"SnapwrenPin";
constexpr wchar_t kPinTitle[] = L"Snapwren";
// Topmost and off the taskbar; layered only once it is made translucent, so that a pin at full
// opacity is drawn as any other window.
constexpr DWORD kPinExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
// One screen pixel at every DPI, like the picture's own pixels.
constexpr int kFrame = 1;

constexpr UINT IDM_PIN_COPY = 1;
constexpr UINT IDM_PIN_SAVE = 2;
constexpr UINT IDM_PIN_CLOSE = 3;
constexpr UINT IDM_PIN_CLOSE_ALL = 4;

// The open pins, in the order they were made.
std::vector<std::unique_ptr<Pin>> g_pins;

void Forget(const Pin* pin) {
  g_pins.erase(std::remove_if(g_pins.begin(), g_pins.end(),
                              [pin](const std::unique_ptr<Pin>& open) { return open.get() == pin; }),
               g_pins.end());
}

RECT PictureOnScreen(HWND hwnd) {
  RECT window = {};
  GetWindowRect(hwnd, &window);
  InflateRect(&window, -kFrame, -kFrame);
  return window;
}

void PlacePicture(HWND hwnd, RECT picture) {
  InflateRect(&picture, kFrame, kFrame);
  SetWindowPos(hwnd, nullptr, picture.left, picture.top, picture.right - picture.left,
               picture.bottom - picture.top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd, nullptr, FALSE);
}

void ZoomTo(HWND hwnd, Pin& pin, int zoom, POINT about) {
  if (zoom == pin.Zoom) return;
  pin.Zoom = zoom;
  PlacePicture(hwnd, ZoomAbout(PictureOnScreen(hwnd), about, pin.Image, zoom));
}

void SetOpacity(HWND hwnd, Pin& pin, int opacity) {
  if (opacity == pin.Opacity) return;
  pin.Opacity = opacity;
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  if (!(style & WS_EX_LAYERED)) SetWindowLongPtrW(hwnd, GWL_EXSTYLE, style | WS_EX_LAYERED);
  SetLayeredWindowAttributes(hwnd, 0, OpacityAlpha(opacity), LWA_ALPHA);
}

POINT ScreenPoint(HWND hwnd, LPARAM lParam) {
  POINT point = PointFromLParam(lParam);
  ClientToScreen(hwnd, &point);
  return point;
}

// Where the pointer was when the message being handled was made, on the screen. Its client
// coordinates are relative to where the window stood then, before the moves that the messages
// ahead of it caused; and the pointer itself may be further on already.
POINT MessagePointer() {
  const DWORD position = GetMessagePos();
  return POINT{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
}

void BeginMove(HWND hwnd, Pin& pin) {
  RECT window = {};
  GetWindowRect(hwnd, &window);
  pin.Moving = true;
  pin.MoveAnchor = MessagePointer();
  pin.MoveOrigin = {window.left, window.top};
  SetCapture(hwnd);
}

void ContinueMove(HWND hwnd, const Pin& pin) {
  if (!pin.Moving) return;
  const POINT pointer = MessagePointer();
  SetWindowPos(hwnd, nullptr, pin.MoveOrigin.x + pointer.x - pin.MoveAnchor.x,
               pin.MoveOrigin.y + pointer.y - pin.MoveAnchor.y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void EndMove(Pin& pin) {
  if (!pin.Moving) return;
  pin.Moving = false;
  ReleaseCapture();
}

// The wheel's lParam is in screen coordinates, unlike the other mouse messages'.
void OnWheel(HWND hwnd, Pin& pin, WPARAM wParam, LPARAM lParam) {
  const int notches = WheelNotches(pin.WheelRemainder, GET_WHEEL_DELTA_WPARAM(wParam));
  if (notches == 0) return;
  if (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) {
    SetOpacity(hwnd, pin, StepOpacity(pin.Opacity, notches));
    return;
  }
  ZoomTo(hwnd, pin, StepZoom(pin.Zoom, notches), PointFromLParam(lParam));
}

LRESULT OnKeyDown(HWND hwnd, Pin& pin, WPARAM key, LPARAM lParam) {
  switch (key) {
    case VK_ESCAPE:
      DestroyWindow(hwnd);
      return 0;
    case '0':
    case VK_NUMPAD0: {
      // No pointer to zoom about: the top-left corner stays.
      const RECT picture = PictureOnScreen(hwnd);
      ZoomTo(hwnd, pin, kPinFullSize, POINT{picture.left, picture.top});
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, WM_KEYDOWN, key, lParam);
  }
}

void SavePin(HWND hwnd, const Pin& pin) {
  std::wstring path;
  if (SavePictureAs(hwnd, pin.Picture.get(), path) == SaveOutcome::Failed) {
    MessageBoxW(hwnd, L"Fehler beim Speichern!", kAppTitle, MB_ICONERROR);
  }
}

// "Schließen" and "Alle schließen" destroy the pin: nothing may touch it after them.
void RunPinCommand(HWND hwnd, const Pin& pin, UINT command) {
  switch (command) {
    case IDM_PIN_COPY:
      CopyPictureToClipboard(pin.Picture.get());
      return;
    case IDM_PIN_SAVE:
      SavePin(hwnd, pin);
      return;
    case IDM_PIN_CLOSE:
      DestroyWindow(hwnd);
      return;
    case IDM_PIN_CLOSE_ALL:
      CloseAllPins();
      return;
    default:
      return;
  }
}

void ShowPinMenu(HWND hwnd, const Pin& pin, LPARAM lParam) {
  POINT at = PointFromLParam(lParam);
  // From the keyboard (Shift+F10, the menu key) the menu has no pointer to open at: both
  // coordinates are -1.
  if (at.x == -1 && at.y == -1) {
    const RECT picture = PictureOnScreen(hwnd);
    at = {(picture.left + picture.right) / 2, (picture.top + picture.bottom) / 2};
  }
  UniqueMenu menu(CreatePopupMenu());
  if (!menu) return;
  AppendMenuW(menu.get(), MF_STRING, IDM_PIN_COPY, GetLabel("pin_copy"));
  AppendMenuW(menu.get(), MF_STRING, IDM_PIN_SAVE, GetLabel("pin_save"));
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, IDM_PIN_CLOSE, GetLabel("pin_close"));
  AppendMenuW(menu.get(), MF_STRING, IDM_PIN_CLOSE_ALL, GetLabel("pin_close_all"));
  // A menu closes on a click elsewhere only while its owner is the foreground window.
  SetForegroundWindow(hwnd);
  const UINT command = static_cast<UINT>(TrackPopupMenu(
      menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd, nullptr));
  PostMessageW(hwnd, WM_NULL, 0, 0);
  menu.reset();
  RunPinCommand(hwnd, pin, command);
}

void OnPaint(HWND hwnd, const Pin& pin) {
  const PaintDc paint(hwnd);
  RECT client = {};
  GetClientRect(hwnd, &client);
  PaintPin(paint.get(), pin, client.right, client.bottom);
}

LRESULT HandlePinMessage(HWND hwnd, Pin& pin, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      pin.Window = hwnd;
      return 0;
    case WM_NCDESTROY:
      // The last message: the pin and its picture go with it.
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      Forget(&pin);
      return 0;
    case WM_PAINT:
      OnPaint(hwnd, pin);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the picture covers it all
    case WM_LBUTTONDOWN:
      BeginMove(hwnd, pin);
      return 0;
    case WM_MOUSEMOVE:
      ContinueMove(hwnd, pin);
      return 0;
    case WM_LBUTTONUP:
      EndMove(pin);
      return 0;
    case WM_CAPTURECHANGED:
      pin.Moving = false;
      return 0;
    case WM_LBUTTONDBLCLK:
      DestroyWindow(hwnd);
      return 0;
    case WM_MBUTTONDOWN:
      ZoomTo(hwnd, pin, kPinFullSize, ScreenPoint(hwnd, lParam));
      return 0;
    case WM_MOUSEWHEEL:
      OnWheel(hwnd, pin, wParam, lParam);
      return 0;
    case WM_KEYDOWN:
      return OnKeyDown(hwnd, pin, wParam, lParam);
    case WM_CONTEXTMENU:
      ShowPinMenu(hwnd, pin, lParam);
      return 0;
    case WM_DPICHANGED:
      return 0;  // one screen pixel per picture pixel on every monitor: the size stays
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT CALLBACK PinWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return StateWindowProc<Pin, HandlePinMessage>(hwnd, message, wParam, lParam);
}

// The pin keeps its pixels in a section of their own, which goes back to the system in one
// piece when the pin closes; a compatible bitmap's may stay behind in a heap (Wine's do).
UniqueBitmap SectionCopy(HBITMAP picture, SIZE size) {
  DWORD* pixels = nullptr;
  UniqueBitmap copy = CreatePixelBitmap(size.cx, size.cy, &pixels);
  const UniqueMemoryDc from(CreateCompatibleDC(nullptr));
  const UniqueMemoryDc to(CreateCompatibleDC(nullptr));
  if (!copy || !from || !to) return {};
  const SelectGuard selectFrom(from.get(), picture);
  const SelectGuard selectTo(to.get(), copy.get());
  if (!BitBlt(to.get(), 0, 0, size.cx, size.cy, from.get(), 0, 0, SRCCOPY)) return {};
  return copy;
}

bool RegisterPinClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  if (GetClassInfoExW(instance, kPinClass, &windowClass)) return true;
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = PinWndProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_SIZEALL);
  windowClass.lpszClassName = kPinClass;
  return RegisterClassExW(&windowClass) != 0;
}

}  // namespace

HWND CreatePin(HINSTANCE instance, UniqueBitmap picture, POINT place) {
  BITMAP info = {};
  if (!picture || !GetObjectW(picture.get(), sizeof info, &info)) return nullptr;
  if (!RegisterPinClass(instance)) return nullptr;
  auto pin = std::make_unique<Pin>();
  pin->Image = {info.bmWidth, info.bmHeight};
  pin->Picture = SectionCopy(picture.get(), pin->Image);
  picture.reset();
  if (!pin->Picture) return nullptr;
  Pin* const made = pin.get();
  g_pins.push_back(std::move(pin));
  const HWND hwnd = CreateWindowExW(kPinExStyle, kPinClass, kPinTitle, WS_POPUP,
                                    place.x - kFrame, place.y - kFrame,
                                    info.bmWidth + 2 * kFrame, info.bmHeight + 2 * kFrame,
                                    nullptr, nullptr, instance, made);
  if (!hwnd) {
    Forget(made);  // unless its WM_NCDESTROY has already
    return nullptr;
  }
  // The window the user goes back to once the overlay is gone keeps the focus.
  ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  return hwnd;
}

void CloseAllPins() {
  std::vector<HWND> open;
  for (const auto& pin : g_pins) open.push_back(pin->Window);
  for (const HWND hwnd : open) DestroyWindow(hwnd);
}

void PaintPin(HDC hdc, const Pin& pin, int width, int height) {
  const RECT all = {0, 0, width, height};
  const UniqueBrush frame(CreateSolidBrush(kSelectionColor));
  if (frame) FrameRect(hdc, &all, frame.get());
  const UniqueMemoryDc source(CreateCompatibleDC(hdc));
  if (!source) return;
  const SelectGuard select(source.get(), pin.Picture.get());
  const int shownWidth = width - 2 * kFrame;
  const int shownHeight = height - 2 * kFrame;
  if (shownWidth == pin.Image.cx && shownHeight == pin.Image.cy) {
    BitBlt(hdc, kFrame, kFrame, shownWidth, shownHeight, source.get(), 0, 0, SRCCOPY);
    return;
  }
  // Smaller, each screen pixel averages the pixels it covers; larger, each picture pixel becomes
  // a sharp block. Halftone needs its brush origin set again after the mode.
  const bool shrinking = shownWidth < pin.Image.cx;
  SetStretchBltMode(hdc, shrinking ? HALFTONE : COLORONCOLOR);
  if (shrinking) SetBrushOrgEx(hdc, 0, 0, nullptr);
  StretchBlt(hdc, kFrame, kFrame, shownWidth, shownHeight, source.get(), 0, 0, pin.Image.cx,
             pin.Image.cy, SRCCOPY);
}
