// Test helper for the annotation tests: types characters into a window as the keyboard input of
// a layout that has them would, one WM_CHAR per UTF-16 unit posted to the window's queue.
//
//   annotationtool chars <hwnd> <unit> [<unit>...]     units in hexadecimal, e.g. e4 20ac
//
// The units come as numbers because a command line through Wine is only as wide as the Unix
// locale. Exit code 0 when every message was posted, 2 on bad arguments, 1 when posting failed.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

bool ParseNumber(const wchar_t* text, int base, unsigned long long* value) {
  wchar_t* end = nullptr;
  *value = std::wcstoull(text, &end, base);
  return end && end != text && *end == L'\0';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || std::wstring(argv[1]) != L"chars") return 2;
  unsigned long long window = 0;
  if (!ParseNumber(argv[2], 0, &window) || window == 0) return 2;
  const HWND target = reinterpret_cast<HWND>(static_cast<UINT_PTR>(window));
  for (int i = 3; i < argc; ++i) {
    unsigned long long unit = 0;
    if (!ParseNumber(argv[i], 16, &unit) || unit == 0 || unit > 0xFFFF) return 2;
    if (!PostMessageW(target, WM_CHAR, static_cast<WPARAM>(unit), 1)) return 1;
  }
  return 0;
}
