// The overlay editor's state, one record per capture session, and the small pieces of
// arithmetic the editor's state machine is built from.
#pragma once

#include <windows.h>

#include <string>
#include <vector>


enum class OverlayPhase { NoSelection = 0, Selected = 1 };

// Values 2 to 9 are the handle numbers that HitTestHandle returns.
enum class DragMode {
  None = 0,
  Move = 1,
  TopLeft = 2,
  Top = 3,
  TopRight = 4,
  Right = 5,
  BottomRight = 6,
  Bottom = 7,
  BottomLeft = 8,
  Left = 9,
  Draw = 10,
};

enum class Tool {
  None = 0,
  Pen = 1,
  Line = 2,
  Arrow = 3,
  Rectangle = 4,
  Text = 5,
  Mosaic = 6,
  Number = 7,
};

// Pinned: the composed picture waits in the session for the pin that shows it.
enum class OverlayResult { Cancelled = 0, Done = 1, Pinned = 2 };

struct Annotation {
  Tool Kind = Tool::Pen;
  COLORREF Color = RGB(255, 0, 0);
  // Pen width for strokes, font size in pixels for text, block size for a mosaic, diameter for
  // a number.
  int Width = 3;
  // Overlay client coordinates. A mosaic: its top-left and bottom-right (exclusive) corners; a
  // number: its centre.
  std::vector<POINT> Points;
  // The typed text, or a number's digits.
  std::wstring Text;
  // A mosaic's block colours, row by row from its top-left corner.
  std::vector<COLORREF> Blocks;
};

// A text being typed: its top-left corner, its font size in pixels and what was typed so far.
struct TextEntry {
  POINT Origin = {0, 0};
  int Size = 0;
  std::wstring Text;
};

struct OverlayState {
  OverlayPhase Phase = OverlayPhase::NoSelection;
  bool IsSelecting = false;
  POINT SelectStart = {0, 0};
  POINT SelectCurrent = {0, 0};
  // Right and bottom are exclusive. Never normalised after the first drag: a resize may leave
  // it with a negative width or height.
  RECT SelectionRect = {0, 0, 0, 0};
  // Qualified: inside the record the bare name means this member.
  ::DragMode DragMode = ::DragMode::None;
  POINT DragAnchor = {0, 0};
  RECT DragOrigin = {0, 0, 0, 0};
  bool IsDrawing = false;
  POINT DrawStart = {0, 0};
  POINT DrawEnd = {0, 0};
  std::vector<POINT> PenPoints;
  std::vector<Annotation> Annotations;
  // What undo took away, the last taken at the end; a new annotation empties it.
  std::vector<Annotation> Undone;
  Tool CurrentTool = Tool::None;
  // The session starts with the colour choice the last one ended with.
  COLORREF CurrentColor = RGB(255, 0, 0);
  COLORREF CustomColors[16] = {};
  OverlayResult Result = OverlayResult::Cancelled;
  POINT HoverPoint = {-1, -1};
  // The label of the button under the pointer, and whether its box shows yet.
  std::wstring TooltipText;
  POINT TooltipAnchor = {0, 0};
  bool TooltipShown = false;
  // Of the monitor that holds the selection, or before the first drag the one under the
  // pointer: every size the overlay draws is scaled by it.
  UINT Dpi = USER_DEFAULT_SCREEN_DPI;
  // The visible top-level windows of other programs when the screen was frozen, topmost first,
  // in overlay client coordinates.
  std::vector<RECT> Windows;
  // Before the first drag: the window or monitor a click would select, outlined.
  RECT HoverTarget = {0, 0, 0, 0};
  // Until the selection is accepted: the pointer's last point and its monitor's area, which the
  // magnifier beside it keeps to; empty until the pointer has moved.
  POINT Pointer = {0, 0};
  RECT PointerMonitor = {0, 0, 0, 0};
  // The virtual screen's top-left corner in screen coordinates, where the overlay lies.
  POINT ScreenOrigin = {0, 0};
  // The texts being typed, the innermost last: a press with the text tool during an entry
  // starts another one, which takes the keys until it ends. The undo and redo keys wait for
  // all of them.
  std::vector<TextEntry> TextEntries;
  bool CaretVisible = true;
};

// Half-open: left <= x < right and top <= y < bottom; an empty or inverted rectangle holds nothing.
bool RectContains(const RECT& rect, POINT point);
RECT NormalizedRect(POINT a, POINT b);
// The first drag must be larger than 10 x 10 pixels in both directions to count.
bool IsAcceptableSelection(const RECT& rect);
// The selection after the pointer moved (dx, dy) from where a move or a resize began.
RECT ApplyDrag(DragMode mode, const RECT& origin, int dx, int dy);
// Whether the first press and its release are close enough to be a click, not a drag.
bool IsClick(POINT press, POINT release);
// The rectangle a click at point selects: the first window holding it, else its monitor, cut to
// the screen.
RECT PickTarget(const std::vector<RECT>& windows, POINT point, const RECT& monitor,
                const RECT& screen);
// The rectangle the overlay shows: the first drag while it runs, the click target before and
// during a click, the selection otherwise.
RECT ShownRect(const OverlayState& state);
// Whether the overlay shows a rectangle bright, framed and labelled.
bool ShowsRectangle(const OverlayState& state);
// Appends an annotation; what undo took away can no longer be put back.
void AddAnnotation(OverlayState& state, Annotation annotation);
// False when there was nothing to take away or to put back.
bool UndoAnnotation(OverlayState& state);
bool RedoAnnotation(OverlayState& state);
// The selection after an arrow key in phase Selected: moved by 1 (with shift 10), or with ctrl
// its right or bottom edge (with ctrl and shift its left or top edge) by 1. No key takes the
// selection or an edge further beyond bounds, and none makes an acceptable selection too small:
// the selection is returned unchanged instead.
RECT NudgeSelection(const RECT& rect, UINT key, bool shift, bool ctrl, const RECT& bounds);
// The number the next "Nummer" click shows: one more than the numbers placed.
int NextNumber(const OverlayState& state);
// Whether a remembered selection can open a session: acceptable, no larger than a screen of
// width x height and at least partly on it. Any 32-bit edges may come from the file.
bool CanRestoreSelection(const RECT& remembered, int width, int height);
