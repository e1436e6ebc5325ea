#include "app/window_proc.h"

#include <cwchar>

namespace {

struct Search {
  const wchar_t* className;
  HWND found;
};

BOOL CALLBACK MatchClass(HWND hwnd, LPARAM context) {
  auto& search = *reinterpret_cast<Search*>(context);
  wchar_t name[64] = {};
  if (GetClassNameW(hwnd, name, 64) && std::wcscmp(name, search.className) == 0) {
    search.found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND FindThreadWindow(const wchar_t* className) {
  Search search = {className, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}
