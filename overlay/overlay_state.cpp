#include "overlay/overlay_state.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

bool RectContains(const RECT& rect, POINT point) {
  return point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
         point.y < rect.bottom;
}

RECT NormalizedRect(POINT a, POINT b) {
  return RECT{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

namespace {

// In 64 bits: edges read from the file may lie as far apart as 32-bit values can.
LONGLONG WidthOf(const RECT& rect) { return LONGLONG{rect.right} - rect.left; }
LONGLONG HeightOf(const RECT& rect) { return LONGLONG{rect.bottom} - rect.top; }

}  // namespace

bool IsAcceptableSelection(const RECT& rect) {
  constexpr LONGLONG kMinimumExclusive = 10;
  return WidthOf(rect) > kMinimumExclusive && HeightOf(rect) > kMinimumExclusive;
}

RECT ApplyDrag(DragMode mode, const RECT& origin, int dx, int dy) {
  RECT rect = origin;
  const bool movesLeft = mode == DragMode::TopLeft || mode == DragMode::BottomLeft ||
                         mode == DragMode::Left || mode == DragMode::Move;
  const bool movesRight = mode == DragMode::TopRight || mode == DragMode::BottomRight ||
                          mode == DragMode::Right || mode == DragMode::Move;
  const bool movesTop = mode == DragMode::TopLeft || mode == DragMode::Top ||
                        mode == DragMode::TopRight || mode == DragMode::Move;
  const bool movesBottom = mode == DragMode::BottomLeft || mode == DragMode::Bottom ||
                           mode == DragMode::BottomRight || mode == DragMode::Move;
  if (movesLeft) rect.left += dx;
  if (movesRight) rect.right += dx;
  if (movesTop) rect.top += dy;
  if (movesBottom) rect.bottom += dy;
  return rect;
}

// A hand that clicks moves a little; more than this is a drag, which has to be larger than
// 10 x 10 to count.
bool IsClick(POINT press, POINT release) {
  constexpr LONG kClickSlop = 3;
  return std::abs(release.x - press.x) <= kClickSlop && std::abs(release.y - press.y) <= kClickSlop;
}

RECT PickTarget(const std::vector<RECT>& windows, POINT point, const RECT& monitor,
                const RECT& screen) {
  // Topmost first: the first window holding the point is the one seen there.
  const auto hit = std::find_if(windows.begin(), windows.end(), [point](const RECT& window) {
    return RectContains(window, point);
  });
  RECT target = {};
  if (!IntersectRect(&target, hit != windows.end() ? &*hit : &monitor, &screen)) return RECT{};
  return target;
}

RECT ShownRect(const OverlayState& state) {
  if (state.Phase == OverlayPhase::Selected) return state.SelectionRect;
  if (state.IsSelecting && !IsClick(state.SelectStart, state.SelectCurrent)) {
    return NormalizedRect(state.SelectStart, state.SelectCurrent);
  }
  return state.HoverTarget;
}

bool ShowsRectangle(const OverlayState& state) {
  const RECT shown = ShownRect(state);
  return shown.right - shown.left > 0 &&
         (state.Phase == OverlayPhase::Selected || state.IsSelecting ||
          !IsRectEmpty(&state.HoverTarget));
}

namespace {

// Of a step, what keeps the span low..high from going further beyond boundLow..boundHigh than it
// already is: a selection the pointer moved off the screen may come back, but not leave further.
LONG StepWithin(LONG step, LONG low, LONG high, LONG boundLow, LONG boundHigh) {
  if (step < 0) return std::max(step, std::min(0L, boundLow - low));
  return std::min(step, std::max(0L, boundHigh - high));
}

}  // namespace

RECT NudgeSelection(const RECT& rect, UINT key, bool shift, bool ctrl, const RECT& bounds) {
  const LONG dx = key == VK_LEFT ? -1 : key == VK_RIGHT ? 1 : 0;
  const LONG dy = key == VK_UP ? -1 : key == VK_DOWN ? 1 : 0;
  if (dx == 0 && dy == 0) return rect;
  RECT nudged = rect;
  if (!ctrl) {
    constexpr LONG kLongStep = 10;
    const LONG step = shift ? kLongStep : 1;
    OffsetRect(&nudged,
               StepWithin(dx * step, std::min(rect.left, rect.right),
                          std::max(rect.left, rect.right), bounds.left, bounds.right),
               StepWithin(dy * step, std::min(rect.top, rect.bottom),
                          std::max(rect.top, rect.bottom), bounds.top, bounds.bottom));
    return nudged;
  }
  LONG& edge = dx != 0 ? (shift ? nudged.left : nudged.right) : (shift ? nudged.top : nudged.bottom);
  const LONG step = dx != 0 ? dx : dy;
  const LONG low = dx != 0 ? bounds.left : bounds.top;
  const LONG high = dx != 0 ? bounds.right : bounds.bottom;
  if ((step < 0 && edge + step < low) || (step > 0 && edge + step > high)) return rect;
  edge += step;
  const bool smaller = WidthOf(nudged) < WidthOf(rect) || HeightOf(nudged) < HeightOf(rect);
  return smaller && !IsAcceptableSelection(nudged) ? rect : nudged;
}

void AddAnnotation(OverlayState& state, Annotation annotation) {
  state.Annotations.push_back(std::move(annotation));
  state.Undone.clear();
}

bool UndoAnnotation(OverlayState& state) {
  if (state.Annotations.empty()) return false;
  state.Undone.push_back(std::move(state.Annotations.back()));
  state.Annotations.pop_back();
  return true;
}

bool RedoAnnotation(OverlayState& state) {
  if (state.Undone.empty()) return false;
  state.Annotations.push_back(std::move(state.Undone.back()));
  state.Undone.pop_back();
  return true;
}

int NextNumber(const OverlayState& state) {
  const auto placed = std::count_if(state.Annotations.begin(), state.Annotations.end(),
                                    [](const Annotation& a) { return a.Kind == Tool::Number; });
  return static_cast<int>(placed) + 1;
}

// A selection larger than the screen could not be copied anyway, and keeping it within a
// screen's size keeps every sum and difference the editor forms with its edges in range.
bool CanRestoreSelection(const RECT& remembered, int width, int height) {
  if (!IsAcceptableSelection(remembered)) return false;
  if (WidthOf(remembered) > width || HeightOf(remembered) > height) return false;
  return remembered.left < width && remembered.right > 0 && remembered.top < height &&
         remembered.bottom > 0;
}
