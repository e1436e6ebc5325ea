#include "overlay/annotations.h"

#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "app/dpi.h"
#include "app/gdiplus_handles.h"
#include "app/messages.h"
#include "app/text.h"

namespace {

// At the stroke width of 96 DPI.
constexpr double kHeadLength = 12.0;
constexpr double kHeadHalfAngle = 0.45;
constexpr UINT kCaretBlinkMs = 500;
constexpr wchar_t kCaret[] = L"|";
constexpr wchar_t kDelete = 0x7F;
// A number's digits, white in its circle: two of them fit up to 99.
constexpr float kNumberFontSize = 13.0f;
constexpr Gdiplus::ARGB kNumberDigits = 0xFFFFFFFF;

POINT Offset(POINT point, POINT offset) { return POINT{point.x + offset.x, point.y + offset.y}; }

int BlockCount(LONG length, int block) { return static_cast<int>((length + block - 1) / block); }

// Block (column, row) of a mosaic over area; the last ones are cut at its edges.
RECT BlockRect(const RECT& area, int block, int column, int row) {
  const LONG left = area.left + column * block;
  const LONG top = area.top + row * block;
  return RECT{left, top, std::min(left + block, area.right), std::min(top + block, area.bottom)};
}

// Opaque blocks: whatever lay under them, the frozen screen and earlier annotations, is gone.
void DrawMosaic(HDC hdc, const Annotation& mosaic, POINT offset) {
  if (mosaic.Points.size() < 2 || mosaic.Width <= 0) return;
  const RECT area = {mosaic.Points[0].x + offset.x, mosaic.Points[0].y + offset.y,
                     mosaic.Points[1].x + offset.x, mosaic.Points[1].y + offset.y};
  const int columns = BlockCount(area.right - area.left, mosaic.Width);
  const int rows = BlockCount(area.bottom - area.top, mosaic.Width);
  if (mosaic.Blocks.size() != static_cast<size_t>(columns) * static_cast<size_t>(rows)) return;
  const auto brush = static_cast<HBRUSH>(GetStockObject(DC_BRUSH));
  const COLORREF previous = GetDCBrushColor(hdc);
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      SetDCBrushColor(hdc, mosaic.Blocks[static_cast<size_t>(row * columns + column)]);
      const RECT block = BlockRect(area, mosaic.Width, column, row);
      FillRect(hdc, &block, brush);
    }
  }
  SetDCBrushColor(hdc, previous);
}

// A filled circle centred on the pixel clicked, its digits centred in white.
void DrawNumber(HDC hdc, const Annotation& number, POINT offset) {
  if (number.Points.empty()) return;
  UniqueGpGraphics graphics = GraphicsOn(hdc, true);
  UniqueGpBrush fill = SolidBrush(OpaqueArgb(number.Color));
  if (!graphics || !fill) return;
  const POINT centre = Offset(number.Points.front(), offset);
  const auto diameter = static_cast<Gdiplus::REAL>(number.Width);
  const Gdiplus::RectF circle(static_cast<Gdiplus::REAL>(centre.x) + 0.5f - diameter / 2,
                              static_cast<Gdiplus::REAL>(centre.y) + 0.5f - diameter / 2,
                              diameter, diameter);
  gp::GdipFillEllipse(graphics.get(), fill.get(), circle.X, circle.Y, diameter, diameter);
  UniqueGpFont font = UiFont(diameter * kNumberFontSize / kNumberDiameter, Gdiplus::FontStyleBold);
  UniqueGpBrush digits = SolidBrush(kNumberDigits);
  Gdiplus::GpStringFormat* rawFormat = nullptr;
  gp::GdipCreateStringFormat(0, LANG_NEUTRAL, &rawFormat);
  UniqueGpStringFormat format(rawFormat);
  if (!font || !digits || !format) return;
  gp::GdipSetStringFormatAlign(format.get(), Gdiplus::StringAlignmentCenter);
  gp::GdipSetStringFormatLineAlign(format.get(), Gdiplus::StringAlignmentCenter);
  gp::GdipDrawString(graphics.get(), number.Text.c_str(), static_cast<INT>(number.Text.size()),
                     font.get(), &circle, format.get(), digits.get());
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
  const int width = state.CurrentTool == Tool::Mosaic ? kMosaicBlock : kStrokeWidth;
  annotation.Width = Scale(width, state.Dpi);
  if (state.CurrentTool == Tool::Pen) {
    annotation.Points = state.PenPoints;
  } else {
    annotation.Points = {state.DrawStart, state.DrawEnd};
  }
  return annotation;
}

