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

// The object a window's state lives in: passed as lpCreateParams to CreateWindowExW, kept in
// the window's GWLP_USERDATA from WM_NCCREATE on. Null before WM_NCCREATE (WM_GETMINMAXINFO
// comes first) and for a window made without one.
template <typename State>
State* WindowState(HWND hwnd, UINT message, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    auto* state =
        static_cast<State*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    return state;
  }
  return reinterpret_cast<State*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// The window procedure of a class whose windows keep their state in window data: Handle gets
// the state by reference; before WM_NCCREATE, and for a window made without one, DefWindowProcW
// answers.
template <typename State, LRESULT (*Handle)(HWND, State&, UINT, WPARAM, LPARAM)>
LRESULT StateWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return Guarded([&]() -> LRESULT {
    State* state = WindowState<State>(hwnd, message, lParam);
    if (!state) return DefWindowProcW(hwnd, message, wParam, lParam);
    return Handle(hwnd, *state, message, wParam, lParam);
  });
}

// This thread's top-level window of the class, or null: Snapwren's windows of which at most one
// is open are found this way, not by a variable that could outlive them.
HWND FindThreadWindow(const wchar_t* className);
