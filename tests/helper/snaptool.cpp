// snaptool: the end-to-end tests' hands and eyes inside the Wine prefix. It finds windows,
// reads message boxes and menus, presses buttons, reads and writes the clipboard, holds hotkeys,
// shows a test picture and plays the shell, always through the real Win32 calls, and prints
// what it sees as UTF-8 JSON, one object per line. Copied to Snapwren_Update.exe it stands in
// for a downloaded installer.
//
// Exit codes: 0 done, 1 not found or timed out, 2 a Win32 call failed, 64 bad usage.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kNotFound = 1;
constexpr int kFailed = 2;
constexpr int kUsage = 64;
constexpr UINT kSendTimeoutMs = 2000;

// --- output: UTF-8 JSON lines, flushed at once (the tests read programs that keep running) ---

std::string Utf8(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  return bytes;
}

std::string Quote(const std::wstring& text) {
  std::string out = "\"";
  for (const char c : Utf8(text)) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Fields are added as key and ready-made JSON value.
class Json {
 public:
  Json& Raw(const char* key, const std::string& value) {
    body_ += (body_.empty() ? "\"" : ",\"") + std::string(key) + "\":" + value;
    return *this;
  }
  Json& Text(const char* key, const std::wstring& value) { return Raw(key, Quote(value)); }
  Json& Num(const char* key, long long value) { return Raw(key, std::to_string(value)); }
  Json& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
  Json& Hwnd(const char* key, HWND hwnd) {
    return Raw(key, "\"0x" + ToHex(reinterpret_cast<ULONG_PTR>(hwnd)) + "\"");
  }
  Json& Rect(const char* key, const RECT& r) {
    return Raw(key, "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                        std::to_string(r.right) + "," + std::to_string(r.bottom) + "]");
  }
  void Print() const {
    const std::string line = "{" + body_ + "}\n";
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
  }

 private:
  static std::string ToHex(ULONG_PTR value) {
    char text[24];
    snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
  }
  std::string body_;
};

// --- arguments: positional words and "--name value" options ---------------------------------

struct Args {
  std::vector<std::wstring> words;
  std::map<std::wstring, std::wstring> options;

  bool Has(const wchar_t* name) const { return options.count(name) != 0; }
  std::wstring Option(const wchar_t* name) const {
    const auto it = options.find(name);
    return it == options.end() ? L"" : it->second;
  }
  ULONG_PTR Number(size_t index) const {
    return index < words.size() ? wcstoull(words[index].c_str(), nullptr, 0) : 0;
  }
  HWND Window(size_t index = 0) const { return reinterpret_cast<HWND>(Number(index)); }
  DWORD Wait() const { return static_cast<DWORD>(wcstoul(Option(L"wait").c_str(), nullptr, 0)); }
};

Args Parse(int argc, wchar_t** argv) {
  Args args;
  for (int i = 2; i < argc; ++i) {
    const std::wstring word = argv[i];
    if (word.rfind(L"--", 0) != 0) {
      args.words.push_back(word);
    } else if (word == L"--visible" || word == L"--message" || word == L"--hold") {
      args.options[word.substr(2)] = L"1";
    } else if (i + 1 < argc) {
      args.options[word.substr(2)] = argv[++i];
    }
  }
  return args;
}

// Polls instead of sleeping for a guessed time: a window counts as soon as it exists.
bool Poll(DWORD timeoutMs, const std::function<bool()>& attempt) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!attempt()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(50);
  }
  return true;
}

// --- windows ---------------------------------------------------------------------------------

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

// WM_GETTEXT, not GetWindowTextW: for another process's window that returns only the stored
// name, while tooltips and statics answer WM_GETTEXT with what they show.
std::wstring TextOf(HWND hwnd) {
  wchar_t text[1024] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      kSendTimeoutMs, &copied);
  return text;
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

