// snaptool: the end-to-end tests' hands and eyes inside the Wine prefix. It finds windows, reads
// message boxes and menus, presses buttons, reads and writes the clipboard, holds hotkeys and
// plays the shell, always through the real Win32 calls, and prints what it sees as UTF-8 JSON
// (one object per line) so that the Python side needs nothing beyond its standard library.
//
// Exit codes: 0 done, 1 not found or timed out, 2 a Win32 call failed, 64 bad usage.
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool_output.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitFailed = 2;
constexpr int kExitUsage = 64;

// Polling, not sleeping for a guessed time: a window appears as soon as it exists.
constexpr DWORD kPollIntervalMs = 100;
// A hung target must not hang the test: every cross-process send has a time limit.
constexpr UINT kSendTimeoutMs = 2000;
// The message box puts its text into a Static with this id (on Windows and in Wine).
constexpr int kMessageBoxTextId = 0xFFFF;

// --- output ----------------------------------------------------------------------------------

void WriteError(const std::string& what, DWORD error) {
  fprintf(stderr, "snaptool: %s failed, error %lu\n", what.c_str(), error);
  fflush(stderr);
}

// A JSON object built field by field, printed as one line.
class JsonObject {
 public:
  JsonObject& Raw(const char* key, const std::string& json) {
    body_ += (body_.empty() ? "" : ",") + std::string("\"") + key + "\":" + json;
    return *this;
  }
  JsonObject& Text(const char* key, std::wstring_view value) { return Raw(key, JsonString(value)); }
  JsonObject& Number(const char* key, long long value) { return Raw(key, std::to_string(value)); }
  JsonObject& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
  std::string str() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

// --- arguments -------------------------------------------------------------------------------

// Positional arguments plus "--name value" options; "--flag" alone stands for "--flag 1".
struct Args {
  std::vector<std::wstring> positional;
  std::map<std::wstring, std::wstring> options;

  bool Has(const wchar_t* name) const { return options.count(name) != 0; }
  std::wstring Get(const wchar_t* name, const wchar_t* fallback = L"") const {
    const auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  }
};

// Options that take no value; everything else starting with "--" takes the next argument.
bool IsFlag(std::wstring_view name) {
  return name == L"visible" || name == L"message" || name == L"all" || name == L"quiet";
}

Args ParseArgs(int argc, wchar_t** argv, int first) {
  Args args;
  for (int i = first; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    if (arg.size() > 2 && arg.substr(0, 2) == L"--") {
      const std::wstring name(arg.substr(2));
      if (IsFlag(name) || i + 1 >= argc) {
        args.options[name] = L"1";
      } else {
        args.options[name] = argv[++i];
      }
    } else {
      args.positional.emplace_back(arg);
    }
  }
  return args;
}

// Accepts decimal and 0x-prefixed hexadecimal.
unsigned long long ParseNumber(const std::wstring& text) {
  return wcstoull(text.c_str(), nullptr, 0);
}

HWND ParseHwnd(const std::wstring& text) {
  return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(ParseNumber(text)));
}

DWORD TimeoutOf(const Args& args, DWORD fallback = 0) {
  return args.Has(L"timeout") ? static_cast<DWORD>(ParseNumber(args.Get(L"timeout"))) : fallback;
}

// Runs `attempt` every kPollIntervalMs until it succeeds or `timeoutMs` has passed (one try
// at least).
bool Poll(DWORD timeoutMs, const std::function<bool()>& attempt) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (attempt()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollIntervalMs);
  }
}

// --- windows ---------------------------------------------------------------------------------

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

// WM_GETTEXT rather than GetWindowTextW: for another process's window GetWindowTextW returns
// only the stored window name, while controls such as tooltips answer WM_GETTEXT with what
// they show.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length)) {
    return {};
  }
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied)) {
    return {};
  }
  text.resize(static_cast<size_t>(copied));
  return text;
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

std::string DescribeWindow(HWND hwnd) {
  RECT rect = {};
  GetWindowRect(hwnd, &rect);
  return JsonObject()
      .Raw("hwnd", HwndJson(hwnd))
      .Number("pid", ProcessOf(hwnd))
      .Text("class", ClassOf(hwnd))
      .Text("title", TextOf(hwnd))
      .Bool("visible", IsWindowVisible(hwnd) != FALSE)
      .Raw("rect", RectJson(rect))
      .Number("id", GetDlgCtrlID(hwnd))
      .Number("style", static_cast<long long>(GetWindowLongW(hwnd, GWL_STYLE) & 0xFFFFFFFFu))
      .Raw("owner", HwndJson(GetWindow(hwnd, GW_OWNER)))
      .str();
}

struct WindowFilter {
  std::optional<std::wstring> className;
  std::optional<std::wstring> title;
  std::optional<DWORD> pid;
  bool visibleOnly = false;

