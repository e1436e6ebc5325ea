#include "app/json.h"

#include <cstdint>

#include "app/text.h"

namespace {

// Far deeper than any document of our servers; bounds the recursion that a hostile one could ask for.
constexpr int kMaxDepth = 16;

struct Reader {
  const std::string& text;
  size_t at = 0;

  bool AtEnd() const { return at >= text.size(); }
  char Peek() const { return AtEnd() ? '\0' : text[at]; }
  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++at;
  }
  bool Eat(char c) {
    SkipSpace();
    if (Peek() != c || AtEnd()) return false;
    ++at;
    return true;
  }
  bool EatWord(const char* word) {
    const std::string expected(word);
    if (text.compare(at, expected.size(), expected) != 0) return false;
    at += expected.size();
    return true;
  }
  bool EatDigits() {
    const size_t start = at;
    while (Peek() >= '0' && Peek() <= '9') ++at;
    return at > start;
  }
};

bool ReadHex4(Reader& r, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i, ++r.at) {
    const char c = r.Peek();
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

// A \u escape after its backslash; a character beyond U+FFFF takes two, a surrogate pair, and
// half a pair is no character at all.
bool ReadUnicodeEscape(Reader& r, std::string& out) {
  uint32_t code = 0;
  if (!ReadHex4(r, code)) return false;
  std::wstring units(1, static_cast<wchar_t>(code));
  if (IsLowSurrogate(units[0])) return false;
  if (IsHighSurrogate(units[0])) {
    uint32_t low = 0;
    if (!r.EatWord("\\u") || !ReadHex4(r, low)) return false;
    units += static_cast<wchar_t>(low);
    if (!IsLowSurrogate(units[1])) return false;
  }
  out += Utf16ToUtf8(units);
  return true;
}

bool ReadString(Reader& r, std::string& out) {
  if (!r.Eat('"')) return false;
  while (!r.AtEnd()) {
    const char c = r.text[r.at++];
    if (c == '"') return true;
    if (static_cast<unsigned char>(c) < 0x20) return false;  // must be escaped
    if (c != '\\') {
      out += c;
      continue;
    }
    const char escape = r.AtEnd() ? '\0' : r.text[r.at++];
    switch (escape) {
      case '"': case '\\': case '/': out += escape; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u':
        if (!ReadUnicodeEscape(r, out)) return false;
        break;
      default: return false;
    }
  }
  return false;
}

bool ReadNumber(Reader& r) {
  r.EatWord("-");
  if (!r.EatWord("0") && !r.EatDigits()) return false;
  if (r.EatWord(".") && !r.EatDigits()) return false;
  if (r.Peek() == 'e' || r.Peek() == 'E') {
    ++r.at;
    if (!r.EatWord("+")) r.EatWord("-");
    if (!r.EatDigits()) return false;
  }
  return true;
}

bool ReadObject(Reader& r, JsonMembers* members, int depth);

bool ReadValue(Reader& r, std::optional<std::string>& text, int depth) {
  if (depth > kMaxDepth) return false;
  r.SkipSpace();
  switch (r.Peek()) {
    case '"': {
      std::string value;
      if (!ReadString(r, value)) return false;
      text = std::move(value);
      return true;
    }
    case '{': return ReadObject(r, nullptr, depth + 1);
    case '[': {
      ++r.at;
      if (r.Eat(']')) return true;
      do {
        std::optional<std::string> ignored;
        if (!ReadValue(r, ignored, depth + 1)) return false;
      } while (r.Eat(','));
      return r.Eat(']');
    }
    case 't': return r.EatWord("true");
    case 'f': return r.EatWord("false");
    case 'n': return r.EatWord("null");
    default: return ReadNumber(r);
  }
}

bool ReadObject(Reader& r, JsonMembers* members, int depth) {
  if (!r.Eat('{')) return false;
  if (r.Eat('}')) return true;
  do {
    std::string name;
    std::optional<std::string> value;
    if (!ReadString(r, name) || !r.Eat(':') || !ReadValue(r, value, depth)) return false;
    // A name given twice could mean one thing to the publisher's tools and another here.
    if (members && !members->emplace(std::move(name), std::move(value)).second) return false;
  } while (r.Eat(','));
  return r.Eat('}');
}

}  // namespace

std::optional<JsonMembers> ReadJsonObject(const std::string& json) {
  Reader reader{json};
  JsonMembers members;
  if (!ReadObject(reader, &members, 0)) return std::nullopt;
  reader.SkipSpace();
  if (!reader.AtEnd()) return std::nullopt;
  return members;
}
