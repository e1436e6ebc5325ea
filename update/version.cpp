#include "update/version.h"

#include <stdlib.h>

std::vector<int32_t> ParseVersion(const std::wstring& text) {
  std::vector<int32_t> parts;
  // An empty piece (between two dots, or before a leading dot) still counts as 0, but the end of
  // the text right after a dot adds nothing: "1.2." is 1, 2 and then the padding.
  size_t start = 0;
  while (start < text.size()) {
    const size_t dot = text.find(L'.', start);
    const size_t end = dot == std::wstring::npos ? text.size() : dot;
    // _wtoi skips leading blanks, takes a sign and stops at the first non-digit, so "2.0.0-beta"
    // still reads as 2, 0, 0 and a leading letter reads as 0.
    parts.push_back(_wtoi(text.substr(start, end - start).c_str()));
    if (dot == std::wstring::npos) break;
    start = dot + 1;
  }
  while (parts.size() < 3) parts.push_back(0);
  return parts;
}

bool IsNewerVersion(const std::wstring& current, const std::wstring& candidate) {
  const std::vector<int32_t> a = ParseVersion(current);
  const std::vector<int32_t> b = ParseVersion(candidate);
  // Only major, minor and patch count; a fourth piece never makes a release newer.
  for (size_t i = 0; i < 3; ++i) {
    if (b[i] > a[i]) return true;
    if (b[i] < a[i]) return false;
  }
  return false;
}