  static WindowFilter From(const Args& args) {
    WindowFilter filter;
    if (args.Has(L"class")) filter.className = args.Get(L"class");
    if (args.Has(L"title")) filter.title = args.Get(L"title");
    if (args.Has(L"pid")) filter.pid = static_cast<DWORD>(ParseNumber(args.Get(L"pid")));
    filter.visibleOnly = args.Has(L"visible");
    return filter;
  }

  bool Matches(HWND hwnd) const {
    if (visibleOnly && !IsWindowVisible(hwnd)) return false;
    if (className && ClassOf(hwnd) != *className) return false;
    if (pid && ProcessOf(hwnd) != *pid) return false;
    if (title && TextOf(hwnd) != *title) return false;
    return true;
  }
};

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// Message-only windows are not enumerated by EnumWindows; they are children of HWND_MESSAGE.
std::vector<HWND> MessageOnlyWindows() {
  std::vector<HWND> windows;
  for (HWND hwnd = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); hwnd;
       hwnd = FindWindowExW(HWND_MESSAGE, hwnd, nullptr, nullptr)) {
    windows.push_back(hwnd);
  }
  return windows;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> windows;
  EnumChildWindows(
      parent,
      [](HWND hwnd, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> FindWindows(const WindowFilter& filter, bool messageOnly) {
  std::vector<HWND> found;
  for (HWND hwnd : messageOnly ? MessageOnlyWindows() : TopLevelWindows()) {
    if (filter.Matches(hwnd)) found.push_back(hwnd);
  }
  return found;
}

// windows [--message] [--class C] [--title T] [--pid N] [--visible]
int CmdWindows(const Args& args) {
  for (HWND hwnd : FindWindows(WindowFilter::From(args), args.Has(L"message"))) {
    WriteLine(DescribeWindow(hwnd));
  }
  return kExitOk;
}

// find [--message] [--class C] [--title T] [--pid N] [--visible] [--timeout ms] [--all]
// Prints the first match (or all with --all); exit 1 when none appeared in time.
int CmdFind(const Args& args) {
  const WindowFilter filter = WindowFilter::From(args);
  std::vector<HWND> found;
  Poll(TimeoutOf(args), [&] {
    found = FindWindows(filter, args.Has(L"message"));
    return !found.empty();
  });
  if (found.empty()) return kExitNotFound;
  if (!args.Has(L"all")) found.resize(1);
  for (HWND hwnd : found) WriteLine(DescribeWindow(hwnd));
  return kExitOk;
}

// gone --hwnd H [--timeout ms]: waits until a window no longer exists.
int CmdGone(const Args& args) {
  const HWND hwnd = ParseHwnd(args.Get(L"hwnd"));
  return Poll(TimeoutOf(args), [&] { return !IsWindow(hwnd); }) ? kExitOk : kExitNotFound;
}

// children <hwnd>: every descendant window, depth first.
int CmdChildren(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  const HWND parent = ParseHwnd(args.positional[0]);
  if (!IsWindow(parent)) return kExitNotFound;
  for (HWND hwnd : ChildWindows(parent)) WriteLine(DescribeWindow(hwnd));
  return kExitOk;
}

// text <hwnd>: what the window answers to WM_GETTEXT, raw UTF-8 without a line end.
int CmdText(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  const HWND hwnd = ParseHwnd(args.positional[0]);
  if (!IsWindow(hwnd)) return kExitNotFound;
  Write(Utf8(TextOf(hwnd)));
  return kExitOk;
}

// --- message boxes and dialogs ---------------------------------------------------------------

struct IconReference {
  const wchar_t* name;
  LPCWSTR resource;
};

// Wine draws the same shared system icons as Windows' MessageBox for each MB_ICON* value.
const IconReference kStandardIcons[] = {
    {L"information", IDI_INFORMATION},
    {L"warning", IDI_WARNING},
    {L"error", IDI_ERROR},
    {L"question", IDI_QUESTION},
};

std::vector<COLORREF> GrabScreen(const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  std::vector<COLORREF> pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(memory, x, y));
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

std::vector<COLORREF> RenderIcon(HICON icon, int width, int height, COLORREF background) {
  std::vector<COLORREF> pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  HBRUSH brush = CreateSolidBrush(background);
  const RECT all = {0, 0, width, height};
  FillRect(memory, &all, brush);
  DeleteObject(brush);
  DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(memory, x, y));
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

long long PixelDistance(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
  long long sum = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    sum += std::abs(GetRValue(a[i]) - GetRValue(b[i])) +
           std::abs(GetGValue(a[i]) - GetGValue(b[i])) +
           std::abs(GetBValue(a[i]) - GetBValue(b[i]));
  }
  return sum;
}

// The icon handle inside another process's message box cannot be drawn from here (Wine keeps
// icon bits in the owning process), so the icon is recognised by its pixels on the screen:
// the Static is drawn again with each standard icon on its own background colour and the
// closest one wins. The box must be visible and uncovered.
std::wstring RecogniseIcon(HWND iconStatic) {
  if (!iconStatic || !IsWindowVisible(iconStatic)) return L"none";
  RECT rect = {};
  GetWindowRect(iconStatic, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return L"none";
  const std::vector<COLORREF> shown = GrabScreen(rect);
  const COLORREF background = shown.front();
  bool blank = true;
  for (COLORREF pixel : shown) blank = blank && pixel == background;
  if (blank) return L"none";

  std::wstring best = L"unknown";
  long long bestDistance = -1;
  for (const IconReference& reference : kStandardIcons) {
    HICON icon = LoadIconW(nullptr, reference.resource);
    const long long distance = PixelDistance(shown, RenderIcon(icon, width, height, background));
    if (bestDistance < 0 || distance < bestDistance) {
      bestDistance = distance;
      best = reference.name;
    }
  }
  // More than an average difference of 16 per channel is no match at all.
  const long long limit = 16LL * 3 * width * height;
  return bestDistance <= limit ? best : L"unknown";
}

bool IsButton(HWND hwnd) {
  if (ClassOf(hwnd) != L"Button") return false;
  const LONG type = GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

std::string DescribeDialog(HWND dialog) {
  std::wstring text;
  HWND iconStatic = nullptr;
  std::string buttons;
  for (HWND child : ChildWindows(dialog)) {
    const int id = GetDlgCtrlID(child);
    if (id == kMessageBoxTextId && ClassOf(child) == L"Static") {
      text = TextOf(child);
    } else if (ClassOf(child) == L"Static" &&
               (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      iconStatic = child;
    } else if (IsButton(child) && IsWindowVisible(child)) {
      buttons += (buttons.empty() ? "" : ",") +
                 JsonObject().Number("id", id).Text("text", TextOf(child)).str();
    }
  }
  return JsonObject()
      .Raw("hwnd", HwndJson(dialog))
      .Number("pid", ProcessOf(dialog))
      .Text("caption", TextOf(dialog))
      .Text("text", text)
      .Raw("buttons", "[" + buttons + "]")
      .Text("icon", RecogniseIcon(iconStatic))
      .str();
}

// msgbox [hwnd] [--pid N] [--title T] [--timeout ms]: waits for a visible dialog ("#32770")
// and prints its caption, message, buttons and icon.
int CmdMessageBox(const Args& args) {
  HWND dialog = nullptr;
  if (!args.positional.empty()) {
    dialog = ParseHwnd(args.positional[0]);
  } else {
    WindowFilter filter = WindowFilter::From(args);
    filter.className = L"#32770";
    filter.visibleOnly = true;
    Poll(TimeoutOf(args), [&] {
      const std::vector<HWND> found = FindWindows(filter, false);
      dialog = found.empty() ? nullptr : found.front();
      return dialog != nullptr;
    });
  }
  if (!dialog || !IsWindow(dialog)) return kExitNotFound;
  WriteLine(DescribeDialog(dialog));
  return kExitOk;
}

// click <dialog> <id>: presses a button the way a mouse click would (BM_CLICK).
int CmdClick(const Args& args) {
  if (args.positional.size() < 2) return kExitUsage;
  const HWND dialog = ParseHwnd(args.positional[0]);
  const HWND button = GetDlgItem(dialog, static_cast<int>(ParseNumber(args.positional[1])));
  if (!button) return kExitNotFound;
  // Posted, not sent: the click may end the dialog and with it the sender's wait.
  if (!PostMessageW(button, BM_CLICK, 0, 0)) {
    WriteError("PostMessage(BM_CLICK)", GetLastError());
    return kExitFailed;
  }
  return kExitOk;
}

// settext <hwnd> <text>: WM_SETTEXT, for edit fields of dialogs.
int CmdSetText(const Args& args) {
  if (args.positional.size() < 2) return kExitUsage;
  const HWND hwnd = ParseHwnd(args.positional[0]);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, WM_SETTEXT, 0,
                           reinterpret_cast<LPARAM>(args.positional[1].c_str()), SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &result)) {
    WriteError("WM_SETTEXT", GetLastError());
    return kExitFailed;
  }
  return kExitOk;
}

// send <hwnd> <message> [wparam] [lparam]: the message may be a number or a registered name;
// prints the result.
int CmdSend(const Args& args) {
  if (args.positional.size() < 2) return kExitUsage;
  const HWND hwnd = ParseHwnd(args.positional[0]);
  const std::wstring& name = args.positional[1];
  const UINT message = iswdigit(name[0]) ? static_cast<UINT>(ParseNumber(name))
                                         : RegisterWindowMessageW(name.c_str());
  const auto wparam =
      static_cast<WPARAM>(args.positional.size() > 2 ? ParseNumber(args.positional[2]) : 0);
  const auto lparam =
      static_cast<LPARAM>(args.positional.size() > 3 ? ParseNumber(args.positional[3]) : 0);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &result)) {
    WriteError("SendMessageTimeout", GetLastError());
    return kExitFailed;
  }
  WriteLine(JsonObject().Number("result", static_cast<long long>(result)).str());
  return kExitOk;
}

