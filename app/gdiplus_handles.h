// Owners for objects of the flat GDI+ API and for the GDI+ start itself, and the few objects
// every drawing of Snapwren makes from them.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "app/win_handles.h"

namespace gp = Gdiplus::DllExports;

template <typename T, Gdiplus::GpStatus(WINGDIPAPI* Delete)(T*)>
struct GdiplusTraits {
  using Type = T*;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { Delete(value); }
};

using UniqueGpImage = UniqueResource<GdiplusTraits<Gdiplus::GpImage, gp::GdipDisposeImage>>;
using UniqueGpGraphics = UniqueResource<GdiplusTraits<Gdiplus::GpGraphics, gp::GdipDeleteGraphics>>;
using UniqueGpBrush = UniqueResource<GdiplusTraits<Gdiplus::GpBrush, gp::GdipDeleteBrush>>;
using UniqueGpPen = UniqueResource<GdiplusTraits<Gdiplus::GpPen, gp::GdipDeletePen>>;
using UniqueGpFont = UniqueResource<GdiplusTraits<Gdiplus::GpFont, gp::GdipDeleteFont>>;
using UniqueGpFontFamily =
    UniqueResource<GdiplusTraits<Gdiplus::GpFontFamily, gp::GdipDeleteFontFamily>>;
using UniqueGpStringFormat =
    UniqueResource<GdiplusTraits<Gdiplus::GpStringFormat, gp::GdipDeleteStringFormat>>;
using UniqueGpPath = UniqueResource<GdiplusTraits<Gdiplus::GpPath, gp::GdipDeletePath>>;
using UniqueGpImageAttributes =
    UniqueResource<GdiplusTraits<Gdiplus::GpImageAttributes, gp::GdipDisposeImageAttributes>>;

// COM interfaces, such as the memory streams that images are read from and encoded into.
template <typename T>
struct ComReleaseTraits {
  using Type = T*;
  static Type Invalid() { return nullptr; }
  static void Close(Type value) { value->Release(); }
};

using UniqueStream = UniqueResource<ComReleaseTraits<IStream>>;

// A bitmap is an image to GDI+, and it is disposed of as one.
inline Gdiplus::GpImage* AsImage(Gdiplus::GpBitmap* bitmap) {
  return reinterpret_cast<Gdiplus::GpImage*>(bitmap);
}

// One GDI+ start; shut down when the owner goes. A failed start leaves the token at 0.
class GdiplusSession {
 public:
  GdiplusSession() noexcept {
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
  }
  ~GdiplusSession() {
    if (token_) Gdiplus::GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  bool started() const noexcept { return token_ != 0; }

 private:
  ULONG_PTR token_ = 0;
};

// The face of every text Snapwren draws, GDI's and GDI+'s alike.
constexpr wchar_t kUiFontFamily[] = L"Segoe UI";

// Null on failure; antialiased shapes and text when smooth.
UniqueGpGraphics GraphicsOn(HDC hdc, bool smooth);
UniqueGpBrush SolidBrush(Gdiplus::ARGB colour);
UniqueGpPen SolidPen(Gdiplus::ARGB colour, float width);
// kUiFontFamily at size pixels, else the generic sans-serif family; null when both are missing
// (Wine without font substitutes).
UniqueGpFont UiFont(float size, INT style);