std::vector<COLORREF> BlockMeans(const DWORD* pixels, int width, const RECT& area, int block) {
  const int columns = BlockCount(area.right - area.left, block);
  const int rows = BlockCount(area.bottom - area.top, block);
  std::vector<COLORREF> means;
  means.reserve(static_cast<size_t>(std::max(columns, 0)) * static_cast<size_t>(std::max(rows, 0)));
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const RECT cell = BlockRect(area, block, column, row);
      unsigned long long sum[3] = {};
      for (LONG y = cell.top; y < cell.bottom; ++y) {
        for (LONG x = cell.left; x < cell.right; ++x) {
          const DWORD pixel = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) +
                                     static_cast<size_t>(x)];
          for (int channel = 0; channel < 3; ++channel) {
            sum[channel] += pixel >> (8 * channel) & 0xFF;
          }
        }
      }
      // Rounded to the nearest value.
      const unsigned long long count =
          static_cast<unsigned long long>(cell.right - cell.left) * (cell.bottom - cell.top);
      auto mean = [&](int channel) {
        return static_cast<BYTE>((sum[channel] + count / 2) / count);
      };
      means.push_back(RGB(mean(2), mean(1), mean(0)));
    }
  }
  return means;
}

// The means come from the frozen screen alone, never from what is drawn over it: annotations
// under the mosaic are covered by blocks that say nothing about them, and what the receiver of
// the picture sees inside the rectangle is the means and only the means, whatever the order.
Annotation FinishedStroke(const OverlayState& state, HBITMAP screenBitmap) {
  Annotation stroke = StrokeInProgress(state);
  if (stroke.Kind != Tool::Mosaic) return stroke;
  BITMAP info = {};
  if (!screenBitmap || !GetObjectW(screenBitmap, sizeof info, &info)) {
    return stroke;
  }
  const RECT screen = {0, 0, info.bmWidth, info.bmHeight};
  const RECT dragged = NormalizedRect(state.DrawStart, state.DrawEnd);
  RECT area = {};
  stroke.Points.clear();
  if (!IntersectRect(&area, &dragged, &screen)) return stroke;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  // The frozen screen's pixels under the rectangle, top row first.
  BITMAPINFO layout = {};
  layout.bmiHeader = {sizeof layout.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  UniqueBitmap copy(CreateDIBSection(nullptr, &layout, DIB_RGB_COLORS, &bits, nullptr, 0));
  UniqueMemoryDc target(CreateCompatibleDC(nullptr));
  UniqueMemoryDc source(CreateCompatibleDC(nullptr));
  if (!copy || !target || !source) return stroke;
  {
    SelectGuard selectCopy(target.get(), copy.get());
    SelectGuard selectScreen(source.get(), screenBitmap);
    BitBlt(target.get(), 0, 0, width, height, source.get(), area.left, area.top, SRCCOPY);
    GdiFlush();
  }
  stroke.Points = {POINT{area.left, area.top}, POINT{area.right, area.bottom}};
  stroke.Blocks = BlockMeans(static_cast<const DWORD*>(bits), width,
                             RECT{0, 0, width, height}, stroke.Width);
  return stroke;
}

Annotation NumberAt(const OverlayState& state, POINT point) {
  Annotation number;
  number.Kind = Tool::Number;
  number.Color = state.CurrentColor;
  number.Width = Scale(kNumberDiameter, state.Dpi);
  number.Points = {point};
  number.Text = std::to_wstring(NextNumber(state));
  return number;
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
  UniqueGpFont font = UiFont(static_cast<Gdiplus::REAL>(size), Gdiplus::FontStyleRegular);
  UniqueGpGraphics graphics = GraphicsOn(hdc, true);
  UniqueGpBrush brush = SolidBrush(OpaqueArgb(color));
  if (!font || !graphics || !brush) return false;
  const Gdiplus::RectF layout(static_cast<Gdiplus::REAL>(origin.x),
                              static_cast<Gdiplus::REAL>(origin.y), 0.0f, 0.0f);
  return gp::GdipDrawString(graphics.get(), text.c_str(), static_cast<INT>(text.size()),
                            font.get(), &layout, nullptr, brush.get()) == Gdiplus::Ok;
}

void DrawAnnotation(HDC hdc, const Annotation& annotation, POINT offset) {
  switch (annotation.Kind) {
    case Tool::Mosaic:
      DrawMosaic(hdc, annotation, offset);
      return;
    case Tool::Number:
      DrawNumber(hdc, annotation, offset);
      return;
    case Tool::Text:
      if (annotation.Text.empty() || annotation.Points.empty()) return;
      DrawAnnotationText(hdc, annotation.Text, Offset(annotation.Points.front(), offset),
                         annotation.Color, annotation.Width);
      return;
    default:
      DrawStroke(hdc, annotation, offset);
      return;
  }
}

void DrawTextEntries(HDC hdc, const OverlayState& state) {
  for (size_t i = 0; i < state.TextEntries.size(); ++i) {
    const TextEntry& entry = state.TextEntries[i];
    // Only the entry that has the keys shows the caret.
    const bool caret = i + 1 == state.TextEntries.size() && state.CaretVisible;
    DrawAnnotationText(hdc, caret ? entry.Text + kCaret : entry.Text, entry.Origin,
                       state.CurrentColor, entry.Size);
  }
}

void CommitStroke(OverlayState& state, HBITMAP screenBitmap) {
  state.IsDrawing = false;
  Annotation stroke = FinishedStroke(state, screenBitmap);
  state.PenPoints.clear();
  // A mosaic with nothing of the screen under it has nothing to hide.
  if (stroke.Kind == Tool::Mosaic && stroke.Points.empty()) return;
  AddAnnotation(state, std::move(stroke));
}

// The mouse is free while a text is typed, so a press reaches the toolbar and the selection as
// usual: a button acts, and the text tool starts another entry on top of this one.
void BeginTextEntry(HWND overlay, OverlayState& state, POINT point) {
  ReleaseCapture();
  state.TextEntries.push_back(TextEntry{point, Scale(kTextSize, state.Dpi), {}});
  state.CaretVisible = true;
  SetTimer(overlay, IDT_CARET, kCaretBlinkMs, nullptr);
}

// The key goes on to the window procedure's own handling afterwards, as any other: Esc drops
// the text and then closes the overlay, a Ctrl shortcut acts on the selection.
void ApplyTextEntryInput(HWND overlay, OverlayState& state, UINT message, WPARAM wParam) {
  if (state.TextEntries.empty()) return;
  MSG taken = {};
  taken.hwnd = overlay;
  taken.message = message;
  taken.wParam = wParam;
  const TextEntryStep step =
      ApplyTextEntryMessage(taken, state.TextEntries.back().Text, state.CaretVisible);
  if (step == TextEntryStep::Continue) return;
  TextEntry entry = std::move(state.TextEntries.back());
  state.TextEntries.pop_back();
  state.CaretVisible = true;
  if (step == TextEntryStep::Commit && !entry.Text.empty()) {
    Annotation annotation;
    annotation.Kind = Tool::Text;
    annotation.Color = state.CurrentColor;
    annotation.Width = entry.Size;
    annotation.Points = {entry.Origin};
    annotation.Text = std::move(entry.Text);
    AddAnnotation(state, std::move(annotation));
  }
  if (!state.TextEntries.empty()) return;
  KillTimer(overlay, IDT_CARET);
  SetCapture(overlay);
}

void ChooseAnnotationColor(HWND overlay, OverlayState& state) {
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
