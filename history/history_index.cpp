#include "history/history_index.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <set>

#include "app/text.h"

namespace {

// The first line names the format and its version: an index of another program or of a later
// Snapwren is set aside instead of being misread.
constexpr char kHeader[] = "SnapwrenHistory\t1";
constexpr size_t kFieldCount = 8;
constexpr int64_t kSecondsPerDay = 24 * 60 * 60;

const char* KindName(HistoryKind kind) {
  switch (kind) {
    case HistoryKind::Copied:
      return "copied";
    case HistoryKind::Saved:
      return "saved";
    case HistoryKind::Uploaded:
      return "uploaded";
  }
  return "";
}

std::optional<HistoryKind> KindFrom(const std::string& name) {
  for (HistoryKind kind : {HistoryKind::Copied, HistoryKind::Saved, HistoryKind::Uploaded}) {
    if (name == KindName(kind)) return kind;
  }
  return std::nullopt;
}

// A tab or line break would split the field; nothing Snapwren stores has one.
std::string Field(const std::wstring& value) {
  std::wstring kept;
  for (const wchar_t c : value) {
    if (c >= L' ') kept += c;
  }
  return Utf16ToUtf8(kept);
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : line) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// Only plain decimal or hexadecimal digits, so that "12x" or "-1" marks the index as damaged.
std::optional<uint64_t> Number(const std::string& text, int base) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return std::nullopt;
    const uint64_t next = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (next / static_cast<uint64_t>(base) != value) return std::nullopt;
    value = next;
  }
  return value;
}

std::optional<HistoryEntry> ParseEntry(const std::string& line) {
  const std::vector<std::string> fields = Split(line, '\t');
  if (fields.size() != kFieldCount) return std::nullopt;
  const std::optional<uint64_t> id = Number(fields[0], 16);
  const std::optional<uint64_t> time = Number(fields[1], 10);
  const std::optional<HistoryKind> kind = KindFrom(fields[2]);
  const std::optional<uint64_t> bytes = Number(fields[4], 10);
  if (!id || !time || !kind || !bytes || (fields[3] != "0" && fields[3] != "1")) {
    return std::nullopt;
  }
  HistoryEntry entry;
  entry.id = *id;
  entry.time = static_cast<int64_t>(*time);
  entry.kind = *kind;
  entry.deleted = fields[3] == "1";
  entry.pictureBytes = *bytes;
  entry.path = Utf8ToUtf16(fields[5]);
  entry.link = SafeLink(Utf8ToUtf16(fields[6]));
  entry.deleteUrl = SafeLink(Utf8ToUtf16(fields[7]));
  return entry;
}

SYSTEMTIME LocalTimeOf(int64_t seconds) {
  const ULONGLONG ticks =
      static_cast<ULONGLONG>(seconds + kUnixEpochInFileTimeSeconds) * 10000000ull;
  FILETIME utc = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FILETIME local = {};
  SYSTEMTIME time = {};
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &time);
  return time;
}

}  // namespace

std::string FormatHistoryIndex(const std::vector<HistoryEntry>& entries) {
  std::string text = std::string(kHeader) + "\n";
  for (const HistoryEntry& entry : entries) {
    char numbers[96];
    snprintf(numbers, sizeof numbers, "%016llx\t%lld\t%s\t%d\t%llu\t",
             static_cast<unsigned long long>(entry.id), static_cast<long long>(entry.time),
             KindName(entry.kind), entry.deleted ? 1 : 0,
             static_cast<unsigned long long>(entry.pictureBytes));
    text += numbers + Field(entry.path) + "\t" + Field(entry.link) + "\t" +
            Field(entry.deleteUrl) + "\n";
  }
  return text;
}

std::optional<std::vector<HistoryEntry>> ParseHistoryIndex(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  // Written in text mode: each line ends in CR LF on the disk.
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  if (lines.empty() || lines.front() != kHeader) return std::nullopt;
  // The file ends with a line end; anything after the last one is a cut-off write.
  if (lines.back().empty()) lines.pop_back();
  std::vector<HistoryEntry> entries;
  std::set<uint64_t> ids;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::optional<HistoryEntry> entry = ParseEntry(lines[i]);
    if (!entry || !ids.insert(entry->id).second) return std::nullopt;
    entries.push_back(std::move(*entry));
  }
  return entries;
}

std::vector<HistoryEntry> TrimHistory(std::vector<HistoryEntry>& entries, size_t maxCount,
                                      uint64_t maxBytes) {
  uint64_t bytes = 0;
  size_t keep = 0;
  while (keep < entries.size() && keep < maxCount &&
         bytes + entries[keep].pictureBytes <= maxBytes) {
    bytes += entries[keep].pictureBytes;
    ++keep;
  }
  std::vector<HistoryEntry> removed(entries.begin() + static_cast<std::ptrdiff_t>(keep),
                                    entries.end());
  entries.resize(keep);
  return removed;
}

std::wstring HistoryPictureName(uint64_t id) {
  wchar_t name[32];
  swprintf(name, 32, L"%016llx.png", static_cast<unsigned long long>(id));
  return name;
}

std::wstring HistoryEntryText(const HistoryEntry& entry, int64_t now, bool english) {
  const SYSTEMTIME time = LocalTimeOf(entry.time);
  const SYSTEMTIME today = LocalTimeOf(now);
  const bool sameDay = time.wYear == today.wYear && time.wMonth == today.wMonth &&
                       time.wDay == today.wDay && now - entry.time < kSecondsPerDay;
  wchar_t when[32];
  if (sameDay) {
    swprintf(when, 32, L"%02u:%02u", time.wHour, time.wMinute);
  } else {
    swprintf(when, 32, L"%02u.%02u. %02u:%02u", time.wDay, time.wMonth, time.wHour,
             time.wMinute);
  }
  const wchar_t* what = L"";
  switch (entry.kind) {
    case HistoryKind::Copied:
      what = english ? L"copied" : L"kopiert";
      break;
    case HistoryKind::Saved:
      what = english ? L"saved" : L"gespeichert";
      break;
    case HistoryKind::Uploaded:
      if (entry.deleted) {
        what = english ? L"uploaded, deleted" : L"hochgeladen, gelöscht";
      } else {
        what = english ? L"uploaded" : L"hochgeladen";
      }
      break;
  }
  return std::wstring(when) + L"  " + what;
}

std::wstring SafeLink(const std::wstring& link) {
  if (link.compare(0, 8, L"https://") != 0 || link.size() <= 8) return {};
  for (const wchar_t c : link) {
    if (c < L' ' || c == 0x7F) return {};
  }
  return link;
}
