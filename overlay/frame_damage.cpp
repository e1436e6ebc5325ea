#include "overlay/frame_damage.h"

#include <algorithm>

#include "app/dpi.h"
#include "overlay/annotations.h"
#include "overlay/magnifier.h"
#include "overlay/overlay_paint.h"

namespace {

// Reaches at 96 DPI. The 2-pixel border straddles the rectangle's outline.
constexpr int kBorderReach = 3;
// The panels reach 2 pixels beyond their buttons, antialiasing one more.
constexpr int kPanelReach = 4;
constexpr int kHandleReach = 1;
// The size label is drawn 20 pixels above the selection in the DC's default font, whose glyphs
// are narrower and lower than these.
constexpr int kLabelRise = 20;
constexpr int kLabelCharWidth = 16;
constexpr int kLabelHeight = 64;
// The tooltip's 12-pixel font: no glyph advances more than its size.
constexpr int kTooltipCharWidth = 12;
constexpr int kTooltipTop = 20;
constexpr int kTooltipBottom = 60;
constexpr int kTooltipPad = 10;
constexpr int kArrowHeadReach = 16;
constexpr int kTextReach = 4;

RECT Inflated(RECT rect, int by) {
  InflateRect(&rect, by, by);
  return rect;
}

void Include(RECT& total, const RECT& part) {
  if (IsRectEmpty(&part)) return;
  if (IsRectEmpty(&total)) {
    total = part;
    return;
  }
  UnionRect(&total, &total, &part);
}

bool Same(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }

bool SamePoint(POINT a, POINT b) { return a.x == b.x && a.y == b.y; }

RECT PointsBounds(const std::vector<POINT>& points) {
  RECT bounds = {0, 0, 0, 0};
  if (points.empty()) return bounds;
  bounds = {points.front().x, points.front().y, points.front().x + 1, points.front().y + 1};
  for (const POINT& p : points) {
    bounds.left = std::min(bounds.left, p.x);
    bounds.top = std::min(bounds.top, p.y);
    bounds.right = std::max(bounds.right, p.x + 1);
    bounds.bottom = std::max(bounds.bottom, p.y + 1);
  }
  return bounds;
}

}  // namespace

RECT SizeLabelBounds(const RECT& shown, UINT dpi) {
  const auto characters = static_cast<int>(FormatSizeLabel(shown).size());
  const int left = shown.left + Scale(5, dpi);
  const int top = shown.top - Scale(kLabelRise, dpi);
  return RECT{left - 1, top - 1, left + characters * Scale(kLabelCharWidth, dpi),
              top + Scale(kLabelHeight, dpi)};
}

RECT TooltipBounds(const std::wstring& text, POINT anchor, UINT dpi) {
  const int half =
      Scale(static_cast<int>(text.size()) * kTooltipCharWidth / 2 + kTooltipPad, dpi);
  return RECT{anchor.x - half, anchor.y + Scale(kTooltipTop, dpi), anchor.x + half,
              anchor.y + Scale(kTooltipBottom, dpi)};
}

RECT AnnotationBounds(const Annotation& annotation) {
  if (annotation.Points.empty()) return RECT{0, 0, 0, 0};
  if (annotation.Kind == Tool::Text) {
    return TextPreviewBounds(annotation.Points.front(), annotation.Text.size(), annotation.Width);
  }
  int reach = annotation.Width + 2;
  // The head grows with the stroke's width.
  if (annotation.Kind == Tool::Arrow) {
    reach += MulDiv(kArrowHeadReach, annotation.Width, kStrokeWidth);
  }
  return Inflated(PointsBounds(annotation.Points), reach);
}

RECT TextPreviewBounds(POINT origin, size_t characters, int size) {
  // One more character for the caret; a glyph advances at most about its size.
  const int width = (static_cast<int>(characters) + 1) * size;
  return RECT{origin.x - kTextReach, origin.y - kTextReach, origin.x + width + kTextReach,
              origin.y + 2 * size + kTextReach};
}