// close <hwnd>: WM_CLOSE, as the window's close box would send.
int CmdClose(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  return PostMessageW(ParseHwnd(args.positional[0]), WM_CLOSE, 0, 0) ? kExitOk : kExitFailed;
}

// redraw <hwnd>: invalidates the whole window, as uncovering it does; its program repaints it.
int CmdRedraw(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  return RedrawWindow(ParseHwnd(args.positional[0]), nullptr, nullptr, RDW_INVALIDATE)
             ? kExitOk
             : kExitFailed;
}

// --- popup menus -----------------------------------------------------------------------------

// Wine keeps a menu's items in the process that owns it: MN_GETHMENU answers with a handle
// across processes, but GetMenuItemCount on that handle fails here. snapprobe.dll, hooked into
// the menu's thread, reads the items there and sends them back as WM_COPYDATA.
constexpr wchar_t kMenuRequest[] = L"SnaptoolProbeMenu";
constexpr ULONG_PTR kMenuAnswer = 0x554E454D;
std::wstring g_menuAnswer;

std::wstring ProbePath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring directory = path;
  directory.resize(directory.find_last_of(L"\\/") + 1);
  return directory + L"snapprobe.dll";
}

HWND CreateHiddenWindow(const wchar_t* title);

bool AskProbeForMenu(HWND menuWindow) {
  HMODULE probe = LoadLibraryW(ProbePath().c_str());
  if (!probe) {
    WriteError("LoadLibrary(snapprobe.dll)", GetLastError());
    return false;
  }
  const auto hookProc =
      reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(probe,
                                                                        "SnapprobeCallWndProc")));
  const DWORD thread = GetWindowThreadProcessId(menuWindow, nullptr);
  HHOOK hook = hookProc ? SetWindowsHookExW(WH_CALLWNDPROC, hookProc, probe, thread) : nullptr;
  if (!hook) {
    WriteError("SetWindowsHookEx", GetLastError());
    FreeLibrary(probe);
    return false;
  }
  const HWND answerWindow = CreateHiddenWindow(L"snaptool menu");
  DWORD_PTR result = 0;
  // While this send waits, the probe's WM_COPYDATA to answerWindow is delivered to us.
  SendMessageTimeoutW(menuWindow, RegisterWindowMessageW(kMenuRequest),
                      reinterpret_cast<WPARAM>(answerWindow), 0, SMTO_ABORTIFHUNG, 5000, &result);
  UnhookWindowsHookEx(hook);
  DestroyWindow(answerWindow);
  FreeLibrary(probe);
  return !g_menuAnswer.empty();
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator, size_t maxParts) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (parts.size() + 1 < maxParts) {
    const size_t end = text.find(separator, start);
    if (end == std::wstring::npos) break;
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

// menu [--timeout ms]: the items of the open popup menu, one line each, with their screen
// rectangles (for clicking them).
int CmdMenu(const Args& args) {
  HWND menuWindow = nullptr;
  WindowFilter filter;
  filter.className = L"#32768";
  filter.visibleOnly = true;
  Poll(TimeoutOf(args), [&] {
    const std::vector<HWND> found = FindWindows(filter, false);
    menuWindow = found.empty() ? nullptr : found.front();
    return menuWindow != nullptr;
  });
  if (!menuWindow) return kExitNotFound;
  if (!AskProbeForMenu(menuWindow)) return kExitFailed;

  for (const std::wstring& line : Split(g_menuAnswer, L'\n', SIZE_MAX)) {
    const std::vector<std::wstring> fields = Split(line, L'\t', 6);
    if (fields.size() < 6) continue;
    const auto type = static_cast<UINT>(ParseNumber(fields[2]));
    const auto state = static_cast<UINT>(ParseNumber(fields[3]));
    WriteLine(JsonObject()
                  .Number("index", static_cast<long long>(ParseNumber(fields[0])))
                  .Number("id", static_cast<long long>(ParseNumber(fields[1])))
                  .Text("text", fields[5])
                  .Bool("separator", (type & MFT_SEPARATOR) != 0)
                  .Bool("checked", (state & MFS_CHECKED) != 0)
                  .Bool("disabled", (state & MFS_DISABLED) != 0)
                  .Bool("default", (state & MFS_DEFAULT) != 0)
                  .Raw("rect", "[" + Utf8(fields[4]) + "]")
                  .str());
  }
  return kExitOk;
}

// --- hidden windows: keepalive and hotkeys ----------------------------------------------------

constexpr wchar_t kHiddenClass[] = L"SnaptoolHidden";

LRESULT CALLBACK HiddenWndProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_HOTKEY:
      WriteLine(JsonObject().Text("event", L"hotkey").Number("id", static_cast<long long>(wparam))
                    .str());
      return 0;
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      if (data->dwData != kMenuAnswer || data->cbData < sizeof(wchar_t)) return FALSE;
      g_menuAnswer.assign(static_cast<const wchar_t*>(data->lpData),
                          data->cbData / sizeof(wchar_t) - 1);
      return TRUE;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

// A hidden top-level window (not message-only): it is what keeps the virtual desktop alive.
HWND CreateHiddenWindow(const wchar_t* title) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = HiddenWndProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kHiddenClass;
  RegisterClassExW(&windowClass);
  return CreateWindowExW(WS_EX_TOOLWINDOW, kHiddenClass, title, WS_POPUP, 0, 0, 1, 1, nullptr,
                         nullptr, windowClass.hInstance, nullptr);
}

int RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return kExitOk;
}

// keepalive: owns a hidden window until killed. The virtual desktop, and with it the
// clipboard, shuts down about a second after the last process with a window has gone.
int CmdKeepalive(const Args&) {
  if (!CreateHiddenWindow(L"snaptool keepalive")) {
    WriteError("CreateWindowEx", GetLastError());
    return kExitFailed;
  }
  WriteLine(JsonObject().Text("event", L"ready").Number("pid", GetCurrentProcessId()).str());
  return RunMessageLoop();
}

struct Hotkey {
  UINT modifiers;
  UINT key;
};

std::optional<Hotkey> HotkeyOf(const Args& args) {
  if (args.positional.size() < 2) return std::nullopt;
  return Hotkey{static_cast<UINT>(ParseNumber(args.positional[0])),
                static_cast<UINT>(ParseNumber(args.positional[1]))};
}

constexpr int kHelperHotkeyId = 1;

// hotkey-try <modifiers> <vk>: registers and releases at once; prints whether it was free.
// Exit 0 when it could be registered, 1 when another program holds it.
int CmdHotkeyTry(const Args& args) {
  const std::optional<Hotkey> hotkey = HotkeyOf(args);
  if (!hotkey) return kExitUsage;
  const HWND hwnd = CreateHiddenWindow(L"snaptool hotkey-try");
  const BOOL registered = RegisterHotKey(hwnd, kHelperHotkeyId, hotkey->modifiers, hotkey->key);
  const DWORD error = registered ? 0 : GetLastError();
  if (registered) UnregisterHotKey(hwnd, kHelperHotkeyId);
  DestroyWindow(hwnd);
  WriteLine(JsonObject().Bool("registered", registered != FALSE).Number("error", error).str());
  return registered ? kExitOk : kExitNotFound;
}

