#include "update/json_string.h"

#include <windows.h>

std::wstring Utf8ToUtf16(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length) != length) return {};
  wide.resize(static_cast<size_t>(length) - 1);  // the terminator the conversion counted
  return wide;
}

std::wstring ExtractJsonString(const std::string& json, const std::string& key) {
  // The server's document is three flat string members, so a byte search is enough; it finds
  // the first place the quoted key appears, even inside another value.
  const std::string needle = "\"" + key + "\"";
  const size_t keyAt = json.find(needle);
  if (keyAt == std::string::npos) return {};
  const size_t colon = json.find(':', keyAt);
  if (colon == std::string::npos) return {};
  const size_t open = json.find('"', colon);
  if (open == std::string::npos) return {};
  const size_t close = json.find('"', open + 1);
  if (close == std::string::npos) return {};
  return Utf8ToUtf16(json.substr(open + 1, close - open - 1));
}
