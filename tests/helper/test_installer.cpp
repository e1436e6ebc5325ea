// test_installer: stands in for a real installer in the update tests. When started it writes
// "installer-ran.txt" beside itself, holding its own full path, so the test knows that exactly
// the downloaded file was started, and from where.
#include <windows.h>

#include <string>

#include "tool_output.h"

namespace {

constexpr wchar_t kMarkName[] = L"installer-ran.txt";

}  // namespace

int wmain(int, wchar_t**) {
  wchar_t self[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  const std::wstring path(self, length);
  const std::wstring mark = path.substr(0, path.rfind(L'\\') + 1) + kMarkName;

  // Written under a temporary name and renamed, so the test never reads half a mark.
  const std::wstring partial = mark + L".tmp";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  const std::string text = Utf8(path) + "\n";
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != text.size()) return 2;
  return MoveFileExW(partial.c_str(), mark.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}
