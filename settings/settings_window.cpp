#include "settings/settings_window.h"

#include <dwmapi.h>
#include <windowsx.h>

#include <cwctype>
#include <memory>
#include <string>

#include "app/app.h"
#include "app/dpi.h"
#include "app/gdiplus_handles.h"
#include "app/https.h"
#include "app/text.h"
#include "app/messages.h"
#include "app/notifier.h"
#include "app/win_handles.h"
#include "app/window_proc.h"
#include "settings/hotkey_field.h"
#include "settings/labels.h"
#include "settings/settings.h"
#include "settings/settings_layout.h"
#include "settings/settings_paint.h"

namespace {

constexpr wchar_t kSettingsClass[] = L"SnapwrenSettings";
constexpr wchar_t kNotSavedText[] =
    L"Die Einstellungen konnten nicht gespeichert werden.\n"
    L"Sie gelten nur, bis Snapwren beendet wird.";

constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kComboStyle = WS_CHILD | CBS_DROPDOWNLIST | CBS_HASSTRINGS;
constexpr DWORD kEditStyle = WS_CHILD | ES_AUTOHSCROLL;
constexpr int kLanguageListId = 1005;
constexpr int kDelayFieldId = 1006;
constexpr int kUploadUrlFieldId = 1007;
constexpr int kUploadKeyFieldId = 1008;
// Enough for any address a server can have; the edit refuses more.
constexpr WPARAM kFieldTextLimit = 2048;
// Windows 10 20H1 and later; older headers do not name it, and older systems ignore it.
constexpr DWORD kDarkTitleBarAttribute = 20;

constexpr int kFontHeight = 15;  // at 96 DPI

// What the open window owns, made from AppSettings at every opening and gone with the window.
struct SettingsWindowState {
  UniqueFont normalFont;
  UniqueFont boldFont;
  UniqueBrush surfaceBrush;
  HWND languageList = nullptr;
  HWND delayField = nullptr;
  HWND uploadUrlField = nullptr;
  HWND uploadKeyField = nullptr;
  SettingsView view;
  // Set once the window has taken it over, in WM_NCCREATE; it deletes it in WM_NCDESTROY.
  bool adopted = false;
};

HFONT CreateSettingsFont(int weight, UINT dpi) {
  return CreateFontW(Scale(kFontHeight, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH, kUiFontFamily);
}

SettingsFonts Fonts(const SettingsWindowState& state) {
  return {state.normalFont.get(), state.boldFont.get()};
}

void Repaint(HWND hwnd) { InvalidateRect(hwnd, nullptr, FALSE); }

void TrackMouseLeave(HWND hwnd) {
  TRACKMOUSEEVENT track = {};
  track.cbSize = sizeof track;
  track.dwFlags = TME_LEAVE;
  track.hwndTrack = hwnd;
  TrackMouseEvent(&track);
}

POINT PointFrom(LPARAM lParam) { return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

void PlaceControl(HWND control, const RECT& rect, HFONT font) {
  if (!control) return;
  SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// Fonts and the child controls' places and font for the window's DPI.
void ApplyDpi(SettingsWindowState& state, UINT dpi) {
  state.view.dpi = dpi;
  state.normalFont.reset(CreateSettingsFont(FW_NORMAL, dpi));
  state.boldFont.reset(CreateSettingsFont(FW_SEMIBOLD, dpi));
  const HFONT font = state.normalFont.get();
  PlaceControl(state.languageList, ScaleRect(kLanguageListRect, dpi), font);
  PlaceControl(state.delayField, SettingsEditRect(kDelayFieldRect, dpi), font);
  PlaceControl(state.uploadUrlField, SettingsEditRect(kUploadUrlFieldRect, dpi), font);
  PlaceControl(state.uploadKeyField, SettingsEditRect(kUploadKeyFieldRect, dpi), font);
}

HWND CreateField(HWND hwnd, int id, DWORD style, const std::wstring& text) {
  HWND field = CreateWindowExW(0, L"EDIT", text.c_str(), kEditStyle | style, 0, 0, 0, 0, hwnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
                               nullptr);
  if (field) SendMessageW(field, EM_LIMITTEXT, kFieldTextLimit, 0);
  return field;
}

// The controls of the general page, shown and hidden with it.
void ShowGeneralControls(const SettingsWindowState& state, int show) {
  for (HWND control : {state.languageList, state.delayField, state.uploadUrlField,
                       state.uploadKeyField}) {
    if (control) ShowWindow(control, show);
  }
}

std::wstring FieldText(HWND field) {
  if (!field) return {};
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(field, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A key copied from a mail or a terminal often brings a blank or a line end along.
std::wstring Trimmed(std::wstring text) {
  while (!text.empty() && std::iswspace(text.back())) text.pop_back();
  size_t first = 0;
  while (first < text.size() && std::iswspace(text[first])) ++first;
  return text.substr(first);
}

HWND CreateLanguageList(HWND hwnd, int selection) {
  HWND list = CreateWindowExW(0, L"ComboBox", L"", kComboStyle, 0, 0, 0, 0, hwnd,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLanguageListId)),
                              nullptr, nullptr);
  if (!list) return nullptr;
  // The language names stay as they are in both languages, so each can find its own.
  SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Deutsch"));
  SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"English"));
  // A language number the list does not know (say 7 from the file) selects nothing.
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selection), 0);
  return list;
}