// hotkey-hold <modifiers> <vk>: registers and keeps the hotkey until killed, printing a line
// for the registration and one per WM_HOTKEY.
int CmdHotkeyHold(const Args& args) {
  const std::optional<Hotkey> hotkey = HotkeyOf(args);
  if (!hotkey) return kExitUsage;
  const HWND hwnd = CreateHiddenWindow(L"snaptool hotkey-hold");
  const BOOL registered = RegisterHotKey(hwnd, kHelperHotkeyId, hotkey->modifiers, hotkey->key);
  const DWORD error = registered ? 0 : GetLastError();
  WriteLine(JsonObject()
                .Text("event", L"registered")
                .Bool("registered", registered != FALSE)
                .Number("error", error)
                .Number("pid", GetCurrentProcessId())
                .str());
  if (!registered) return kExitFailed;
  return RunMessageLoop();
}

// --- processes -------------------------------------------------------------------------------

// wait-exit <pid> [--timeout ms]: waits for a running process and prints its exit code.
int CmdWaitExit(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  const auto pid = static_cast<DWORD>(ParseNumber(args.positional[0]));
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) {
    WriteError("OpenProcess", GetLastError());
    return kExitNotFound;
  }
  const DWORD waited = WaitForSingleObject(process, args.Has(L"timeout") ? TimeoutOf(args)
                                                                         : INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process, &exitCode);
  CloseHandle(process);
  if (waited != WAIT_OBJECT_0) return kExitNotFound;
  WriteLine(JsonObject().Number("exit", exitCode).str());
  return kExitOk;
}

// kill <pid> [code]: TerminateProcess, for a process that no longer listens.
int CmdKill(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  const auto pid = static_cast<DWORD>(ParseNumber(args.positional[0]));
  const auto code =
      static_cast<UINT>(args.positional.size() > 1 ? ParseNumber(args.positional[1]) : 1);
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!process) return kExitNotFound;
  const BOOL done = TerminateProcess(process, code);
  CloseHandle(process);
  return done ? kExitOk : kExitFailed;
}

