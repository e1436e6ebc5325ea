// snapwren_bench --out <file> [--repeats n] [--verbose]: real capture sessions through
// StartCapture and the real overlay procedure on the virtual screen it runs on; one
// "key<TAB>value" line per figure (scripts/bench.sh tabulates them). Medians in ms: blit (one
// full-frame BitBlt from the screen, the reference) and start (StartCapture to the first
// WM_PAINT's return), taken in turns in one loop so that the machine's changing speed moves both;
// with --verbose also the steps of that start (step_*, see MeasureStart); repaint (the whole overlay
// in phase Selected: an 800 x 600 selection, toolbar, a tooltip, 20 annotations), move and hover
// (a pointer move dragging that selection or across a button, with its repaint), magnifier (a
// pointer move before any selection, the magnifier beside it, with its repaint), png_ms (EncodePng
// of 1920 x 1080 of text; png_bytes its size). mem_*: private bytes before the first capture, and
// before, during and after a session.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/messages.h"
#include "app/gdiplus_handles.h"
#include "app/win_handles.h"
#include "capture/capture_session.h"
#include "capture/screen_capture.h"
#include "overlay/export.h"
#include "overlay/overlay_state.h"
#include "overlay/overlay_window.h"
#include "overlay/session.h"
#include "overlay/toolbar.h"
#include "settings/settings.h"

namespace {

constexpr UINT WM_BENCH_MEASURE = WM_APP + 40;
constexpr SIZE kSelection = {800, 600};
constexpr int kAnnotationCount = 20;

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The time of step() in milliseconds, ended by GdiFlush.
template <typename Step>
double TimeMs(Step step) {
  const double start = Now();
  step();
  GdiFlush();
  return Now() - start;
}

double MedianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The median time of step(i) over `repeats` runs.
template <typename Step>
double MedianMs(int repeats, Step step) {
  std::vector<double> values;
  for (int i = 0; i < repeats; ++i) values.push_back(TimeMs([&] { step(i); }));
  return MedianOf(values);
}

SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof counters);
  // Windows reports the commit charge in both; Wine 8 only in PagefileUsage.
  return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// What the session under measurement does once its overlay has painted for the first time.
std::function<void(HWND)> g_afterFirstPaint;
// When the session's window got its first message, and when its first paint began and ended.
double g_windowStart = 0;
double g_firstPaintStart = 0;
double g_firstPaintEnd = 0;
bool g_painted = false;

// The real overlay procedure, with a note of when the window and the first frame are done.
LRESULT CALLBACK BenchOverlayProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_BENCH_MEASURE) {
    if (g_afterFirstPaint) g_afterFirstPaint(hwnd);
    return 0;
  }
  if (message == WM_NCCREATE) g_windowStart = Now();
  if (message == WM_PAINT && !g_painted) g_firstPaintStart = Now();
  const LRESULT result = OverlayWndProc(hwnd, message, wParam, lParam);
  if (message == WM_PAINT && !g_painted) {
    g_painted = true;
    g_firstPaintEnd = Now();
    PostMessageW(hwnd, WM_BENCH_MEASURE, 0, 0);
  }
  return result;
}

bool RegisterOverlay() {
  const WNDCLASSEXW windowClass = {sizeof windowClass, CS_HREDRAW | CS_VREDRAW, BenchOverlayProc,
                                   0, 0, g_instance, nullptr, LoadCursorW(nullptr, IDC_CROSS),
                                   nullptr, nullptr, L"SnapwrenOverlay", nullptr};
  return RegisterClassExW(&windowClass) != 0;
}

// One session, ended by afterFirstPaint; the time to its first frame.
double RunSession(std::function<void(HWND)> afterFirstPaint) {
  g_afterFirstPaint = std::move(afterFirstPaint);
  g_painted = false;
  const double start = Now();
  StartCapture();
  return g_firstPaintEnd - start;
}

void EndSession(HWND overlay) { PostMessageW(overlay, WM_KEYDOWN, VK_ESCAPE, 0); }

// Lets the system finish what a destroyed window leaves behind, as the tray's message loop
// would while Snapwren waits.
void Settle() {
  for (const double until = Now() + 500; Now() < until; Sleep(10)) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  }
}