void OnSettingsCreate(HWND hwnd, SettingsWindowState& state) {
  state.surfaceBrush.reset(CreateSolidBrush(kSettingsSurface));

  const BOOL dark = TRUE;
  DwmSetWindowAttribute(hwnd, kDarkTitleBarAttribute, &dark, sizeof dark);

  SettingsView& view = state.view;
  view = SettingsView{};
  view.autoCopyLink = AppSettings.AutoCopyLink;
  view.captureCursor = AppSettings.CaptureCursor;
  view.saveHistory = AppSettings.SaveHistory;
  view.hotkey = {AppSettings.Modifiers, AppSettings.Key, false};
  view.page = kGeneralPage;

  state.languageList = CreateLanguageList(hwnd, AppSettings.Language);
  state.delayField =
      CreateField(hwnd, kDelayFieldId, ES_NUMBER, std::to_wstring(AppSettings.CaptureDelay));
  state.uploadUrlField = CreateField(hwnd, kUploadUrlFieldId, 0, AppSettings.UploadUrl);
  // Masked: the key is a password, and screenshots of the settings are shared.
  state.uploadKeyField = CreateField(hwnd, kUploadKeyFieldId, ES_PASSWORD, AppSettings.UploadToken);
  ApplyDpi(state, DpiForWindow(hwnd));
  ShowGeneralControls(state, SW_SHOW);
  TrackMouseLeave(hwnd);
}