Json Describe(HWND hwnd) {
  RECT rect = {};
  GetWindowRect(hwnd, &rect);
  POINT origin = {0, 0};
  ClientToScreen(hwnd, &origin);
  return Json()
      .Hwnd("hwnd", hwnd)
      .Num("pid", ProcessOf(hwnd))
      .Text("class", ClassOf(hwnd))
      .Text("title", TextOf(hwnd))
      .Bool("visible", IsWindowVisible(hwnd) != FALSE)
      .Rect("rect", rect)
      .Raw("client", "[" + std::to_string(origin.x) + "," + std::to_string(origin.y) + "]")
      .Num("id", GetDlgCtrlID(hwnd))
      .Num("style", GetWindowLongW(hwnd, GWL_STYLE) & 0xFFFFFFFFLL)
      .Num("exstyle", GetWindowLongW(hwnd, GWL_EXSTYLE) & 0xFFFFFFFFLL)
      .Hwnd("owner", GetWindow(hwnd, GW_OWNER))
      .Bool("foreground", GetForegroundWindow() == hwnd);
}

// The top-level windows when parent is null (EnumChildWindows of null finds none in Wine).
std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  const WNDENUMPROC add = [](HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
  };
  if (parent) {
    EnumChildWindows(parent, add, reinterpret_cast<LPARAM>(&found));
  } else {
    EnumWindows(add, reinterpret_cast<LPARAM>(&found));
  }
  return found;
}

// Top-level windows, or the message-only ones, which EnumWindows leaves out.
std::vector<HWND> Windows(const Args& args) {
  std::vector<HWND> all;
  if (args.Has(L"message")) {
    for (HWND h = nullptr; (h = FindWindowExW(HWND_MESSAGE, h, nullptr, nullptr));) all.push_back(h);
  } else {
    all = Children(nullptr);
  }
  std::vector<HWND> found;
  for (HWND hwnd : all) {
    if (args.Has(L"visible") && !IsWindowVisible(hwnd)) continue;
    if (args.Has(L"class") && ClassOf(hwnd) != args.Option(L"class")) continue;
    if (args.Has(L"pid") && ProcessOf(hwnd) != wcstoul(args.Option(L"pid").c_str(), nullptr, 0)) {
      continue;
    }
    if (args.Has(L"title") && TextOf(hwnd) != args.Option(L"title")) continue;
    found.push_back(hwnd);
  }
  return found;
}

// windows [--class C] [--title T] [--pid N] [--visible] [--message] [--wait ms]
int CmdWindows(const Args& args) {
  std::vector<HWND> found;
  const bool any = Poll(args.Wait(), [&] { return !(found = Windows(args)).empty(); });
  for (HWND hwnd : found) Describe(hwnd).Print();
  return any ? 0 : kNotFound;
}

int CmdGone(const Args& args) {
  return Poll(args.Wait(), [&] { return !IsWindow(args.Window()); }) ? 0 : kNotFound;
}

int CmdChildren(const Args& args) {
  for (HWND hwnd : Children(args.Window())) Describe(hwnd).Print();
  return 0;
}

// --- message boxes: caption, text (the Static with id 0xFFFF), buttons and icon --------------

std::vector<COLORREF> Pixels(const RECT& rect, HICON icon, COLORREF background) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  if (icon) {
    HBRUSH brush = CreateSolidBrush(background);
    const RECT all = {0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  } else {
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  }
  std::vector<COLORREF> pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(memory, x, y));
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// The icon handle of another process's box cannot be drawn here (Wine keeps icon bits in the
// owning process), so the icon is told by its pixels on the screen: each standard icon is
// drawn on the same background and the nearest one wins.
std::wstring IconOf(HWND iconStatic) {
  if (!iconStatic) return L"none";
  RECT rect = {};
  GetWindowRect(iconStatic, &rect);
  const std::vector<COLORREF> shown = Pixels(rect, nullptr, 0);
  const std::pair<const wchar_t*, LPCWSTR> kIcons[] = {{L"information", IDI_INFORMATION},
                                                       {L"warning", IDI_WARNING},
                                                       {L"error", IDI_ERROR},
                                                       {L"question", IDI_QUESTION}};
  std::wstring best = L"unknown";
  long long bestDistance = 16LL * 3 * static_cast<long long>(shown.size());
  for (const auto& [name, resource] : kIcons) {
    const std::vector<COLORREF> drawn =
        Pixels(rect, LoadIconW(nullptr, resource), shown.empty() ? 0 : shown.front());
    long long distance = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
      distance += std::abs(GetRValue(shown[i]) - GetRValue(drawn[i])) +
                  std::abs(GetGValue(shown[i]) - GetGValue(drawn[i])) +
                  std::abs(GetBValue(shown[i]) - GetBValue(drawn[i]));
    }
    if (distance < bestDistance) bestDistance = distance, best = name;
  }
  return best;
}

