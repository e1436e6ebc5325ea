// Owners for Win32 handles and GDI objects, so that every early return releases what was made.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

// A move-only owner. Traits name the handle type, its invalid value and how it is closed.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  // For a call that creates its object into an out-parameter: closes what is held and hands out
  // the address of the empty handle, so the new object is owned from the moment it exists.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Invalid();
};

template <typename T>
struct GdiObjectTraits {
  using Type = T;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { DeleteObject(value); }
};

struct MemoryDcTraits {
  using Type = HDC;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { DeleteDC(value); }
};

struct IconTraits {
  using Type = HICON;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { DestroyIcon(value); }
};

struct CursorTraits {
  using Type = HCURSOR;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { DestroyCursor(value); }
};

struct MenuTraits {
  using Type = HMENU;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { DestroyMenu(value); }
};

struct WindowTraits {
  using Type = HWND;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { DestroyWindow(value); }
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { CloseHandle(value); }
};

// A mutex created with this thread as its owner: given back before it is closed.
struct OwnedMutexTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) {
    ReleaseMutex(value);
    CloseHandle(value);
  }
};

struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type value) { CloseHandle(value); }
};

struct GlobalMemoryTraits {
  using Type = HGLOBAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { GlobalFree(value); }
};

// Strings that the shell hands out (SHGetKnownFolderPath) and the caller frees.
struct CoTaskStringTraits {
  using Type = PWSTR;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { CoTaskMemFree(value); }
};

using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueResource<GdiObjectTraits<HPEN>>;
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueRegion = UniqueResource<GdiObjectTraits<HRGN>>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;
using UniqueIcon = UniqueResource<IconTraits>;
using UniqueCursor = UniqueResource<CursorTraits>;
using UniqueMenu = UniqueResource<MenuTraits>;
using UniqueWindow = UniqueResource<WindowTraits>;
using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueOwnedMutex = UniqueResource<OwnedMutexTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueGlobal = UniqueResource<GlobalMemoryTraits>;
using UniqueCoTaskString = UniqueResource<CoTaskStringTraits>;

// A window's (or the screen's, with no window) device context, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) noexcept : hwnd_(hwnd), hdc_(GetDC(hwnd)) {}
  ~WindowDc() {
    if (hdc_) ReleaseDC(hwnd_, hdc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC get() const noexcept { return hdc_; }
  explicit operator bool() const noexcept { return hdc_ != nullptr; }

 private:
  HWND hwnd_;
  HDC hdc_;
};

// BeginPaint/EndPaint for one WM_PAINT.
class PaintDc {
 public:
  explicit PaintDc(HWND hwnd) noexcept : hwnd_(hwnd), hdc_(BeginPaint(hwnd, &paint_)) {}
  ~PaintDc() { EndPaint(hwnd_, &paint_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;

  HDC get() const noexcept { return hdc_; }
  const PAINTSTRUCT& paint() const noexcept { return paint_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT paint_{};
  HDC hdc_;
};

// Selects an object into a DC and puts the previous one back; it never deletes anything.
// Declare the object's owner before the DC's owner and this guard after both, so that
// destruction restores, then deletes the DC, then the object.
class SelectGuard {
 public:
  SelectGuard(HDC hdc, HGDIOBJ object) noexcept : hdc_(hdc), previous_(SelectObject(hdc, object)) {}
  ~SelectGuard() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(hdc_, previous_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC hdc_;
  HGDIOBJ previous_;
};

// The clipboard is a process-wide lock: it must be closed on every path once opened.
class ClipboardGuard {
 public:
  explicit ClipboardGuard(HWND owner) noexcept : open_(OpenClipboard(owner) != FALSE) {}
  ~ClipboardGuard() {
    if (open_) CloseClipboard();
  }
  ClipboardGuard(const ClipboardGuard&) = delete;
  ClipboardGuard& operator=(const ClipboardGuard&) = delete;

  bool isOpen() const noexcept { return open_; }

 private:
  bool open_;
};
