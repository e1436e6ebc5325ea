// Reading the JSON that servers send: the update server's version document, the upload server's
// reply.
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
