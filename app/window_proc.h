#pragma once

#include <windows.h>

// No exception may unwind into the system's message dispatch: a message whose handling throws
// ends as handled.
template <typename Dispatch>
LRESULT Guarded(Dispatch dispatch) noexcept {
  try {
    return dispatch();
  } catch (...) {
    return 0;
  }
}
