// snaptool: the end-to-end tests' hands and eyes inside the Wine prefix. It finds windows, reads
// message boxes, presses buttons, posts messages, holds hotkeys, shows a test picture and plays
// the shell, always through the real Win32 calls, and prints what it sees as UTF-8 JSON, one
// object per line. Copied to Snapwren_Update.exe it stands in for a
// downloaded installer. Exit codes: 0 done, 1 nothing found in time, 2 failed, 64 bad usage.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/text.h"

namespace {

// One JSON object, built field by field and printed as one line, flushed at once: the tests read
// the lines of programs that keep running.
class Json {
 public:
  Json& Raw(const char* key, const std::string& value) {
    body_ += (body_.empty() ? "\"" : ",\"") + std::string(key) + "\":" + value;
    return *this;
  }
  Json& Text(const char* key, const std::wstring& value) {
    std::string quoted = "\"";
    for (const char c : Utf16ToUtf8(value)) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      quoted += c == '"' || c == '\\' ? std::string("\\") + c : c >= 0 && c < 0x20 ? escaped
                                                                                   : std::string(1, c);
    }
    return Raw(key, quoted + "\"");
  }
  Json& Num(const char* key, long long value) { return Raw(key, std::to_string(value)); }
  Json& Bool(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
  Json& Hwnd(const char* key, HWND hwnd) {
    char text[24];
    snprintf(text, sizeof text, "\"0x%llx\"", static_cast<unsigned long long>(
                                                  reinterpret_cast<ULONG_PTR>(hwnd)));
    return Raw(key, text);
  }
  Json& Rect(const char* key, const RECT& r) {
    return Raw(key, "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                        std::to_string(r.right) + "," + std::to_string(r.bottom) + "]");
  }
  void Print() const { printf("{%s}\n", body_.c_str()), fflush(stdout); }

 private:
  std::string body_;
};

// Positional words, and "--name value" options ("--visible", "--message", "--hold" alone).
struct Args {
  std::vector<std::wstring> words;
  std::map<std::wstring, std::wstring> options;

  Args(int argc, wchar_t** argv) {
    for (int i = 2; i < argc; ++i) {
      const std::wstring word = argv[i];
      const bool flag = word == L"--visible" || word == L"--message" || word == L"--hold";
      if (word.rfind(L"--", 0) != 0) {
        words.push_back(word);
      } else {
        options[word.substr(2)] = flag || i + 1 >= argc ? L"1" : argv[++i];
      }
    }
  }
  bool Has(const wchar_t* name) const { return options.count(name) != 0; }
  std::wstring Option(const wchar_t* name) const { return Has(name) ? options.at(name) : L""; }
  ULONG_PTR Number(size_t i) const {
    return i < words.size() ? wcstoull(words[i].c_str(), nullptr, 0) : 0;
  }
  HWND Window() const { return reinterpret_cast<HWND>(Number(0)); }
  DWORD Wait() const { return wcstoul(Option(L"wait").c_str(), nullptr, 0); }
};

// Polls instead of sleeping for a guessed time: a window counts as soon as it exists.
bool Poll(DWORD timeoutMs, const std::function<bool()>& attempt) {
  for (const ULONGLONG deadline = GetTickCount64() + timeoutMs; !attempt(); Sleep(50)) {
    if (GetTickCount64() >= deadline) return false;
  }
  return true;
}

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
                      2000, &copied);
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
  POINT client = {0, 0};
  ClientToScreen(hwnd, &client);
  Json json;
  json.Hwnd("hwnd", hwnd).Num("pid", ProcessOf(hwnd)).Text("class", ClassOf(hwnd));
  json.Text("title", TextOf(hwnd)).Bool("visible", IsWindowVisible(hwnd)).Rect("rect", rect);
  json.Raw("client", "[" + std::to_string(client.x) + "," + std::to_string(client.y) + "]");
  json.Num("id", GetDlgCtrlID(hwnd)).Hwnd("owner", GetWindow(hwnd, GW_OWNER));
  json.Num("style", GetWindowLongW(hwnd, GWL_STYLE) & 0xFFFFFFFFLL);
  return json.Num("exstyle", GetWindowLongW(hwnd, GWL_EXSTYLE) & 0xFFFFFFFFLL);
}

