#include "app/notifier.h"

#include <shellapi.h>

#include <utility>

#include "app/app.h"
#include "app/text.h"

namespace {

constexpr DWORD kBalloonInfoFlags = NIIF_USER | NIIF_LARGE_ICON;

BalloonSink g_balloonSink;

}  // namespace

std::wstring TruncateUtf16(const std::wstring& text, size_t maxLength) {
  if (text.size() <= maxLength) return text;
  size_t length = maxLength;
  if (length > 0 && IsHighSurrogate(text[length - 1])) --length;
  return text.substr(0, length);
}

void SetBalloonSink(BalloonSink sink) { g_balloonSink = std::move(sink); }

void ShowTrayNotification(const std::wstring& title, const std::wstring& message) {
  NOTIFYICONDATAW data = {};
  data.cbSize = sizeof data;
  data.hWnd = g_trayWnd;
  data.uID = kTrayIconId;
  // The record's text fields hold 63 and 255 characters plus the terminator; longer texts are
  // cut rather than written past the fields.
  data.uFlags = NIF_INFO | NIF_ICON;
  data.hIcon = AppIcon();
  wcscpy_s(data.szInfoTitle, TruncateUtf16(title, ARRAYSIZE(data.szInfoTitle) - 1).c_str());
  wcscpy_s(data.szInfo, TruncateUtf16(message, ARRAYSIZE(data.szInfo) - 1).c_str());
  if (g_balloonSink) {
    g_balloonSink(data.szInfoTitle, data.szInfo);
    return;
  }
  if (!g_trayWnd) return;
  data.dwInfoFlags = kBalloonInfoFlags;
  data.hBalloonIcon = g_appIcon;
  Shell_NotifyIconW(NIM_MODIFY, &data);
}
