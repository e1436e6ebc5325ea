// Reading one string member out of the update server's small JSON document.
#pragma once

#include <string>

// The text between the first two double quotes after `"key"` and its colon, as UTF-16; empty
// when any of them is missing. Escapes are not interpreted.
std::wstring ExtractJsonString(const std::string& json, const std::string& key);
// UTF-8 up to the first NUL byte, as UTF-16; invalid sequences become U+FFFD.
std::wstring Utf8ToUtf16(const std::string& text);