// The top-level windows when parent is null (EnumChildWindows of null finds none in Wine).
std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found;
  const WNDENUMPROC add = [](HWND hwnd, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
    return TRUE;
  };
  parent ? EnumChildWindows(parent, add, reinterpret_cast<LPARAM>(&found))
         : EnumWindows(add, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Top-level windows, or the message-only ones (--message), which EnumWindows leaves out,
// filtered by --class, --title, --pid and --visible.
std::vector<HWND> Windows(const Args& args) {
  std::vector<HWND> all = args.Has(L"message") ? std::vector<HWND>() : Children(nullptr);
  for (HWND h = nullptr; args.Has(L"message") && (h = FindWindowExW(HWND_MESSAGE, h, nullptr,
                                                                        nullptr));) {
    all.push_back(h);
  }
  std::vector<HWND> found;
  for (HWND hwnd : all) {
    if ((args.Has(L"visible") && !IsWindowVisible(hwnd)) ||
        (args.Has(L"class") && ClassOf(hwnd) != args.Option(L"class")) ||
        (args.Has(L"pid") && ProcessOf(hwnd) != wcstoul(args.Option(L"pid").c_str(), nullptr, 0)) ||
        (args.Has(L"title") && TextOf(hwnd) != args.Option(L"title"))) {
      continue;
    }
    found.push_back(hwnd);
  }
  return found;
}

// windows [filters] [--wait ms]: every match, waiting for the first one for up to --wait.
int CmdWindows(const Args& args) {
  std::vector<HWND> found;
  const bool any = Poll(args.Wait(), [&] { return !(found = Windows(args)).empty(); });
  for (HWND hwnd : found) Describe(hwnd).Print();
  return any ? 0 : 1;
}

int CmdGone(const Args& args) {
  return Poll(args.Wait(), [&] { return !IsWindow(args.Window()); }) ? 0 : 1;
}

int CmdChildren(const Args& args) {
  for (HWND hwnd : Children(args.Window())) Describe(hwnd).Print();
  return 0;
}

// msgbox [--pid N] [--title T] [--wait ms]: the first visible dialog box, with its text (the
// Static of id 0xFFFF) and buttons.
int CmdMessageBox(Args args) {
  args.options[L"class"] = L"#32770";
  args.options[L"visible"] = L"1";
  std::vector<HWND> found;
  if (!Poll(args.Wait(), [&] { return !(found = Windows(args)).empty(); })) return 1;
  std::wstring text;
  std::string buttons;
  for (HWND child : Children(found[0])) {
    if (ClassOf(child) == L"Static" && GetDlgCtrlID(child) == 0xFFFF) text = TextOf(child);
    if (ClassOf(child) == L"Button" && IsWindowVisible(child)) {
      buttons += (buttons.empty() ? "" : ",") + std::to_string(GetDlgCtrlID(child));
    }
  }
  Describe(found[0]).Text("text", text).Raw("buttons", "[" + buttons + "]").Print();
  return 0;
}

int Done(BOOL ok) { return ok ? 0 : 2; }

// click <dialog> <id>: BM_CLICK on a button, posted: the click may end the dialog.
int CmdClick(const Args& args) {
  return Done(PostMessageW(GetDlgItem(args.Window(), static_cast<int>(args.Number(1))), BM_CLICK,
                           0, 0));
}

int CmdSetText(const Args& args) {
  DWORD_PTR result = 0;
  return Done(SendMessageTimeoutW(args.Window(), WM_SETTEXT, 0,
                                  reinterpret_cast<LPARAM>(args.words.at(1).c_str()),
                                  SMTO_ABORTIFHUNG, 2000, &result) != 0);
}

// post <hwnd> <message> [wparam] [lparam]
int CmdPost(const Args& args) {
  return Done(PostMessageW(args.Window(), static_cast<UINT>(args.Number(1)), args.Number(2),
                           static_cast<LPARAM>(args.Number(3))));
}

HWND MakeWindow(const wchar_t* name, WNDPROC procedure, DWORD exStyle, DWORD style, RECT rect) {
  const WNDCLASSEXW windowClass = {sizeof windowClass, 0, procedure, 0, 0,
                                   GetModuleHandleW(nullptr), nullptr,
                                   LoadCursorW(nullptr, IDC_ARROW), nullptr, nullptr, name, nullptr};
  RegisterClassExW(&windowClass);
  return CreateWindowExW(exStyle, name, name, style, rect.left, rect.top, rect.right - rect.left,
                         rect.bottom - rect.top, nullptr, nullptr, windowClass.hInstance, nullptr);
}

// Top-level, not message-only: it is what keeps the virtual desktop alive.
HWND HiddenWindow() {
  return MakeWindow(L"SnaptoolHidden", DefWindowProcW, WS_EX_TOOLWINDOW, WS_POPUP, {0, 0, 1, 1});
}

int Pump() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

int CmdKeepalive(const Args&) {
  HiddenWindow();
  Json().Num("pid", GetCurrentProcessId()).Print();
  return Pump();
}

// hotkey <modifiers> <vk> [--hold]: whether it is free; with --hold it stays taken.
int CmdHotkey(const Args& args) {
  const BOOL registered = RegisterHotKey(HiddenWindow(), 1, static_cast<UINT>(args.Number(0)),
                                         static_cast<UINT>(args.Number(1)));
  const DWORD error = registered ? 0 : GetLastError();
  Json().Bool("registered", registered).Num("error", error).Print();
  return registered && args.Has(L"hold") ? Pump() : 0;
}

// pattern <x> <y> <width> <height>: a window of known pixels at that place on the screen. Every
// pixel differs from its neighbours, so a picture shifted by one never matches, and no channel is
// 0 or 255, so pure colours stand out. tests/e2e/conftest.py computes the same.
RECT g_pattern;

int CmdPattern(const Args& args) {
  g_pattern = {static_cast<LONG>(args.Number(0)), static_cast<LONG>(args.Number(1)),
               static_cast<LONG>(args.Number(0) + args.Number(2)),
               static_cast<LONG>(args.Number(1) + args.Number(3))};
  const WNDPROC painter = [](HWND hwnd, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message == WM_ERASEBKGND) return 1;
    if (message != WM_PAINT) return DefWindowProcW(hwnd, message, w, l);
    const int width = g_pattern.right - g_pattern.left;
    const int height = g_pattern.bottom - g_pattern.top;
    auto mod = [](int a, int m) { return ((a % m) + m) % m; };
    std::vector<DWORD> pixels;
    for (int y = g_pattern.top; y < g_pattern.bottom; ++y) {
      for (int x = g_pattern.left; x < g_pattern.right; ++x) {
        pixels.push_back(static_cast<DWORD>((20 + mod(x * 7, 200)) << 16 |
                                            (20 + mod(y * 5, 200)) << 8 | (20 + mod((x + y) * 3, 200))));
      }
    }
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    PAINTSTRUCT paint;
    HDC hdc = BeginPaint(hwnd, &paint);
    SetDIBitsToDevice(hdc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                      static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    EndPaint(hwnd, &paint);
    return 0;
  };
  // A plain popup: its client area is exactly the rectangle asked for.
  HWND hwnd = MakeWindow(L"SnaptoolPattern", painter, 0, WS_POPUP | WS_VISIBLE, g_pattern);
  if (!hwnd || !UpdateWindow(hwnd)) return 2;
  Json().Hwnd("hwnd", hwnd).Print();
  return Pump();
}

// lock <file>: holds a file open without sharing, so that writing it fails.
int CmdLock(const Args& args) {
  if (CreateFileW(args.words.at(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                  0, nullptr) == INVALID_HANDLE_VALUE) {
    return 2;
  }
  Json().Num("pid", GetCurrentProcessId()).Print();
  return Pump();
}

// tray: the taskbar, then each tooltip window it owns: under Wine 8 the icons' tooltips and
// balloons.
int CmdTray(const Args&) {
  const HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  RECT rect = {};
  if (!GetWindowRect(tray, &rect)) return 1;
  Json().Rect("rect", rect).Print();
  for (HWND hwnd : Children(nullptr)) {
    if (ClassOf(hwnd) == L"tooltips_class32" && GetWindow(hwnd, GW_OWNER) == tray) {
      Json().Text("text", TextOf(hwnd)).Bool("visible", IsWindowVisible(hwnd)).Print();
    }
  }
  return 0;
}

// tray-delete <hwnd> <uid>: removes someone else's icon, as a crashed shell loses it.
int CmdTrayDelete(const Args& args) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = args.Window();
  data.uID = static_cast<UINT>(args.Number(1));
  return Done(Shell_NotifyIconW(NIM_DELETE, &data));
}

// broadcast <name>: what a restarted shell does with "TaskbarCreated".
int CmdBroadcast(const Args& args) {
  const UINT message = RegisterWindowMessageW(args.words.at(0).c_str());
  return Done(SendNotifyMessageW(HWND_BROADCAST, message, 0, 0));
}

// trust-ca <file.der>: adds a certificate authority to the machine's trusted roots, so that
// WinHTTP accepts the tests' HTTPS servers.
int CmdTrustCa(const Args& args) {
  std::ifstream in(args.words.at(0).c_str(), std::ios::binary);
  const std::vector<BYTE> der((std::istreambuf_iterator<char>(in)), {});
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  const BOOL added = store && CertAddEncodedCertificateToStore(
                                  store, X509_ASN_ENCODING, der.data(),
                                  static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                  nullptr);
  if (store) CertCloseStore(store, 0);
  return added ? 0 : 2;
}

// memory <pid>: the process's commit charge in bytes (Wine 8 reports it in PagefileUsage).
int CmdMemory(const Args& args) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     static_cast<DWORD>(args.Number(0)));
  if (!process) return 2;
  PROCESS_MEMORY_COUNTERS counters = {};
  const BOOL read = K32GetProcessMemoryInfo(process, &counters, sizeof counters);
  CloseHandle(process);
  if (!read) return 2;
  Json().Num("committed", static_cast<long long>(counters.PagefileUsage)).Print();
  return 0;
}