// The reference and the session's start in turns. With verbose, the start's steps: the capture
// (timed on its own), the rest before the window (GDI+, editor state, any image decoding), the
// window's creation up to its first paint, that paint less a repaint of the same frame (what
// the first writes into new memory cost), and that repaint; and on its own, the decoding of the
// toolbar images of one size, which the toolbar's first paint does.
void MeasureStart(FILE* out, int repeats, bool verbose) {
  const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
  WindowDc screen(nullptr);
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  SelectGuard select(memory.get(), bitmap.get());
  const char* keys[] = {"blit", "start", "step_capture", "step_decode", "step_other",
                        "step_window", "step_darken", "step_copy"};
  constexpr int kKeys = sizeof keys / sizeof *keys;
  std::vector<double> samples[kKeys];
  for (int i = 0; i < repeats; ++i) {
    double copy = 0;
    const double reference = TimeMs([&] {
      BitBlt(memory.get(), 0, 0, width, height, screen.get(), GetSystemMetrics(SM_XVIRTUALSCREEN),
             GetSystemMetrics(SM_YVIRTUALSCREEN), SRCCOPY);
    });
    const double start = RunSession([&](HWND overlay) {
      copy = TimeMs([&] {
        InvalidateRect(overlay, nullptr, FALSE);
        UpdateWindow(overlay);
      });
      EndSession(overlay);
    });
    const double paint = g_firstPaintEnd - g_firstPaintStart;
    const double window = g_firstPaintStart - g_windowStart;
    const double capture = verbose ? TimeMs([] { UniqueBitmap shot(CaptureScreen(false)); }) : 0;
    const double decode = verbose ? TimeMs([] { LoadPngResource(kFirstToolImageId); }) : 0;
    const double values[kKeys] = {reference, start, capture, decode,
                                  start - window - paint - capture, window, paint - copy, copy};
    for (int k = 0; k < kKeys; ++k) samples[k].push_back(values[k]);
  }
  for (int k = 0; k < (verbose ? kKeys : 2); ++k) {
    fprintf(out, "%s\t%.2f\n", keys[k], MedianOf(samples[k]));
  }
}

CaptureSession& SessionOf(HWND overlay) {
  return *reinterpret_cast<CaptureSession*>(GetWindowLongPtrW(overlay, GWLP_USERDATA));
}

LPARAM At(POINT point) {
  return MAKELPARAM(static_cast<WORD>(point.x), static_cast<WORD>(point.y));
}

void Move(HWND overlay, POINT point, bool held) {
  SendMessageW(overlay, WM_MOUSEMOVE, held ? MK_LBUTTON : 0, At(point));
  UpdateWindow(overlay);
}

// Phase Selected with an 800 x 600 selection in the middle and 20 annotations in it.
void PrepareSelected(HWND overlay) {
  const POINT from = {(GetSystemMetrics(SM_CXVIRTUALSCREEN) - kSelection.cx) / 2,
                      (GetSystemMetrics(SM_CYVIRTUALSCREEN) - kSelection.cy) / 2};
  const POINT to = {from.x + kSelection.cx, from.y + kSelection.cy};
  SendMessageW(overlay, WM_LBUTTONDOWN, MK_LBUTTON, At(from));
  Move(overlay, to, true);
  SendMessageW(overlay, WM_LBUTTONUP, 0, At(to));

  const Tool kinds[] = {Tool::Pen, Tool::Line, Tool::Arrow, Tool::Rectangle, Tool::Text};
  for (int i = 0; i < kAnnotationCount; ++i) {
    Annotation annotation;
    annotation.Kind = kinds[i % 5];
    annotation.Color = RGB(40 * (i % 6), 255 - 10 * i, 60);
    const LONG x = from.x + 30 + 35 * i, y = from.y + 40 + 25 * i;
    if (annotation.Kind == Tool::Pen) {
      for (int k = 0; k < 40; ++k) annotation.Points.push_back({x + 3 * k, y + (k * k) % 37});
    } else if (annotation.Kind == Tool::Text) {
      annotation.Width = 22;
      annotation.Points.push_back({x, y});
      annotation.Text = L"Notiz " + std::to_wstring(i);
    } else {
      annotation.Points = {{x, y}, {x + 120, y + 70}};
    }
    SessionOf(overlay).State.Annotations.push_back(annotation);
  }
}

// Writes repaint, hover and move; the private bytes at the session's height.
SIZE_T MeasureSelected(FILE* out, int repeats) {
  SIZE_T during = 0;
  RunSession([&](HWND overlay) {
    PrepareSelected(overlay);
    CaptureSession& session = SessionOf(overlay);
    const RECT& save = session.Toolbar.Button(ToolbarButtonId::Save);
    const POINT button = {(save.left + save.right) / 2, (save.top + save.bottom) / 2};
    // Rest on the button long enough for its tooltip to be due.
    Move(overlay, button, false);
    SendMessageW(overlay, WM_TIMER, IDT_TOOLTIP, 0);
    Move(overlay, {button.x + 1, button.y}, false);

    fprintf(out, "repaint\t%.2f\n", MedianMs(repeats, [&](int) {
              InvalidateRect(overlay, nullptr, FALSE);
              UpdateWindow(overlay);
            }));
    fprintf(out, "hover\t%.2f\n", MedianMs(repeats, [&](int i) {
              Move(overlay, {button.x + (i % 2 == 0 ? 2 : -2), button.y + (i % 3) - 1}, false);
            }));

    // Drag the selection by its inside, a few pixels per move, as a hand does.
    POINT grip = {session.State.SelectionRect.left + 200, session.State.SelectionRect.top + 150};
    SendMessageW(overlay, WM_LBUTTONDOWN, MK_LBUTTON, At(grip));
    fprintf(out, "move\t%.2f\n", MedianMs(repeats, [&](int) {
              grip = {grip.x + 3, grip.y + 2};
              Move(overlay, grip, true);
            }));
    SendMessageW(overlay, WM_LBUTTONUP, 0, At(grip));
    during = PrivateBytes();
    EndSession(overlay);
  });
  return during;
}

