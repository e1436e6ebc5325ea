// Text between Windows' UTF-16 and the 8-bit world of files, HTTP bodies and JSON, which is UTF-8.
#pragma once

#include <string>

// UTF-8 as UTF-16; an invalid sequence becomes U+FFFD.
std::wstring Utf8ToUtf16(const std::string& text);
// UTF-16 as UTF-8; half of a surrogate pair becomes U+FFFD.
std::string Utf16ToUtf8(const std::wstring& text);

// A character beyond U+FFFF is a high surrogate followed by a low one; neither stands alone.
constexpr bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
// Whether every character is printable ASCII other than the blank (what a token may hold).
bool IsVisibleAscii(const std::wstring& text);