FrameLook LookOf(const OverlayState& state, const ToolbarLayout& layout) {
  FrameLook look;
  look.Dpi = state.Dpi;
  look.Phase = state.Phase;
  look.Shown = ShownRect(state);
  const bool selected = state.Phase == OverlayPhase::Selected;
  look.HasRectangle = ShowsRectangle(state);
  if (look.HasRectangle) {
    const RECT& shown = look.Shown;
    const RECT bright =
        NormalizedRect(POINT{shown.left, shown.top}, POINT{shown.right, shown.bottom});
    Include(look.Extent, Inflated(bright, Scale(kBorderReach, state.Dpi)));
    Include(look.Extent, SizeLabelBounds(look.Shown, state.Dpi));
  }
  look.AnnotationCount = state.Annotations.size();
  if (ShowsMagnifier(state)) {
    look.Magnifier = MagnifierRect(state.Pointer, state.PointerMonitor, state.Dpi);
    look.MagnifierPointer = state.Pointer;
  }
  if (!selected) return look;

  for (const RECT& handle : layout.Handles) {
    Include(look.Extent, Inflated(handle, Scale(kHandleReach, state.Dpi)));
  }
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    Include(look.Panels, Inflated(layout.Buttons[i], Scale(kPanelReach, state.Dpi)));
    if (RectContains(layout.Buttons[i], state.HoverPoint)) look.Hovered |= 1u << i;
  }
  Include(look.Extent, look.Panels);
  look.CurrentTool = state.CurrentTool;
  look.CurrentColor = state.CurrentColor;
  look.Stroking = state.IsDrawing && state.DragMode == DragMode::Draw;
  if (look.Stroking) {
    look.Stroke = AnnotationBounds(StrokeInProgress(state));
  }
  if (state.TooltipShown) {
    look.Tooltip = state.TooltipText;
    look.TooltipAnchor = state.TooltipAnchor;
  }
  for (const TextEntry& entry : state.TextEntries) {
    look.Typed += entry.Text + L'\n';
    Include(look.Typing, TextPreviewBounds(entry.Origin, entry.Text.size(), entry.Size));
  }
  if (!state.TextEntries.empty() && state.CaretVisible) look.Typed += L'|';
  return look;
}

std::vector<RECT> StaleRects(const FrameLook& before, const FrameLook& after, int width,
                             int height) {
  const RECT client = {0, 0, width, height};
  if (before.Phase != after.Phase || before.AnnotationCount != after.AnnotationCount ||
      before.Dpi != after.Dpi) {
    return {client};
  }
  std::vector<RECT> stale;
  const bool geometry = before.HasRectangle != after.HasRectangle ||
                        !Same(before.Shown, after.Shown) || !Same(before.Extent, after.Extent);
  if (geometry) {
    stale.push_back(before.Extent);
    stale.push_back(after.Extent);
  } else if (before.Hovered != after.Hovered || before.CurrentTool != after.CurrentTool ||
             before.CurrentColor != after.CurrentColor) {
    stale.push_back(after.Panels);
  }
  if ((before.Stroking || after.Stroking) &&
      (before.Stroking != after.Stroking || !Same(before.Stroke, after.Stroke))) {
    stale.push_back(before.Stroke);
    stale.push_back(after.Stroke);
  }
  if (before.Tooltip != after.Tooltip || !SamePoint(before.TooltipAnchor, after.TooltipAnchor)) {
    if (!before.Tooltip.empty()) {
      stale.push_back(TooltipBounds(before.Tooltip, before.TooltipAnchor, before.Dpi));
    }
    if (!after.Tooltip.empty()) {
      stale.push_back(TooltipBounds(after.Tooltip, after.TooltipAnchor, after.Dpi));
    }
  }
  // Its old place and its new one, and nothing between: a move of the pointer costs two
  // magnifiers' worth of pixels.
  if (!Same(before.Magnifier, after.Magnifier) ||
      !SamePoint(before.MagnifierPointer, after.MagnifierPointer)) {
    stale.push_back(before.Magnifier);
    stale.push_back(after.Magnifier);
  }
  if (before.Typed != after.Typed || !Same(before.Typing, after.Typing)) {
    stale.push_back(before.Typing);
    stale.push_back(after.Typing);
  }

  std::vector<RECT> clipped;
  for (const RECT& rect : stale) {
    RECT inside = {};
    if (IntersectRect(&inside, &rect, &client)) clipped.push_back(inside);
  }
  return clipped;
}