// msgbox [--pid N] [--title T] [--wait ms]: the first visible dialog box.
int CmdMessageBox(Args args) {
  args.options[L"class"] = L"#32770";
  args.options[L"visible"] = L"1";
  std::vector<HWND> found;
  if (!Poll(args.Wait(), [&] { return !(found = Windows(args)).empty(); })) return kNotFound;
  std::wstring text;
  std::string buttons;
  HWND icon = nullptr;
  for (HWND child : Children(found[0])) {
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if (ClassOf(child) == L"Static" && GetDlgCtrlID(child) == 0xFFFF) text = TextOf(child);
    if (ClassOf(child) == L"Static" && (style & SS_TYPEMASK) == SS_ICON) icon = child;
    if (ClassOf(child) == L"Button" && IsWindowVisible(child)) {
      buttons += (buttons.empty() ? "" : ",") + std::to_string(GetDlgCtrlID(child));
    }
  }
  Describe(found[0]).Text("text", text).Raw("buttons", "[" + buttons + "]").Text("icon", IconOf(icon)).Print();
  return 0;
}

// click <hwnd> <id>: BM_CLICK on a dialog's button, posted: the click may end the dialog.
int CmdClick(const Args& args) {
  return PostMessageW(GetDlgItem(args.Window(), static_cast<int>(args.Number(1))), BM_CLICK, 0,
                      0)
             ? 0
             : kFailed;
}

int CmdSetText(const Args& args) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(args.Window(), WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(args.words.at(1).c_str()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)
             ? 0
             : kFailed;
}

// post <hwnd> <message> [wparam] [lparam]
int CmdPost(const Args& args) {
  return PostMessageW(args.Window(), static_cast<UINT>(args.Number(1)), args.Number(2),
                      static_cast<LPARAM>(args.Number(3)))
             ? 0
             : kFailed;
}

// --- popup menus -----------------------------------------------------------------------------

// Wine keeps a menu's items in the process that owns it: MN_GETHMENU answers with a handle,
// but GetMenuItemCount on it fails here. snapprobe.dll, hooked into the menu's thread, reads
// the items there and sends them back as WM_COPYDATA.
std::wstring g_menuAnswer;

LRESULT CALLBACK HiddenProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    g_menuAnswer.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / 2);
    return TRUE;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Top-level, not message-only: it is what keeps the virtual desktop alive.
HWND HiddenWindow() {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = HiddenProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"SnaptoolHidden";
  RegisterClassExW(&windowClass);
  return CreateWindowExW(WS_EX_TOOLWINDOW, L"SnaptoolHidden", L"snaptool", WS_POPUP, 0, 0, 1, 1,
                         nullptr, nullptr, windowClass.hInstance, nullptr);
}

int Pump() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

// menu [--wait ms]: the open popup menu's items with their screen rectangles.
int CmdMenu(Args args) {
  args.options[L"class"] = L"#32768";
  args.options[L"visible"] = L"1";
  std::vector<HWND> found;
  if (!Poll(args.Wait(), [&] { return !(found = Windows(args)).empty(); })) return kNotFound;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring probePath = self;
  probePath.resize(probePath.find_last_of(L'\\') + 1);
  HMODULE probe = LoadLibraryW((probePath + L"snapprobe.dll").c_str());
  auto hookProc = reinterpret_cast<HOOKPROC>(
      reinterpret_cast<void*>(GetProcAddress(probe, "SnapprobeCallWndProc")));
  HHOOK hook = hookProc ? SetWindowsHookExW(WH_CALLWNDPROC, hookProc, probe,
                                            GetWindowThreadProcessId(found[0], nullptr))
                        : nullptr;
  if (!hook) return kFailed;
  const HWND answer = HiddenWindow();
  DWORD_PTR result = 0;
  // While this send waits, the probe's WM_COPYDATA to `answer` is delivered here.
  SendMessageTimeoutW(found[0], RegisterWindowMessageW(L"SnaptoolProbeMenu"),
                      reinterpret_cast<WPARAM>(answer), 0, SMTO_ABORTIFHUNG, 5000, &result);
  UnhookWindowsHookEx(hook);
  // One item a line: id, type, state, left, top, right, bottom, then the text.
  for (size_t start = 0, end; (end = g_menuAnswer.find(L'\n', start)) != std::wstring::npos;
       start = end + 1) {
    const std::wstring line = g_menuAnswer.substr(start, end - start);
    long long n[7] = {};
    int used = 0;
    if (swscanf(line.c_str(), L"%lld %lld %lld %lld %lld %lld %lld %n", &n[0], &n[1], &n[2],
                &n[3], &n[4], &n[5], &n[6], &used) < 7) {
      continue;
    }
    Json()
        .Num("id", n[0])
        .Text("text", line.substr(static_cast<size_t>(used)))
        .Bool("separator", (n[1] & MFT_SEPARATOR) != 0)
        .Bool("marked", (n[2] & (MFS_CHECKED | MFS_DEFAULT)) != 0)
        .Rect("rect", RECT{static_cast<LONG>(n[3]), static_cast<LONG>(n[4]),
                           static_cast<LONG>(n[5]), static_cast<LONG>(n[6])})
        .Print();
  }
  return 0;
}

