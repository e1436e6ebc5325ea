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