// --- the shell's notification area -----------------------------------------------------------

// tray-delete <hwnd> <uid>: removes someone else's tray icon, as a crashed shell loses it.
int CmdTrayDelete(const Args& args) {
  if (args.positional.size() < 2) return kExitUsage;
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = ParseHwnd(args.positional[0]);
  data.uID = static_cast<UINT>(ParseNumber(args.positional[1]));
  const BOOL removed = Shell_NotifyIconW(NIM_DELETE, &data);
  WriteLine(JsonObject().Bool("removed", removed != FALSE).str());
  return removed ? kExitOk : kExitFailed;
}

// broadcast <registered message name>: what a restarted shell does with "TaskbarCreated".
int CmdBroadcast(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  const UINT message = RegisterWindowMessageW(args.positional[0].c_str());
  if (!SendNotifyMessageW(HWND_BROADCAST, message, 0, 0)) {
    WriteError("SendNotifyMessage", GetLastError());
    return kExitFailed;
  }
  WriteLine(JsonObject().Number("message", message).str());
  return kExitOk;
}

// tray: the shell's taskbar window, then its tooltips, one line each. Wine 8 draws every icon
// inside "Shell_TrayWnd" from the right edge leftwards and gives each icon a tooltip window
// owned by the taskbar; later Wine versions give each icon a child window of its own
// ("__wine_tray_icon"), which are listed too.
int CmdTray(const Args&) {
  const HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (!tray) return kExitNotFound;
  RECT rect = {};
  GetWindowRect(tray, &rect);
  WriteLine(JsonObject()
                .Text("kind", L"taskbar")
                .Raw("hwnd", HwndJson(tray))
                .Bool("visible", IsWindowVisible(tray) != FALSE)
                .Raw("rect", RectJson(rect))
                .str());
  std::vector<HWND> owners = {tray};
  for (HWND child : ChildWindows(tray)) {
    if (ClassOf(child) != L"__wine_tray_icon") continue;
    owners.push_back(child);
    GetWindowRect(child, &rect);
    WriteLine(JsonObject()
                  .Text("kind", L"icon")
                  .Raw("hwnd", HwndJson(child))
                  .Bool("visible", IsWindowVisible(child) != FALSE)
                  .Raw("rect", RectJson(rect))
                  .str());
  }
  for (HWND hwnd : TopLevelWindows()) {
    if (ClassOf(hwnd) != L"tooltips_class32") continue;
    const HWND owner = GetWindow(hwnd, GW_OWNER);
    bool ours = false;
    for (HWND candidate : owners) ours = ours || candidate == owner;
    if (!ours) continue;
    GetWindowRect(hwnd, &rect);
    WriteLine(JsonObject()
                  .Text("kind", L"tooltip")
                  .Raw("hwnd", HwndJson(hwnd))
                  .Raw("owner", HwndJson(owner))
                  .Text("text", TextOf(hwnd))
                  .Bool("visible", IsWindowVisible(hwnd) != FALSE)
                  .Raw("rect", RectJson(rect))
                  .str());
  }
  return kExitOk;
}

// --- screen ----------------------------------------------------------------------------------

// metrics: the screen geometry as the program sees it.
int CmdMetrics(const Args&) {
  POINT cursor = {};
  GetCursorPos(&cursor);
  WriteLine(JsonObject()
                .Number("virtual_left", GetSystemMetrics(SM_XVIRTUALSCREEN))
                .Number("virtual_top", GetSystemMetrics(SM_YVIRTUALSCREEN))
                .Number("virtual_width", GetSystemMetrics(SM_CXVIRTUALSCREEN))
                .Number("virtual_height", GetSystemMetrics(SM_CYVIRTUALSCREEN))
                .Number("screen_width", GetSystemMetrics(SM_CXSCREEN))
                .Number("screen_height", GetSystemMetrics(SM_CYSCREEN))
                .Number("monitors", GetSystemMetrics(SM_CMONITORS))
                .Raw("cursor", "[" + std::to_string(cursor.x) + "," + std::to_string(cursor.y) +
                                   "]")
                .Raw("foreground", HwndJson(GetForegroundWindow()))
                .str());
  return kExitOk;
}

// --- clipboard -------------------------------------------------------------------------------

// Another process may hold the clipboard for a moment; retry instead of failing at once.
bool OpenClipboardPatiently(HWND owner) {
  return Poll(2000, [&] { return OpenClipboard(owner) != FALSE; });
}

class ClipboardSession {
 public:
  explicit ClipboardSession(HWND owner) : open_(OpenClipboardPatiently(owner)) {}
  ~ClipboardSession() {
    if (open_) CloseClipboard();
  }
  ClipboardSession(const ClipboardSession&) = delete;
  ClipboardSession& operator=(const ClipboardSession&) = delete;
  bool open() const { return open_; }

