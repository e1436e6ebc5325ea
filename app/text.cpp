#include "app/text.h"

#include <windows.h>

// Without MB_ERR_INVALID_CHARS and WC_ERR_INVALID_CHARS, Windows (since Vista) replaces what is
// invalid with U+FFFD instead of failing or dropping it.
std::wstring Utf8ToUtf16(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf16ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr,
                                         nullptr);
  if (length <= 0) return {};
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
  return bytes;
}

bool IsVisibleAscii(const std::wstring& text) {
  for (const wchar_t c : text) {
    if (c <= L' ' || c > L'~') return false;
  }
  return true;
}