// Before any selection the magnifier follows the pointer, a few pixels per move.
void MeasureMagnifier(FILE* out, int repeats) {
  RunSession([&](HWND overlay) {
    POINT pointer = {GetSystemMetrics(SM_CXVIRTUALSCREEN) / 3,
                     GetSystemMetrics(SM_CYVIRTUALSCREEN) / 3};
    Move(overlay, pointer, false);
    fprintf(out, "magnifier\t%.2f\n", MedianMs(repeats, [&](int) {
              pointer = {pointer.x + 3, pointer.y + 2};
              Move(overlay, pointer, false);
            }));
    EndSession(overlay);
  });
}

// A 1920 x 1080 picture of lines of text, as a screenshot of documents or code looks.
UniqueBitmap TextPicture() {
  WindowDc screen(nullptr);
  UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), 1920, 1080));
  UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  SelectGuard select(memory.get(), bitmap.get());
  PatBlt(memory.get(), 0, 0, 1920, 1080, WHITENESS);
  UniqueFont font(CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                              DEFAULT_PITCH, L"Liberation Sans"));
  SelectGuard selectFont(memory.get(), font.get());
  SetBkMode(memory.get(), TRANSPARENT);
  const wchar_t line[] =
      L"Die Auswahl folgt der Maus; Bildschirmfoto, Pfeil, Rechteck und Text bleiben erhalten. "
      L"void PaintOverlay(HWND hwnd) { return BitBlt(target, 0, 0, width, height); }";
  for (int row = 0; row < 1080 / 18; ++row) {
    SetTextColor(memory.get(), RGB((row * 37) % 160, (row * 53) % 160, (row * 91) % 160));
    TextOutW(memory.get(), 8 + (row % 7) * 11, row * 18, line, static_cast<int>(wcslen(line)));
  }
  return bitmap;
}

void MeasurePng(FILE* out, int repeats) {
  UniqueBitmap picture = TextPicture();
  size_t bytes = 0;
  const double ms = MedianMs(std::max(3, repeats / 3),
                             [&](int) { bytes = EncodePng(picture.get()).size(); });
  fprintf(out, "png_ms\t%.1f\npng_bytes\t%zu\n", ms, bytes);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring outPath;
  int repeats = 15;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--verbose") == 0) verbose = true;
    if (i + 1 == argc) break;
    if (wcscmp(argv[i], L"--out") == 0) outPath = argv[i + 1];
    if (wcscmp(argv[i], L"--repeats") == 0) repeats = std::max(3, _wtoi(argv[i + 1]));
  }
  FILE* out = outPath.empty() ? nullptr : _wfopen(outPath.c_str(), L"w");
  if (!out) {
    return fprintf(stderr, "usage: snapwren_bench --out <file> [--repeats n] [--verbose]\n"), 64;
  }

  g_instance = GetModuleHandleW(nullptr);
  GdiplusSession gdiplus;
  AppSettings = Settings();
  AppSettings.RememberSelection = AppSettings.CaptureCursor = false;
  if (!RegisterOverlay()) return 1;

  Settle();
  const SIZE_T atStart = PrivateBytes();
  fprintf(out, "width\t%d\nheight\t%d\n", GetSystemMetrics(SM_CXVIRTUALSCREEN),
          GetSystemMetrics(SM_CYVIRTUALSCREEN));

  // One session to warm up GDI+, the icons' decoder and the window class.
  RunSession(EndSession);
  MeasureStart(out, repeats, verbose);

  // Wine keeps about a screen's worth of memory once it has read the screen twice in a row;
  // that is the platform's, and settled before the session's own share is measured.
  for (int i = 0; i < 2; ++i) UniqueBitmap warmUp(CaptureScreen(false));
  Settle();
  const SIZE_T before = PrivateBytes();
  const SIZE_T during = MeasureSelected(out, repeats);
  Settle();
  fprintf(out, "mem_start\t%zu\nmem_before\t%zu\nmem_session\t%zu\nmem_after\t%zu\n", atStart,
          before, during, PrivateBytes());

  MeasureMagnifier(out, repeats);
  MeasurePng(out, repeats);
  fclose(out);
  return 0;
}