void OnSettingsPaint(HWND hwnd, const SettingsWindowState& state) {
  PaintDc paint(hwnd);
  RECT client = {};
  GetClientRect(hwnd, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;

  // Drawn off screen and copied in one go, so a repaint on every mouse move never flickers.
  UniqueBitmap bitmap(CreateCompatibleBitmap(paint.get(), width, height));
  UniqueMemoryDc memory(CreateCompatibleDC(paint.get()));
  if (!bitmap || !memory) {
    PaintSettings(paint.get(), client, state.view, Fonts(state));
    return;
  }
  SelectGuard selectBitmap(memory.get(), bitmap.get());
  PaintSettings(memory.get(), client, state.view, Fonts(state));
  BitBlt(paint.get(), 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
}

void OnSettingsKey(HWND hwnd, SettingsWindowState& state, WPARAM key, bool up) {
  HotkeyEdit& hotkey = state.view.hotkey;
  const auto virtualKey = static_cast<UINT>(key);
  const bool changed = up ? HandleRecordingKeyUp(hotkey, virtualKey, HeldModifiers())
                          : HandleRecordingKey(hotkey, virtualKey, HeldModifiers());
  if (changed) Repaint(hwnd);
}

// Moved to a monitor of another DPI: everything is drawn again at the new size, in the
// rectangle Windows suggests for it.
void OnSettingsDpiChanged(HWND hwnd, SettingsWindowState& state, WPARAM wParam, LPARAM lParam) {
  ApplyDpi(state, LOWORD(wParam));
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  Repaint(hwnd);
}

LRESULT OnLanguageListColor(const SettingsWindowState& state, HDC hdc) {
  SetTextColor(hdc, kSettingsText);
  SetBkColor(hdc, kSettingsSurface);
  return reinterpret_cast<LRESULT>(state.surfaceBrush.get());
}

void OnSettingsMouseMove(HWND hwnd, SettingsWindowState& state, LPARAM lParam) {
  state.view.hover = PointFrom(lParam);
  Repaint(hwnd);
  TrackMouseLeave(hwnd);
}

void OnSettingsMouseLeave(HWND hwnd, SettingsWindowState& state) {
  state.view.hover = {-1, -1};
  Repaint(hwnd);
}

void ApplyAndSave(HWND hwnd, SettingsWindowState& state) {
  SettingsView& view = state.view;
  // Uploads would fail one by one with the same reason; the user hears it now, and nothing
  // is stored until the address is one.
  const std::wstring uploadUrl = Trimmed(FieldText(state.uploadUrlField));
  if (state.uploadUrlField && !SecureAddress(uploadUrl)) {
    MessageBoxW(hwnd, GetLabel("bad_upload_url"), kAppTitle, MB_ICONWARNING);
    SetFocus(state.uploadUrlField);
    return;
  }
  const std::wstring uploadKey = Trimmed(FieldText(state.uploadKeyField));
  // Keys go into a request header, as every key a server makes can.
  if (!IsVisibleAscii(uploadKey)) {
    MessageBoxW(hwnd, GetLabel("bad_upload_key"), kAppTitle, MB_ICONWARNING);
    SetFocus(state.uploadKeyField);
    return;
  }
  view.hotkey.recording = false;
  if (state.uploadUrlField) AppSettings.UploadUrl = uploadUrl;
  if (state.uploadKeyField) AppSettings.UploadToken = uploadKey;
  const std::wstring delay = FieldText(state.delayField);
  if (!delay.empty()) AppSettings.CaptureDelay = ClampCaptureDelay(_wtoi64(delay.c_str()));
  AppSettings.SaveHistory = view.saveHistory;
  AppSettings.AutoCopyLink = view.autoCopyLink;
  AppSettings.CaptureCursor = view.captureCursor;
  // -1 when nothing is selected; any non-zero number means English. Without a list (its
  // creation failed) the language stays as it was rather than falling back to German.
  if (state.languageList) {
    AppSettings.Language = static_cast<int>(SendMessageW(state.languageList, CB_GETCURSEL, 0, 0));
  }
  AppSettings.Modifiers = view.hotkey.modifiers;
  AppSettings.Key = view.hotkey.key;

  // The window would close as if all went well; the user must learn that the file kept the
  // old values and the new ones last only for this run.
  if (!SaveSettings()) MessageBoxW(hwnd, kNotSavedText, kAppTitle, MB_ICONWARNING);
  if (g_trayWnd && IsWindow(g_trayWnd)) PostMessageW(g_trayWnd, WM_SETTINGS_CHANGED, 0, 0);
  DestroyWindow(hwnd);
}

void ShowPage(HWND hwnd, SettingsWindowState& state, int page) {
  SettingsView& view = state.view;
  if (view.page == page) return;
  view.page = page;
  if (page == kGeneralPage) view.hotkey.recording = false;
  ShowGeneralControls(state, page == kGeneralPage ? SW_SHOW : SW_HIDE);
  Repaint(hwnd);
}

void OnSettingsClick(HWND hwnd, SettingsWindowState& state, LPARAM lParam) {
  SettingsView& view = state.view;
  switch (SettingsHitTest(PointFrom(lParam), view.page, view.dpi)) {
    case SettingsElement::GeneralTab:
      ShowPage(hwnd, state, kGeneralPage);
      break;
    case SettingsElement::HotkeysTab:
      ShowPage(hwnd, state, kHotkeysPage);
      break;
    case SettingsElement::AutoCopyRow:
      view.autoCopyLink = !view.autoCopyLink;
      Repaint(hwnd);
      break;
    case SettingsElement::CaptureCursorRow:
      view.captureCursor = !view.captureCursor;
      Repaint(hwnd);
      break;
    case SettingsElement::SaveHistoryRow:
      view.saveHistory = !view.saveHistory;
      Repaint(hwnd);
      break;
    case SettingsElement::HotkeyField:
      view.hotkey.recording = true;
      // The keys must reach this window, even if the language list had the focus before.
      SetFocus(hwnd);
      Repaint(hwnd);
      break;
    case SettingsElement::SaveButton:
      ApplyAndSave(hwnd, state);
      break;
    case SettingsElement::CancelButton:
      DestroyWindow(hwnd);
      break;
    case SettingsElement::None:
      break;
  }
}

void RegisterSettingsClass() {
  // The class lives as long as the process, and so does its brush.
  static UniqueBrush classBrush(CreateSolidBrush(kSettingsBackground));
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = SettingsWndProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = classBrush.get();
  windowClass.lpszClassName = kSettingsClass;
  RegisterClassExW(&windowClass);
}

}  // namespace

void ShowSettingsWindow(HWND owner) {
  if (const HWND open = FindThreadWindow(kSettingsClass)) {
    SetForegroundWindow(open);
    return;
  }
  // A second registration fails and changes nothing.
  RegisterSettingsClass();
  auto state = std::make_unique<SettingsWindowState>();

  // Centred on the primary monitor, at its DPI.
  const UINT dpi = DpiForMonitor(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY));
  const RECT rect =
      CentredSettingsRect(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), dpi);
  HWND hwnd = CreateWindowExW(WS_EX_DLGMODALFRAME, kSettingsClass, GetLabel("settings"),
                              kWindowStyle, rect.left, rect.top, rect.right - rect.left,
                              rect.bottom - rect.top, owner, nullptr, GetModuleHandleW(nullptr),
                              state.get());
  if (state->adopted) static_cast<void>(state.release());
  if (!hwnd) return;
  if (g_appIcon) {
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_appIcon));
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_appIcon));
  }
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  SetForegroundWindow(hwnd);
}

