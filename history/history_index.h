// The history's records and its index file: what was done with each recent screenshot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class HistoryKind { Copied, Saved, Uploaded };

struct HistoryEntry {
  uint64_t id = 0;   // unique in the history; names the entry's picture
  int64_t time = 0;  // seconds since 1970-01-01 UTC
  HistoryKind kind = HistoryKind::Copied;
  bool deleted = false;  // taken back from the server
  uint64_t pictureBytes = 0;
  std::wstring path;       // where a saved screenshot went
  std::wstring link;       // an upload's link
  std::wstring deleteUrl;  // where the server takes an upload back, "" when it offers none
};

constexpr size_t kMaxHistoryEntries = 20;
// FILETIME counts 100 ns from 1601; 1970 is this many seconds later.
constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600;
constexpr uint64_t kMaxHistoryBytes = 200ull * 1024 * 1024;

// The index with the entries in their order (newest first).
std::string FormatHistoryIndex(const std::vector<HistoryEntry>& entries);
// The entries of an index that FormatHistoryIndex wrote; nothing for a damaged or foreign one.
std::optional<std::vector<HistoryEntry>> ParseHistoryIndex(const std::string& text);
// Removes the oldest entries (at the end) until at most maxCount remain whose pictures take at
// most maxBytes together; returns the removed ones.
std::vector<HistoryEntry> TrimHistory(std::vector<HistoryEntry>& entries, size_t maxCount,
                                      uint64_t maxBytes);
// "<id as 16 hex digits>.png".
std::wstring HistoryPictureName(uint64_t id);
// The menu text of an entry: its time (with the date unless it is from today, local time)
// and what happened.
std::wstring HistoryEntryText(const HistoryEntry& entry, int64_t now, bool english);
// A link from a server, safe to store and to hand to the browser: https only, no control
// characters; "" otherwise.
std::wstring SafeLink(const std::wstring& link);