// --- staying around: keepalive, hotkeys, the test picture, a locked file ---------------------

int CmdKeepalive(const Args&) {
  HiddenWindow();
  Json().Num("pid", GetCurrentProcessId()).Print();
  return Pump();
}

// hotkey <modifiers> <vk> [--hold]: whether it is free; with --hold it stays registered.
int CmdHotkey(const Args& args) {
  const HWND hwnd = HiddenWindow();
  const BOOL registered = RegisterHotKey(hwnd, 1, static_cast<UINT>(args.Number(0)),
                                         static_cast<UINT>(args.Number(1)));
  Json().Bool("registered", registered).Num("error", registered ? 0 : GetLastError()).Print();
  if (registered && args.Has(L"hold")) return Pump();
  return registered ? 0 : kNotFound;
}

// Every pixel differs from its neighbours, so a picture shifted by a pixel never matches, and
// no channel is 0 or 255, so pure colours stand out. tests/e2e/conftest.py computes the same.
DWORD PatternAt(int x, int y) {
  auto mod = [](int a, int m) { return ((a % m) + m) % m; };
  return static_cast<DWORD>((20 + mod(x * 7, 200)) << 16 | (20 + mod(y * 5, 200)) << 8 |
                            (20 + mod((x + y) * 3, 200)));
}

// pattern <x> <y> <width> <height>: a window of known pixels at that place on the screen.
int CmdPattern(const Args& args) {
  static RECT place;
  place = {static_cast<LONG>(args.Number(0)), static_cast<LONG>(args.Number(1)),
           static_cast<LONG>(args.Number(0) + args.Number(2)),
           static_cast<LONG>(args.Number(1) + args.Number(3))};
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"SnaptoolPattern";
  windowClass.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message == WM_ERASEBKGND) return 1;
    if (message != WM_PAINT) return DefWindowProcW(hwnd, message, w, l);
    PAINTSTRUCT paint;
    HDC hdc = BeginPaint(hwnd, &paint);
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    std::vector<DWORD> pixels;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) pixels.push_back(PatternAt(place.left + x, place.top + y));
    }
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    SetDIBitsToDevice(hdc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                      static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    EndPaint(hwnd, &paint);
    return 0;
  };
  RegisterClassExW(&windowClass);
  // A plain popup: its client area is exactly the rectangle asked for.
  HWND hwnd = CreateWindowExW(0, L"SnaptoolPattern", L"Testbild", WS_POPUP | WS_VISIBLE,
                              place.left, place.top, place.right - place.left,
                              place.bottom - place.top, nullptr, nullptr, windowClass.hInstance,
                              nullptr);
  if (!hwnd) return kFailed;
  UpdateWindow(hwnd);
  Json().Hwnd("hwnd", hwnd).Num("pid", GetCurrentProcessId()).Print();
  return Pump();
}

