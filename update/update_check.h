// Asking the update server whether a newer version exists.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

struct UpdateInfo {
  bool available = false;
  std::wstring version;
  std::wstring url;
  std::wstring changelog;
  std::wstring error;
  // The installer's SHA-256 as the publisher signed it; the download must match it.
  std::array<BYTE, 32> sha256{};
};

// version.json holds five short strings; anything larger is not the document we asked for.
constexpr size_t kMaxVersionJsonBytes = 64 * 1024;

UpdateInfo CheckForUpdate();
// The body of GET https://<update host>/version.json, or empty with the reason in `error`.
std::string FetchVersionJson(std::wstring& error);
// What a fetched body (empty when the fetch failed with `fetchError`) says about an update, with
// the signature checked against `publicKeyHex` (the built-in key, or a test's).
UpdateInfo ReadUpdateInfo(const std::string& body, const std::wstring& fetchError,
                          const std::string& publicKeyHex);
// Thread procedure of the start-up check; its argument is a heap HWND cell that it frees.
DWORD WINAPI UpdateCheckThread(LPVOID parameter);
