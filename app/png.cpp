#include "app/png.h"

#include <cstring>
#include <memory>
#include <new>

#include "app/gdiplus_handles.h"
#include "app/win_handles.h"

namespace {

constexpr wchar_t kPngMimeType[] = L"image/png";

UniqueGpImage WrapBitmap(HBITMAP bitmap) {
  Gdiplus::GpBitmap* wrapped = nullptr;
  if (gp::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &wrapped) != Gdiplus::Ok) return {};
  return UniqueGpImage(AsImage(wrapped));
}

}  // namespace

int GetPngEncoderClsid(CLSID* clsid) {
  UINT count = 0;
  UINT bytes = 0;
  if (gp::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return -1;
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[bytes]);
  if (!buffer) return -1;
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.get());
  if (gp::GdipGetImageEncoders(count, bytes, encoders) != Gdiplus::Ok) return -1;
  for (UINT i = 0; i < count; ++i) {
    if (encoders[i].MimeType && std::wcscmp(encoders[i].MimeType, kPngMimeType) == 0) {
      *clsid = encoders[i].Clsid;
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::vector<BYTE> EncodePng(HBITMAP bitmap) {
  std::vector<BYTE> png;
  UniqueGpImage image = WrapBitmap(bitmap);
  if (!image) return png;
  CLSID encoder = {};
  if (GetPngEncoderClsid(&encoder) < 0) return png;
  IStream* rawStream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &rawStream))) return png;
  UniqueStream stream(rawStream);
  if (gp::GdipSaveImageToStream(image.get(), stream.get(), &encoder, nullptr) != Gdiplus::Ok) {
    return png;
  }
  STATSTG status = {};
  if (FAILED(stream.get()->Stat(&status, STATFLAG_NONAME))) return png;
  const ULONG size = status.cbSize.LowPart;
  LARGE_INTEGER start = {};
  if (FAILED(stream.get()->Seek(start, STREAM_SEEK_SET, nullptr))) return png;
  png.resize(size);
  ULONG read = 0;
  if (FAILED(stream.get()->Read(png.data(), size, &read)) || read != size) png.clear();
  return png;
}

bool SavePngFile(HBITMAP bitmap, const wchar_t* path) {
  CLSID encoder = {};
  if (GetPngEncoderClsid(&encoder) < 0) return false;
  UniqueGpImage image = WrapBitmap(bitmap);
  if (!image) return false;
  return gp::GdipSaveImageToFile(image.get(), path, &encoder, nullptr) == Gdiplus::Ok;
}

UniqueGpImage DecodePng(const void* bytes, size_t size) {
  if (!bytes || size == 0) return {};
  UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE, size));
  if (!block) return {};
  void* copy = GlobalLock(block.get());
  if (!copy) return {};
  std::memcpy(copy, bytes, size);
  GlobalUnlock(block.get());

  IStream* rawStream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, &rawStream))) return {};
  static_cast<void>(block.release());  // the stream frees it
  const UniqueStream stream(rawStream);

  Gdiplus::GpImage* image = nullptr;
  gp::GdipLoadImageFromStream(stream.get(), &image);
  return UniqueGpImage(image);
}