// lock <file>: holds a file open without sharing, so that writing it fails.
int CmdLock(const Args& args) {
  if (CreateFileW(args.words.at(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr) == INVALID_HANDLE_VALUE) {
    return kFailed;
  }
  Json().Num("pid", GetCurrentProcessId()).Print();
  Sleep(INFINITE);
  return 0;
}

// --- the shell's notification area -----------------------------------------------------------

// tray: the taskbar's rectangle, then the tooltip windows it owns (the tray icons' tooltips
// and balloons under Wine 8), one line each.
int CmdTray(const Args&) {
  const HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (!tray) return kNotFound;
  RECT rect = {};
  GetWindowRect(tray, &rect);
  Json().Text("kind", L"taskbar").Rect("rect", rect).Print();
  for (HWND hwnd : Children(nullptr)) {
    if (ClassOf(hwnd) != L"tooltips_class32" || GetWindow(hwnd, GW_OWNER) != tray) continue;
    Json().Text("kind", L"tooltip").Text("text", TextOf(hwnd)).Bool("visible", IsWindowVisible(hwnd)).Print();
  }
  return 0;
}

// tray-delete <hwnd> <uid>: removes someone else's icon, as a crashed shell loses it.
int CmdTrayDelete(const Args& args) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = args.Window();
  data.uID = static_cast<UINT>(args.Number(1));
  return Shell_NotifyIconW(NIM_DELETE, &data) ? 0 : kFailed;
}

// broadcast <name>: what a restarted shell does with "TaskbarCreated".
int CmdBroadcast(const Args& args) {
  return SendNotifyMessageW(HWND_BROADCAST, RegisterWindowMessageW(args.words.at(0).c_str()), 0,
                            0)
             ? 0
             : kFailed;
}

// --- clipboard -------------------------------------------------------------------------------

// Another process may hold the clipboard for a moment.
bool OpenClipboardSoon(HWND owner) {
  return Poll(2000, [&] { return OpenClipboard(owner) != FALSE; });
}

std::wstring ClipboardText(bool& present) {
  present = false;
  std::wstring text;
  if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text.assign(chars, wcsnlen(chars, GlobalSize(data) / 2));
      present = true;
      GlobalUnlock(data);
    }
  }
  return text;
}

// clip-text: {"text": ...}, or {"text": null} when there is none.
int CmdClipText(const Args&) {
  if (!OpenClipboardSoon(nullptr)) return kFailed;
  bool present = false;
  const std::wstring text = ClipboardText(present);
  CloseClipboard();
  Json().Raw("text", present ? Quote(text) : "null").Print();
  return 0;
}

// clip-set <text>
int CmdClipSet(const Args& args) {
  const std::wstring& text = args.words.at(0);
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  if (!OpenClipboardSoon(HiddenWindow())) return kFailed;
  EmptyClipboard();
  const bool set = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  return set ? 0 : kFailed;
}

// clip-dib <file.bmp>: CF_DIB as a BMP file with its bytes as they were, and its header fields.
int CmdClipDib(const Args& args) {
  if (!OpenClipboardSoon(nullptr)) return kFailed;
  std::vector<BYTE> dib;
  if (const HANDLE data = GetClipboardData(CF_DIB)) {
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(data));
    dib.assign(bytes, bytes + GlobalSize(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  if (dib.size() < sizeof(BITMAPINFOHEADER)) return kNotFound;
  BITMAPINFOHEADER header;
  memcpy(&header, dib.data(), sizeof header);
  BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(sizeof file + dib.size()), 0, 0,
                           static_cast<DWORD>(sizeof file + header.biSize)};
  FILE* out = _wfopen(args.words.at(0).c_str(), L"wb");
  if (!out) return kFailed;
  fwrite(&file, sizeof file, 1, out);
  fwrite(dib.data(), 1, dib.size(), out);
  fclose(out);
  Json()
      .Num("size", static_cast<long long>(dib.size()))
      .Num("header", header.biSize)
      .Num("width", header.biWidth)
      .Num("height", header.biHeight)
      .Num("bits", header.biBitCount)
      .Num("compression", header.biCompression)
      .Print();
  return 0;
}

// clip-watch [--class C]: every change of the clipboard's text and every window of class C
// that appears, hides or goes, with milliseconds since the start, until killed. Polled every
// 10 ms from inside the prefix, where the test's own polling would be far too slow.
int CmdClipWatch(const Args& args) {
  const ULONGLONG start = GetTickCount64();
  auto event = [start](const wchar_t* name) {
    return Json().Num("t", static_cast<long long>(GetTickCount64() - start)).Text("event", name);
  };
  std::map<HWND, bool> shown;
  std::wstring last;
  bool first = true;
  event(L"ready").Print();
  for (;;) {
    // Under Wine the sequence number can move with the text unchanged: only text counts.
    if (OpenClipboard(nullptr)) {
      bool present = false;
      const std::wstring text = ClipboardText(present);
      CloseClipboard();
      if (!first && text != last) event(L"clipboard").Text("text", text).Print();
      last = text;
      first = false;
    }
    for (HWND hwnd : Windows(args)) {
      const bool visible = IsWindowVisible(hwnd) != FALSE;
      const auto it = shown.find(hwnd);
      if (it == shown.end()) {
        Describe(hwnd).Num("t", static_cast<long long>(GetTickCount64() - start)).Text("event", L"window").Print();
      } else if (it->second != visible) {
        event(visible ? L"shown" : L"hidden").Hwnd("hwnd", hwnd).Print();
      }
      shown[hwnd] = visible;
    }
    for (auto it = shown.begin(); it != shown.end();) {
      if (IsWindow(it->first)) {
        ++it;
        continue;
      }
      event(L"gone").Hwnd("hwnd", it->first).Print();
      it = shown.erase(it);
    }
    Sleep(10);
  }
}

// --- processes, files and the system ---------------------------------------------------------

// processes <exe name>: pid and image path of each running process of that name.
int CmdProcesses(const Args& args) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, args.words.at(0).c_str()) != 0) continue;
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process) QueryFullProcessImageNameW(process, 0, path, &size), CloseHandle(process);
    Json().Num("pid", entry.th32ProcessID).Text("path", path).Print();
  }
  CloseHandle(snapshot);
  return 0;
}

