// Sending one PNG to the upload server and reading the link from its reply.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct UploadResult {
  bool success = false;
  std::wstring link;
  std::wstring error;
};

// Where a reply stops being a plausible JSON object and becomes a failure.
constexpr size_t kMaxReplyBytes = 1024 * 1024;
constexpr DWORD kUploadTimeoutMs = 30000;

// Blocks for the whole exchange: call it on a worker thread, never on one that serves windows.
UploadResult UploadPng(const std::vector<BYTE>& png);
// The same exchange against any address and with any time-out; UploadPng uses the built-in ones.
UploadResult UploadPngTo(const std::wstring& url, const std::vector<BYTE>& png, DWORD timeoutMs);
