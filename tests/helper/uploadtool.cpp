// uploadtool: what the upload tests need beyond snaptool, as real Win32 inside the Wine prefix.
//
//   watch [--count n] [--timeout ms]
//       Watches the progress windows, the overlay and the clipboard every 10 ms and prints one
//       JSON line per change, each with "t", the milliseconds since the watch began: progress
//       windows appearing (with their place, title and styles), hiding and going, the colour of
//       their text (black while uploading, green once done), the overlay going, and every new
//       clipboard text. Ends with {"event":"done"} once n progress windows have come and gone
//       (exit 0), or at the time-out (exit 1).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../app/win_handles.h"
#include "tool_output.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitTimedOut = 1;
constexpr int kExitUsage = 64;
constexpr DWORD kPollMs = 10;
constexpr wchar_t kProgressClass[] = L"SnapwrenProgress";
constexpr wchar_t kOverlayClass[] = L"SnapwrenOverlay";
// Where the progress window writes its one line of text, in client coordinates.
constexpr RECT kTextArea = {70, 28, 340, 60};
// Enough pixels of one colour to be glyphs rather than a stray edge.
constexpr int kGlyphPixels = 30;

// --- watch -------------------------------------------------------------------------------------

struct Watched {
  HWND hwnd = nullptr;
  bool visible = false;
  bool gone = false;
  std::string colour = "none";
};

std::vector<HWND> ProgressWindows() {
  std::vector<HWND> found;
  HWND hwnd = nullptr;
  while ((hwnd = FindWindowExW(nullptr, hwnd, kProgressClass, nullptr)) != nullptr) {
    found.push_back(hwnd);
  }
  return found;
}

// Black glyphs while uploading, green ones once done, read from the screen where the user sees
// them.
std::string TextColour(HWND hwnd) {
  POINT origin = {kTextArea.left, kTextArea.top};
  ClientToScreen(hwnd, &origin);
  const int width = kTextArea.right - kTextArea.left;
  const int height = kTextArea.bottom - kTextArea.top;
  const WindowDc screen(nullptr);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  const UniqueBitmap bitmap(
      CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  {
    const SelectGuard select(memory.get(), bitmap.get());
    BitBlt(memory.get(), 0, 0, width, height, screen.get(), origin.x, origin.y, SRCCOPY);
    GdiFlush();
  }
  int black = 0;
  int green = 0;
  const auto* pixels = static_cast<const DWORD*>(bits);
  for (int i = 0; pixels && i < width * height; ++i) {
    const int r = static_cast<int>((pixels[i] >> 16) & 0xFF);
    const int g = static_cast<int>((pixels[i] >> 8) & 0xFF);
    const int b = static_cast<int>(pixels[i] & 0xFF);
    if (r < 80 && g < 80 && b < 80) ++black;
    if (g > 80 && r < 60 && b < 60) ++green;
  }
  if (green >= kGlyphPixels) return "green";
  if (black >= kGlyphPixels) return "black";
  return "none";
}

// Empty when another program holds the clipboard open, so the caller can look again.
std::string ClipboardJson() {
  const ClipboardGuard clipboard(nullptr);
  if (!clipboard.isOpen()) return {};
  std::string json = "null";
  if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
      json = JsonString(text);
      GlobalUnlock(data);
    }
  }
  return json;
}

std::string Describe(HWND hwnd) {
  RECT rect;
  GetWindowRect(hwnd, &rect);
  wchar_t title[128] = {};
  GetWindowTextW(hwnd, title, ARRAYSIZE(title));
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return ",\"hwnd\":" + HwndJson(hwnd) + ",\"rect\":" + RectJson(rect) +
         ",\"title\":" + JsonString(title) + ",\"pid\":" + std::to_string(pid) +
         ",\"style\":" + std::to_string(static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE))) +
         ",\"exstyle\":" +
         std::to_string(static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE))) +
         ",\"visible\":" + (IsWindowVisible(hwnd) ? "true" : "false");
}