// trust-ca <file.der>: adds a certificate authority to the machine's trusted roots, so that
// WinHTTP accepts the tests' HTTPS servers.
int CmdTrustCa(const Args& args) {
  FILE* in = _wfopen(args.words.at(0).c_str(), L"rb");
  if (!in) return kNotFound;
  std::vector<BYTE> der(8192);
  der.resize(fread(der.data(), 1, der.size(), in));
  fclose(in);
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  const BOOL added = store && CertAddEncodedCertificateToStore(
                                  store, X509_ASN_ENCODING, der.data(),
                                  static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                  nullptr);
  if (store) CertCloseStore(store, 0);
  return added ? 0 : kFailed;
}

// As the downloaded installer: leaves its own path in installer-ran.txt beside itself.
int StandInForInstaller(const std::wstring& self) {
  FILE* mark = _wfopen((self.substr(0, self.find_last_of(L'\\') + 1) + L"installer-ran.txt").c_str(), L"wb");
  if (!mark) return kFailed;
  const std::string path = Utf8(self);
  fwrite(path.data(), 1, path.size(), mark);
  fclose(mark);
  return 0;
}

const std::pair<const wchar_t*, int (*)(const Args&)> kCommands[] = {
    {L"windows", CmdWindows},     {L"gone", CmdGone},
    {L"children", CmdChildren},   {L"msgbox", [](const Args& a) { return CmdMessageBox(a); }},
    {L"click", CmdClick},         {L"settext", CmdSetText},
    {L"post", CmdPost},           {L"menu", [](const Args& a) { return CmdMenu(a); }},
    {L"keepalive", CmdKeepalive}, {L"hotkey", CmdHotkey},
    {L"pattern", CmdPattern},     {L"lock", CmdLock},
    {L"tray", CmdTray},           {L"tray-delete", CmdTrayDelete},
    {L"broadcast", CmdBroadcast}, {L"clip-text", CmdClipText},
    {L"clip-set", CmdClipSet},    {L"clip-dib", CmdClipDib},
    {L"clip-watch", CmdClipWatch}, {L"processes", CmdProcesses},
    {L"trust-ca", CmdTrustCa},
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // In text mode msvcrt would turn every "\n" of a clipboard text into "\r\n".
  _setmode(_fileno(stdout), _O_BINARY);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (_wcsicmp(wcsrchr(self, L'\\') + 1, L"Snapwren_Update.exe") == 0) {
    return StandInForInstaller(self);
  }
  for (const auto& [name, run] : kCommands) {
    if (argc >= 2 && _wcsicmp(argv[1], name) == 0) return run(Parse(argc, argv));
  }
  fprintf(stderr, "usage: snaptool <command> [arguments]; see tests/helper/snaptool.cpp\n");
  return kUsage;
}
