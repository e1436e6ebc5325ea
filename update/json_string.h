// Reading the update server's JSON document.
#pragma once

#include <map>
#include <optional>
#include <string>

// The members of a JSON object by name: a string member's text, decoded and kept in UTF-8, or
// nothing for a member of any other type.
using JsonMembers = std::map<std::string, std::optional<std::string>>;

// The members of `json` when it is one JSON object (RFC 8259) whose names are each used once;
// nothing otherwise. Members of nested objects are not among them.
std::optional<JsonMembers> ReadJsonObject(const std::string& json);
// UTF-8 as UTF-16; invalid sequences become U+FFFD.
std::wstring Utf8ToUtf16(const std::string& text);
