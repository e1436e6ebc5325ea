// How the tests' helper programs print: UTF-8 bytes, one JSON object per line, flushed at once
// (the tests read lines of programs that keep running).
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

inline std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), bytes, nullptr, nullptr);
  return result;
}

// msvcrt's wide printf stops at the first non-ASCII character, so bytes go out unconverted.
inline void Write(const std::string& bytes) {
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  fflush(stdout);
}

inline void WriteLine(const std::string& line) { Write(line + "\n"); }

inline std::string JsonString(std::wstring_view text) {
  std::string out = "\"";
  for (const char c : Utf8(text)) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (code < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", code);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// As a JSON string: the tests pass it back on the command line.
inline std::string HwndJson(HWND hwnd) {
  char text[32];
  snprintf(text, sizeof text, "\"0x%llx\"",
           static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)));
  return text;
}

inline std::string RectJson(const RECT& rect) {
  return "[" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
         std::to_string(rect.right) + "," + std::to_string(rect.bottom) + "]";
}
