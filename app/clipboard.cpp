#include "app/clipboard.h"

#include <cstring>

#include "app/app.h"

namespace {

// Another program may hold the clipboard for a moment; a short wait usually gets it.
constexpr int kAttempts = 5;
constexpr DWORD kRetryMs = 20;

}  // namespace

// Opened by a window: opened without one, EmptyClipboard leaves the clipboard without an owner
// and Windows then refuses SetClipboardData (Wine accepts it).
bool ReplaceClipboard(HWND owner, UINT format, UniqueGlobal& data) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt > 0) Sleep(kRetryMs);
    const ClipboardGuard clipboard(owner);
    if (!clipboard.isOpen()) continue;
    if (!EmptyClipboard()) return false;
    if (!SetClipboardData(format, data.get())) return false;
    static_cast<void>(data.release());
    return true;
  }
  return false;
}

bool CopyTextToClipboard(HWND owner, const std::wstring& text) {
  // Prepared before the clipboard is emptied, so that a failed allocation leaves it as it was.
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
  if (!memory) return false;
  void* target = GlobalLock(memory.get());
  if (!target) return false;
  std::memcpy(target, text.c_str(), bytes);
  GlobalUnlock(memory.get());
  return ReplaceClipboard(owner, CF_UNICODETEXT, memory);
}