 private:
  bool open_;
};

std::wstring FormatName(UINT format) {
  static const std::map<UINT, const wchar_t*> kStandard = {
      {CF_TEXT, L"CF_TEXT"},           {CF_BITMAP, L"CF_BITMAP"},
      {CF_METAFILEPICT, L"CF_METAFILEPICT"}, {CF_SYLK, L"CF_SYLK"},
      {CF_DIF, L"CF_DIF"},             {CF_TIFF, L"CF_TIFF"},
      {CF_OEMTEXT, L"CF_OEMTEXT"},     {CF_DIB, L"CF_DIB"},
      {CF_PALETTE, L"CF_PALETTE"},     {CF_PENDATA, L"CF_PENDATA"},
      {CF_RIFF, L"CF_RIFF"},           {CF_WAVE, L"CF_WAVE"},
      {CF_UNICODETEXT, L"CF_UNICODETEXT"}, {CF_ENHMETAFILE, L"CF_ENHMETAFILE"},
      {CF_HDROP, L"CF_HDROP"},         {CF_LOCALE, L"CF_LOCALE"},
      {CF_DIBV5, L"CF_DIBV5"},
  };
  const auto it = kStandard.find(format);
  if (it != kStandard.end()) return it->second;
  wchar_t name[256] = {};
  return GetClipboardFormatNameW(format, name, 256) ? name : L"";
}

// clip-formats: one line per format on the clipboard.
int CmdClipFormats(const Args&) {
  ClipboardSession clipboard(nullptr);
  if (!clipboard.open()) {
    WriteError("OpenClipboard", GetLastError());
    return kExitFailed;
  }
  for (UINT format = EnumClipboardFormats(0); format; format = EnumClipboardFormats(format)) {
    WriteLine(JsonObject().Number("id", format).Text("name", FormatName(format)).str());
  }
  return kExitOk;
}

// clip-text: CF_UNICODETEXT as raw UTF-8 without a line end; exit 1 when there is none.
int CmdClipText(const Args&) {
  ClipboardSession clipboard(nullptr);
  if (!clipboard.open()) {
    WriteError("OpenClipboard", GetLastError());
    return kExitFailed;
  }
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (!data) return kExitNotFound;
  const auto* text = static_cast<const wchar_t*>(GlobalLock(data));
  if (!text) return kExitFailed;
  const size_t limit = GlobalSize(data) / sizeof(wchar_t);
  Write(Utf8(std::wstring_view(text, wcsnlen(text, limit))));
  GlobalUnlock(data);
  return kExitOk;
}

bool PutOnClipboard(UINT format, const void* bytes, size_t size) {
  HWND owner = CreateHiddenWindow(L"snaptool clipboard");
  ClipboardSession clipboard(owner);
  if (!clipboard.open()) {
    WriteError("OpenClipboard", GetLastError());
    return false;
  }
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!memory) return false;
  memcpy(GlobalLock(memory), bytes, size);
  GlobalUnlock(memory);
  if (!SetClipboardData(format, memory)) {
    WriteError("SetClipboardData", GetLastError());
    GlobalFree(memory);
    return false;
  }
  return true;
}

// clip-set-text <text>
int CmdClipSetText(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  const std::wstring& text = args.positional[0];
  return PutOnClipboard(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t))
             ? kExitOk
             : kExitFailed;
}

// clip-clear
int CmdClipClear(const Args&) {
  HWND owner = CreateHiddenWindow(L"snaptool clipboard");
  ClipboardSession clipboard(owner);
  if (!clipboard.open()) return kExitFailed;
  return EmptyClipboard() ? kExitOk : kExitFailed;
}

// Where the pixels start behind a packed DIB's header: bit-field masks and colour table
// sit in between.
size_t PixelOffset(const BITMAPINFOHEADER& header) {
  size_t offset = header.biSize;
  if (header.biSize == sizeof(BITMAPINFOHEADER) && header.biCompression == BI_BITFIELDS) {
    offset += 3 * sizeof(DWORD);
  }
  size_t colours = header.biClrUsed;
  if (colours == 0 && header.biBitCount <= 8) colours = size_t{1} << header.biBitCount;
  return offset + colours * sizeof(RGBQUAD);
}

