#include "overlay/annotations.h"

#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "app/gdiplus_handles.h"
#include "app/dpi.h"
#include "app/messages.h"
#include "overlay/frame_damage.h"

namespace {

// At the stroke width of 96 DPI.
constexpr double kHeadLength = 12.0;
constexpr double kHeadHalfAngle = 0.45;
constexpr UINT kCaretBlinkMs = 500;
constexpr DWORD kIdleSleepMs = 10;
constexpr wchar_t kTextFamily[] = L"Segoe UI";
constexpr wchar_t kCaret[] = L"|";
constexpr wchar_t kDelete = 0x7F;

POINT Offset(POINT point, POINT offset) { return POINT{point.x + offset.x, point.y + offset.y}; }

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// "Segoe UI" is missing on some Windows installations and under Wine unless a replacement is
// set up; text in the generic sans-serif family of the same size beats no text at all.
UniqueGpFontFamily CreateTextFamily() {
  Gdiplus::GpFontFamily* family = nullptr;
  if (gp::GdipCreateFontFamilyFromName(kTextFamily, nullptr, &family) == Gdiplus::Ok && family) {
    return UniqueGpFontFamily(family);
  }
  family = nullptr;
  if (gp::GdipGetGenericFontFamilySansSerif(&family) == Gdiplus::Ok && family) {
    return UniqueGpFontFamily(family);
  }
  return {};
}

void DrawPolyline(HDC hdc, const std::vector<POINT>& points, POINT offset) {
  if (points.size() < 2) return;
  const POINT first = Offset(points.front(), offset);
  MoveToEx(hdc, first.x, first.y, nullptr);
  for (size_t i = 1; i < points.size(); ++i) {
    const POINT next = Offset(points[i], offset);
    LineTo(hdc, next.x, next.y);
  }
}

void DrawSegment(HDC hdc, POINT from, POINT to) {
  MoveToEx(hdc, from.x, from.y, nullptr);
  LineTo(hdc, to.x, to.y);
}

void DrawStroke(HDC hdc, const Annotation& annotation, POINT offset) {
  UniquePen pen(CreatePen(PS_SOLID, annotation.Width, annotation.Color));
  if (!pen) return;
  SelectGuard selectPen(hdc, pen.get());
  SelectGuard selectBrush(hdc, GetStockObject(NULL_BRUSH));
  if (annotation.Kind == Tool::Pen) {
    DrawPolyline(hdc, annotation.Points, offset);
    return;
  }
  if (annotation.Points.size() < 2) return;
  const POINT a = Offset(annotation.Points[0], offset);
  const POINT b = Offset(annotation.Points[1], offset);
  switch (annotation.Kind) {
    case Tool::Line:
      DrawSegment(hdc, a, b);
      return;
    case Tool::Arrow:
      DrawSegment(hdc, a, b);
      DrawArrowHead(hdc, a, b, annotation.Color, annotation.Width);
      return;
    case Tool::Rectangle:
      Rectangle(hdc, std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x),
                std::max(a.y, b.y));
      return;
    default:
      return;
  }
}

// The window's own device context, drawn over the frame that was just painted.
void DrawTextPreview(HWND hwnd, const std::wstring& text, bool caretVisible, POINT origin,
                     int size) {
  WindowDc dc(hwnd);
  if (!dc) return;
  const std::wstring shown = caretVisible ? text + kCaret : text;
  DrawAnnotationText(dc.get(), shown, origin, g_overlayState.CurrentColor, size);
}

}  // namespace

std::array<POINT, 3> ArrowHeadCorners(POINT from, POINT to, int width) {
  const double length = kHeadLength * width / kStrokeWidth;
  const double angle = std::atan2(static_cast<double>(to.y - from.y),
                                  static_cast<double>(to.x - from.x));
  auto barb = [&](double direction) {
    // Truncation toward zero, as a cast does.
    return POINT{to.x - static_cast<LONG>(length * std::cos(direction)),
                 to.y - static_cast<LONG>(length * std::sin(direction))};
  };
  return {to, barb(angle - kHeadHalfAngle), barb(angle + kHeadHalfAngle)};
}

