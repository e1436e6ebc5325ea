// Sending one PNG to the upload server and reading the link from its reply.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct UploadResult {
  bool success = false;
  std::wstring link;
  std::wstring error;
  // Where the image can be taken back, when the server offers it; "" otherwise.
  std::wstring deleteUrl;
};

// Where a reply stops being a plausible JSON object and becomes a failure.
constexpr size_t kMaxReplyBytes = 1024 * 1024;
constexpr DWORD kUploadTimeoutMs = 30000;

// Blocks for the whole exchange: call it on a worker thread, never on one that serves windows.
// The key goes along as a bearer token when there is one.
UploadResult UploadPng(const std::vector<BYTE>& png, const std::wstring& url,
                       const std::wstring& key);
// The same exchange with any time-out; UploadPng waits kUploadTimeoutMs.
UploadResult UploadPngTo(const std::wstring& url, const std::wstring& key,
                         const std::vector<BYTE>& png, DWORD timeoutMs);
