#include "app/clipboard_dib.h"

#include <cstring>

#include "app/clipboard.h"

namespace {

constexpr WORD kBitsPerPixel = 32;
constexpr size_t kBytesPerPixel = 4;
constexpr size_t kAlphaOffset = 3;
constexpr BYTE kOpaque = 255;

// Unlocks on every path once locked.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL block) noexcept : block_(block), data_(GlobalLock(block)) {}
  ~GlobalLockGuard() {
    if (data_) GlobalUnlock(block_);
  }
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

  BYTE* get() const noexcept { return static_cast<BYTE*>(data_); }

 private:
  HGLOBAL block_;
  void* data_;
};

}  // namespace

BITMAPINFOHEADER MakeClipboardDibHeader(int width, int height) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;  // positive: rows run bottom-up
  header.biPlanes = 1;
  header.biBitCount = kBitsPerPixel;
  header.biCompression = BI_RGB;
  return header;
}

size_t ClipboardDibSize(int width, int height) {
  return sizeof(BITMAPINFOHEADER) +
         static_cast<size_t>(width) * static_cast<size_t>(height) * kBytesPerPixel;
}

void MakePixelsOpaque(BYTE* pixels, size_t pixelCount) {
  for (size_t i = 0; i < pixelCount; ++i) pixels[i * kBytesPerPixel + kAlphaOffset] = kOpaque;
}

UniqueGlobal CreateClipboardDib(HBITMAP bitmap) {
  BITMAP info = {};
  if (!GetObjectW(bitmap, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) {
    return {};
  }
  const BITMAPINFOHEADER header = MakeClipboardDibHeader(info.bmWidth, info.bmHeight);
  UniqueGlobal block(GlobalAlloc(GHND, ClipboardDibSize(info.bmWidth, info.bmHeight)));
  if (!block) return {};
  {
    GlobalLockGuard lock(block.get());
    BYTE* data = lock.get();
    if (!data) return {};
    std::memcpy(data, &header, sizeof header);
    BYTE* pixels = data + sizeof header;
    WindowDc screen(nullptr);
    const int lines = GetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(info.bmHeight), pixels,
                                reinterpret_cast<BITMAPINFO*>(data), DIB_RGB_COLORS);
    // A failed read would put a black picture on the clipboard and call it a success.
    if (lines != info.bmHeight) return {};
    MakePixelsOpaque(pixels, static_cast<size_t>(info.bmWidth) * static_cast<size_t>(info.bmHeight));
    // GetDIBits may fill in fields such as the image size; the block carries the plain header.
    std::memcpy(data, &header, sizeof header);
  }
  return block;
}

bool PutBitmapOnClipboard(HWND owner, HBITMAP bitmap) {
  // The block is made before the clipboard is emptied, so a failure leaves the user's
  // clipboard as it was.
  UniqueGlobal block = CreateClipboardDib(bitmap);
  return block && ReplaceClipboard(owner, CF_DIB, block);
}