// clip-dib <file.bmp>: saves CF_DIB as a BMP file and prints its header fields.
int CmdClipDib(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  std::vector<BYTE> dib;
  {
    ClipboardSession clipboard(nullptr);
    if (!clipboard.open()) {
      WriteError("OpenClipboard", GetLastError());
      return kExitFailed;
    }
    HANDLE data = GetClipboardData(CF_DIB);
    if (!data) return kExitNotFound;
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(data));
    if (!bytes) return kExitFailed;
    dib.assign(bytes, bytes + GlobalSize(data));
    GlobalUnlock(data);
  }
  if (dib.size() < sizeof(BITMAPINFOHEADER)) return kExitFailed;
  BITMAPINFOHEADER header;
  memcpy(&header, dib.data(), sizeof header);

  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = static_cast<DWORD>(sizeof file + PixelOffset(header));
  file.bfSize = static_cast<DWORD>(sizeof file + dib.size());
  FILE* out = _wfopen(args.positional[0].c_str(), L"wb");
  if (!out) {
    WriteError("_wfopen", static_cast<DWORD>(errno));
    return kExitFailed;
  }
  fwrite(&file, sizeof file, 1, out);
  fwrite(dib.data(), 1, dib.size(), out);
  fclose(out);
  WriteLine(JsonObject()
                .Number("width", header.biWidth)
                .Number("height", header.biHeight)
                .Number("bitcount", header.biBitCount)
                .Number("compression", header.biCompression)
                .Number("header_size", header.biSize)
                .Number("size", static_cast<long long>(dib.size()))
                .str());
  return kExitOk;
}

// A whole file; false when it cannot be opened.
bool ReadWholeFile(const std::wstring& path, std::vector<BYTE>& bytes) {
  FILE* in = _wfopen(path.c_str(), L"rb");
  if (!in) return false;
  BYTE buffer[65536];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, in)) > 0;) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  fclose(in);
  return true;
}

// --- certificates ----------------------------------------------------------------------------

// trust-ca <file.der>: adds a certificate authority to the machine's trusted roots, so that
// WinHTTP accepts the tests' HTTPS servers.
int CmdTrustCa(const Args& args) {
  if (args.positional.empty()) return kExitUsage;
  std::vector<BYTE> der;
  if (!ReadWholeFile(args.positional[0], der)) return kExitNotFound;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    WriteError("CertOpenStore", GetLastError());
    return kExitFailed;
  }
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()),
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = added ? 0 : GetLastError();
  CertCloseStore(store, 0);
  if (!added) {
    WriteError("CertAddEncodedCertificateToStore", error);
    return kExitFailed;
  }
  return kExitOk;
}

// --- dispatch --------------------------------------------------------------------------------

struct Command {
  const wchar_t* name;
  int (*run)(const Args&);
  const char* usage;
};

constexpr Command kCommands[] = {
    {L"windows", CmdWindows, "[--message] [--class C] [--title T] [--pid N] [--visible]"},
    {L"find", CmdFind, "like windows, plus [--timeout ms] [--all]; exit 1 when none"},
    {L"gone", CmdGone, "--hwnd H [--timeout ms]"},
    {L"children", CmdChildren, "<hwnd>"},
    {L"text", CmdText, "<hwnd>"},
    {L"msgbox", CmdMessageBox, "[hwnd] [--pid N] [--title T] [--timeout ms]"},
    {L"click", CmdClick, "<dialog hwnd> <control id>"},
    {L"settext", CmdSetText, "<hwnd> <text>"},
    {L"send", CmdSend, "<hwnd> <message number or registered name> [wparam] [lparam]"},
    {L"close", CmdClose, "<hwnd>"},
    {L"redraw", CmdRedraw, "<hwnd>"},
    {L"menu", CmdMenu, "[--timeout ms]"},
    {L"keepalive", CmdKeepalive, ""},
    {L"hotkey-try", CmdHotkeyTry, "<modifiers> <vk>"},
    {L"hotkey-hold", CmdHotkeyHold, "<modifiers> <vk>"},
    {L"wait-exit", CmdWaitExit, "<pid> [--timeout ms]"},
    {L"kill", CmdKill, "<pid> [exit code]"},
    {L"tray-delete", CmdTrayDelete, "<hwnd> <uid>"},
    {L"tray", CmdTray, ""},
    {L"broadcast", CmdBroadcast, "<registered message name>"},
    {L"metrics", CmdMetrics, ""},
    {L"clip-formats", CmdClipFormats, ""},
    {L"clip-text", CmdClipText, ""},
    {L"clip-set-text", CmdClipSetText, "<text>"},
    {L"clip-clear", CmdClipClear, ""},
    {L"clip-dib", CmdClipDib, "<file.bmp>"},
    {L"trust-ca", CmdTrustCa, "<file.der>"},
};

int Usage() {
  fprintf(stderr, "usage: snaptool <command> ...\n");
  for (const Command& command : kCommands) {
    fprintf(stderr, "  %s %s\n", Utf8(command.name).c_str(), command.usage);
  }
  return kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Bytes go out as they are: in text mode msvcrt would turn every "\n" of a clipboard text
  // into "\r\n".
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 2) return Usage();
  const std::wstring_view name = argv[1];
  for (const Command& command : kCommands) {
    if (name == command.name) return command.run(ParseArgs(argc, argv, 2));
  }
  return Usage();
}
