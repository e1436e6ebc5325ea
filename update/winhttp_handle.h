// Owner for WinHTTP session, connection and request handles. Kept apart from app/win_handles.h
// because winhttp.h and wininet.h cannot share a translation unit.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "app/win_handles.h"

struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { WinHttpCloseHandle(value); }
};

using UniqueInternet = UniqueResource<InternetHandleTraits>;

// The response's status code, or 0 when the response carries none.
inline DWORD QueryStatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return status;
}
