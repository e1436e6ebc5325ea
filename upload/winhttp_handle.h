// Owner for the upload's WinHTTP handles. winhttp.h must not meet wininet.h in one file, so this
// stays out of app/win_handles.h.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "app/win_handles.h"

struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { WinHttpCloseHandle(value); }
};

using UniqueWinHttp = UniqueResource<WinHttpHandleTraits>;