Annotation StrokeInProgress(const OverlayState& state) {
  Annotation annotation;
  annotation.Kind = state.CurrentTool;
  annotation.Color = state.CurrentColor;
  annotation.Width = Scale(kStrokeWidth, state.Dpi);
  if (state.CurrentTool == Tool::Pen) {
    annotation.Points = state.PenPoints;
  } else {
    annotation.Points = {state.DrawStart, state.DrawEnd};
  }
  return annotation;
}

DWORD OpaqueArgb(COLORREF color) {
  return 0xFF000000u | (static_cast<DWORD>(GetRValue(color)) << 16) |
         (static_cast<DWORD>(GetGValue(color)) << 8) | GetBValue(color);
}

TextEntryStep ApplyTextEntryMessage(const MSG& message, std::wstring& text, bool& caretVisible) {
  switch (message.message) {
    case WM_TIMER:
      if (message.wParam == IDT_CARET) caretVisible = !caretVisible;
      return TextEntryStep::Continue;
    case WM_KEYDOWN:
      if (message.wParam == VK_RETURN) return TextEntryStep::Commit;
      if (message.wParam == VK_ESCAPE) {
        text.clear();
        return TextEntryStep::Discard;
      }
      if (message.wParam == VK_BACK && !text.empty()) {
        // A character outside the BMP is two units; taking half of it would leave garbage.
        const bool pair = text.size() >= 2 && IsLowSurrogate(text.back()) &&
                          IsHighSurrogate(text[text.size() - 2]);
        text.erase(text.size() - (pair ? 2 : 1));
      }
      return TextEntryStep::Continue;
    case WM_CHAR: {
      // Ctrl+Backspace types DEL (127), a control character like those below 32.
      const auto character = static_cast<wchar_t>(message.wParam);
      if (message.wParam >= 32 && character != kDelete) text.push_back(character);
      return TextEntryStep::Continue;
    }
    default:
      return TextEntryStep::Continue;
  }
}

void DrawArrowHead(HDC hdc, POINT from, POINT to, COLORREF color, int width) {
  const std::array<POINT, 3> corners = ArrowHeadCorners(from, to, width);
  UniqueBrush brush(CreateSolidBrush(color));
  UniquePen pen(CreatePen(PS_SOLID, 1, color));
  if (!brush || !pen) return;
  SelectGuard selectBrush(hdc, brush.get());
  SelectGuard selectPen(hdc, pen.get());
  Polygon(hdc, corners.data(), static_cast<int>(corners.size()));
}

bool DrawAnnotationText(HDC hdc, const std::wstring& text, POINT origin, COLORREF color,
                        int size) {
  UniqueGpFontFamily family = CreateTextFamily();
  if (!family) return false;
  Gdiplus::GpFont* rawFont = nullptr;
  if (gp::GdipCreateFont(family.get(), static_cast<Gdiplus::REAL>(size), Gdiplus::FontStyleRegular,
                         Gdiplus::UnitPixel, &rawFont) != Gdiplus::Ok) {
    return false;
  }
  UniqueGpFont font(rawFont);
  Gdiplus::GpGraphics* rawGraphics = nullptr;
  if (gp::GdipCreateFromHDC(hdc, &rawGraphics) != Gdiplus::Ok) return false;
  UniqueGpGraphics graphics(rawGraphics);
  gp::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintAntiAlias);
  gp::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
  Gdiplus::GpSolidFill* rawBrush = nullptr;
  if (gp::GdipCreateSolidFill(OpaqueArgb(color), &rawBrush) != Gdiplus::Ok) return false;
  UniqueGpBrush brush(rawBrush);
  const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(origin.x),
                              static_cast<Gdiplus::REAL>(origin.y), 0.0f, 0.0f);
  return gp::GdipDrawString(graphics.get(), text.c_str(), static_cast<INT>(text.size()),
                            font.get(), &layout, nullptr, brush.get()) == Gdiplus::Ok;
}