int CmdWatch(int argc, wchar_t** argv) {
  size_t count = 1;
  ULONGLONG timeout = 30000;
  for (int i = 0; i + 1 < argc; i += 2) {
    if (std::wstring(argv[i]) == L"--count") count = static_cast<size_t>(_wtoi(argv[i + 1]));
    if (std::wstring(argv[i]) == L"--timeout") timeout = static_cast<ULONGLONG>(_wtoi(argv[i + 1]));
  }
  const ULONGLONG start = GetTickCount64();
  auto stamp = [start](const char* event) {
    return "{\"t\":" + std::to_string(GetTickCount64() - start) + ",\"event\":\"" + event + "\"";
  };
  std::vector<Watched> watched;
  bool overlay = FindWindowW(kOverlayClass, nullptr) != nullptr;
  DWORD sequence = GetClipboardSequenceNumber();
  std::string clipboardText = ClipboardJson();
  WriteLine(stamp("ready") + ",\"overlay\":" + (overlay ? "true" : "false") + "}");

  while (GetTickCount64() - start < timeout) {
    // The clipboard comes first in each round: a copy followed by a repaint within one round is
    // then printed in that order.
    // Under Wine the sequence number can move again after a copy with the text unchanged (one
    // copy was once reported twice), so only a change of text is an event.
    const DWORD sequenceNow = GetClipboardSequenceNumber();
    if (sequenceNow != sequence) {
      const std::string textNow = ClipboardJson();
      if (!textNow.empty()) {
        sequence = sequenceNow;
        if (textNow != clipboardText) {
          clipboardText = textNow;
          WriteLine(stamp("clipboard") + ",\"text\":" + textNow + "}");
        }
      }
    }
    const bool overlayNow = FindWindowW(kOverlayClass, nullptr) != nullptr;
    if (overlayNow != overlay) {
      overlay = overlayNow;
      WriteLine(stamp(overlay ? "overlay-shown" : "overlay-gone") + "}");
    }
    const std::vector<HWND> windows = ProgressWindows();
    for (HWND hwnd : windows) {
      bool known = false;
      for (const Watched& w : watched) known = known || (w.hwnd == hwnd && !w.gone);
      if (!known) {
        Watched w;
        w.hwnd = hwnd;
        w.visible = IsWindowVisible(hwnd) != FALSE;
        watched.push_back(w);
        WriteLine(stamp("progress") + Describe(hwnd) + "}");
      }
    }
    for (Watched& w : watched) {
      if (w.gone) continue;
      if (!IsWindow(w.hwnd)) {
        w.gone = true;
        WriteLine(stamp("progress-gone") + ",\"hwnd\":" + HwndJson(w.hwnd) + "}");
        continue;
      }
      const bool visible = IsWindowVisible(w.hwnd) != FALSE;
      if (visible != w.visible) {
        w.visible = visible;
        WriteLine(stamp(visible ? "progress-shown" : "progress-hidden") + ",\"hwnd\":" +
              HwndJson(w.hwnd) + "}");
      }
      if (visible) {
        const std::string colour = TextColour(w.hwnd);
        if (colour != w.colour) {
          w.colour = colour;
          WriteLine(stamp("text") + ",\"hwnd\":" + HwndJson(w.hwnd) + ",\"colour\":\"" + colour +
                "\"}");
        }
      }
    }
    size_t goneCount = 0;
    for (const Watched& w : watched) goneCount += w.gone ? 1 : 0;
    if (watched.size() >= count && goneCount == watched.size()) {
      WriteLine(stamp("done") + "}");
      return kExitOk;
    }
    Sleep(kPollMs);
  }
  WriteLine(stamp("timeout") + "}");
  return kExitTimedOut;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"watch") return CmdWatch(argc - 2, argv + 2);
  fprintf(stderr,
          "usage: uploadtool watch [--count n] [--timeout ms]\n");
  return kExitUsage;
}