namespace {

LRESULT HandleSettingsMessage(HWND hwnd, SettingsWindowState& state, UINT message,
                              WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      state.adopted = true;
      return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      delete &state;
      return 0;
    case WM_CREATE:
      OnSettingsCreate(hwnd, state);
      return 0;
    case WM_PAINT:
      OnSettingsPaint(hwnd, state);
      return 0;
    case WM_KEYDOWN:
      // Outside recording keys do nothing: the window has no keyboard navigation.
      OnSettingsKey(hwnd, state, wParam, false);
      return 0;
    case WM_KEYUP:
      OnSettingsKey(hwnd, state, wParam, true);
      return 0;
    case WM_DPICHANGED:
      OnSettingsDpiChanged(hwnd, state, wParam, lParam);
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      return OnLanguageListColor(state, reinterpret_cast<HDC>(wParam));
    case WM_MOUSEMOVE:
      OnSettingsMouseMove(hwnd, state, lParam);
      return 0;
    case WM_LBUTTONDOWN:
      OnSettingsClick(hwnd, state, lParam);
      return 0;
    case WM_MOUSELEAVE:
      OnSettingsMouseLeave(hwnd, state);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

LRESULT CALLBACK SettingsWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return StateWindowProc<SettingsWindowState, HandleSettingsMessage>(hwnd, message, wParam, lParam);
}
