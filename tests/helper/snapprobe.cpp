// snapprobe.dll: snaptool hooks it into the program under test to read what only that program's
// own process can read. Wine keeps the items of a menu inside the process that created it:
// from another process MN_GETHMENU yields a handle, but GetMenuItemCount on it fails. Loaded as
// a WH_CALLWNDPROC hook module, this code runs on the menu's own thread, where it works.
#include <windows.h>

#include <string>

namespace {

// Sent by snaptool to the "#32768" menu window; wParam is snaptool's window for the answer.
constexpr wchar_t kMenuRequest[] = L"SnaptoolProbeMenu";
// dwData of the WM_COPYDATA answer.
constexpr ULONG_PTR kMenuAnswer = 0x554E454D;

// One line per item: id, type flags, state flags and screen rectangle as numbers, then the
// text, which may hold blanks and a tab before an accelerator.
std::wstring DescribeMenu(HMENU menu) {
  std::wstring out;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 256;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    RECT rect = {};
    GetMenuItemRect(nullptr, menu, static_cast<UINT>(i), &rect);
    for (const long long number : {static_cast<long long>(info.wID),
                                   static_cast<long long>(info.fType),
                                   static_cast<long long>(info.fState),
                                   static_cast<long long>(rect.left),
                                   static_cast<long long>(rect.top),
                                   static_cast<long long>(rect.right),
                                   static_cast<long long>(rect.bottom)}) {
      out += std::to_wstring(number) + L" ";
    }
    out += std::wstring(text) + L"\n";
  }
  return out;
}

void AnswerMenuRequest(HWND menuWindow, HWND requester) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(menuWindow, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
  const std::wstring answer =
      result ? DescribeMenu(reinterpret_cast<HMENU>(result)) : std::wstring(L"!no menu\n");
  COPYDATASTRUCT data = {};
  data.dwData = kMenuAnswer;
  data.cbData = static_cast<DWORD>((answer.size() + 1) * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(answer.c_str());
  SendMessageTimeoutW(requester, WM_COPYDATA, reinterpret_cast<WPARAM>(menuWindow),
                      reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 2000, &result);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK SnapprobeCallWndProc(int code, WPARAM wparam,
                                                                       LPARAM lparam) {
  if (code == HC_ACTION) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
    if (call->message == RegisterWindowMessageW(kMenuRequest)) {
      AnswerMenuRequest(call->hwnd, reinterpret_cast<HWND>(call->wParam));
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