// As the downloaded installer: leaves its own path in installer-ran.txt beside itself.
int StandInForInstaller(const std::wstring& self) {
  FILE* mark = _wfopen((self.substr(0, self.rfind(L'\\')) + L"\\installer-ran.txt").c_str(), L"wb");
  if (!mark) return 2;
  fputs(Utf16ToUtf8(self).c_str(), mark);
  fclose(mark);
  return 0;
}

const std::pair<const wchar_t*, std::function<int(const Args&)>> kCommands[] = {
    {L"windows", CmdWindows},     {L"gone", CmdGone},         {L"children", CmdChildren},
    {L"msgbox", CmdMessageBox},   {L"click", CmdClick},       {L"settext", CmdSetText},
    {L"post", CmdPost},           {L"keepalive", CmdKeepalive}, {L"hotkey", CmdHotkey},
    {L"pattern", CmdPattern},     {L"lock", CmdLock},         {L"tray", CmdTray},
    {L"tray-delete", CmdTrayDelete}, {L"broadcast", CmdBroadcast}, {L"trust-ca", CmdTrustCa},
    {L"memory", CmdMemory},
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (_wcsicmp(wcsrchr(self, L'\\') + 1, L"Snapwren_Update.exe") == 0) {
    return StandInForInstaller(self);
  }
  for (const auto& [name, run] : kCommands) {
    if (argc >= 2 && _wcsicmp(argv[1], name) == 0) return run(Args(argc, argv));
  }
  fprintf(stderr, "usage: snaptool <command> [arguments], see tests/helper/snaptool.cpp\n");
  return 64;
}