void DrawAnnotation(HDC hdc, const Annotation& annotation, POINT offset) {
  if (annotation.Kind != Tool::Text) {
    DrawStroke(hdc, annotation, offset);
    return;
  }
  if (annotation.Text.empty() || annotation.Points.empty()) return;
  DrawAnnotationText(hdc, annotation.Text, Offset(annotation.Points.front(), offset),
                     annotation.Color, annotation.Width);
}

void DrawAnnotations(HDC hdc) {
  const OverlayState& state = g_overlayState;
  for (const Annotation& annotation : state.Annotations) {
    DrawAnnotation(hdc, annotation, POINT{0, 0});
  }
  if (!state.IsDrawing || state.DragMode != DragMode::Draw) return;
  DrawAnnotation(hdc, StrokeInProgress(state), POINT{0, 0});
}

void CommitStroke() {
  OverlayState& state = g_overlayState;
  state.IsDrawing = false;
  state.Annotations.push_back(StrokeInProgress(state));
  state.PenPoints.clear();
}

// Every message taken here is dispatched as usual, so a Ctrl shortcut may destroy the overlay
// while the text is being typed: then no key can end the entry any more, and it ends at once.
void RunTextEntry(HWND overlay, POINT point) {
  ReleaseCapture();
  const int size = Scale(kTextSize, g_overlayState.Dpi);
  std::wstring text;
  bool caretVisible = true;
  // The preview is drawn over the painted frame; what its longest text covered is painted
  // again before each new preview.
  size_t longest = 0;
  SetTimer(overlay, IDT_CARET, kCaretBlinkMs, nullptr);
  TextEntryStep step = TextEntryStep::Continue;
  // A quit request is not the entry's to act on: it is handed back to the loops outside.
  std::optional<int> quitCode;
  // Drawn again only after a message, which may have changed the text or the caret or painted
  // over the preview; an idle entry costs nothing but its sleep.
  bool redraw = true;
  while (step == TextEntryStep::Continue && IsWindow(overlay)) {
    if (redraw) {
      longest = std::max(longest, text.size());
      const RECT preview = TextPreviewBounds(point, longest, size);
      InvalidateRect(overlay, &preview, FALSE);
      UpdateWindow(overlay);
      DrawTextPreview(overlay, text, caretVisible, point, size);
      redraw = false;
    }
    MSG message = {};
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(kIdleSleepMs);
      continue;
    }
    if (message.message == WM_QUIT) {
      quitCode = static_cast<int>(message.wParam);
      continue;
    }
    step = ApplyTextEntryMessage(message, text, caretVisible);
    TranslateMessage(&message);
    DispatchMessageW(&message);
    redraw = true;
    // A press may have started a further entry nested in this one, which took the timer away.
    if (message.message == WM_LBUTTONDOWN && IsWindow(overlay)) {
      SetTimer(overlay, IDT_CARET, kCaretBlinkMs, nullptr);
    }
  }
  if (quitCode) PostQuitMessage(*quitCode);
  if (!IsWindow(overlay)) return;
  KillTimer(overlay, IDT_CARET);
  SetCapture(overlay);
  if (!text.empty() && step == TextEntryStep::Commit) {
    Annotation annotation;
    annotation.Kind = Tool::Text;
    annotation.Color = g_overlayState.CurrentColor;
    annotation.Width = size;
    annotation.Points = {point};
    annotation.Text = text;
    g_overlayState.Annotations.push_back(std::move(annotation));
  }
  InvalidateRect(overlay, nullptr, FALSE);
}

void ChooseAnnotationColor(HWND overlay) {
  OverlayState& state = g_overlayState;
  ReleaseCapture();
  CHOOSECOLORW chooser = {};
  chooser.lStructSize = sizeof chooser;
  chooser.hwndOwner = overlay;
  chooser.rgbResult = state.CurrentColor;
  chooser.lpCustColors = state.CustomColors;
  chooser.Flags = CC_RGBINIT | CC_FULLOPEN;
  if (ChooseColorW(&chooser)) state.CurrentColor = chooser.rgbResult;
  if (!IsWindow(overlay)) return;
  SetCapture(overlay);
  InvalidateRect(overlay, nullptr, FALSE);
}
