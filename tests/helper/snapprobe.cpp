// snapprobe.dll: snaptool hooks it into the program under test to read what only that program's
// own process can read. Wine keeps the items of a menu inside the process that created it: from
// another process MN_GETHMENU yields a handle, but GetMenuItemCount on it fails. Loaded as a
// WH_CALLWNDPROC hook module, this code runs on the menu's own thread, where it works.
#include <windows.h>

#include <string>

// Answers snaptool's request, sent to the "#32768" menu window with snaptool's window as wParam:
// one line per item, id, type and state flags and the screen rectangle as numbers, then the
// text, which may hold blanks and a tab before an accelerator. The answer goes as WM_COPYDATA.
extern "C" __declspec(dllexport) LRESULT CALLBACK SnapprobeCallWndProc(int code, WPARAM wparam,
                                                                       LPARAM lparam) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code != HC_ACTION || call->message != RegisterWindowMessageW(L"SnaptoolProbeMenu")) {
    return CallNextHookEx(nullptr, code, wparam, lparam);
  }
  DWORD_PTR menu = 0;
  SendMessageTimeoutW(call->hwnd, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 2000, &menu);
  std::wstring answer;
  for (int i = 0; i < GetMenuItemCount(reinterpret_cast<HMENU>(menu)); ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 256;
    RECT rect = {};
    GetMenuItemInfoW(reinterpret_cast<HMENU>(menu), static_cast<UINT>(i), TRUE, &info);
    GetMenuItemRect(nullptr, reinterpret_cast<HMENU>(menu), static_cast<UINT>(i), &rect);
    for (const long number : {static_cast<long>(info.wID), static_cast<long>(info.fType),
                              static_cast<long>(info.fState), rect.left, rect.top, rect.right,
                              rect.bottom}) {
      answer += std::to_wstring(number) + L" ";
    }
    answer += std::wstring(text) + L"\n";
  }
  COPYDATASTRUCT data = {0, static_cast<DWORD>(answer.size() * sizeof(wchar_t)), answer.data()};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(reinterpret_cast<HWND>(call->wParam), WM_COPYDATA,
                      reinterpret_cast<WPARAM>(call->hwnd), reinterpret_cast<LPARAM>(&data),
                      SMTO_ABORTIFHUNG, 2000, &result);
  return CallNextHookEx(nullptr, code, wparam, lparam);
}
