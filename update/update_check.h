// Asking the update server whether a newer version exists.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct UpdateInfo {
  bool available = false;
  std::wstring version;
  std::wstring url;
  std::wstring changelog;
  std::wstring error;
  // The installer's SHA-256 as the publisher signed it; the download must match it.
  std::array<BYTE, 32> sha256{};
  // Its signed length in bytes: the download stops at the first byte beyond it.
  uint64_t length = 0;
  // The release's signed sequence number; no offer below the highest one accepted counts.
  uint64_t sequence = 0;
};

// version.json holds five short strings; anything larger is not the document we asked for.
constexpr size_t kMaxVersionJsonBytes = 64 * 1024;

UpdateInfo CheckForUpdate();
// The body of GET https://<update host>/version.json, or empty with the reason in `error`.
std::string FetchVersionJson(std::wstring& error);
// What a fetched body (empty when the fetch failed with `fetchError`) says about an update, with
// the signature checked against `publicKeyHex` (the built-in key, or a test's) and its sequence
// number against the highest one accepted before.
UpdateInfo ReadUpdateInfo(const std::string& body, const std::wstring& fetchError,
                          const std::string& publicKeyHex, uint64_t highestSequence);
// The highest sequence number accepted so far, kept beside settings.ini; 0 before the first.
uint64_t LoadHighestSequence(const std::wstring& path);
bool SaveHighestSequence(const std::wstring& path, uint64_t sequence);
std::wstring HighestSequencePath();
// One check at a time, with its answer. A request while a check runs joins it: the user who asks
// then hears its outcome, whoever started it. UI thread only.
class UpdateCheckGuard {
 public:
  // Whether this request starts a check.
  bool Request(bool byUser);
  // Whether a user asked for the check that is running.
  bool UserAsked() const { return userAsked_; }
  // The outcome has been dealt with: the next request starts a check again.
  void Finish();

 private:
  bool running_ = false;
  bool userAsked_ = false;
};

// Checks on a worker thread, unless a check runs already, and posts the outcome to `receiver` as
// WM_UPDATE_AVAILABLE. byUser: the menu's request, whose outcome is reported whatever it is.
void StartUpdateCheck(HWND receiver, bool byUser);
// Thread procedure of a check; its argument is a heap HWND cell, the receiver, that it frees.
DWORD WINAPI UpdateCheckThread(LPVOID parameter);
// WM_UPDATE_AVAILABLE: takes the posted UpdateInfo and tells the user what they need to hear,
// with message boxes owned by `owner`.
void OnUpdateCheckOutcome(HWND owner, LPARAM record);
