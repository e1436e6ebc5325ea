#include "overlay/toolbar.h"

#include "overlay/overlay_state.h"

ToolbarLayout g_toolbarLayout;

namespace {

constexpr int kGap = 2;
constexpr int kStep = kToolbarButtonSize + kGap;
constexpr int kMargin = 12;
constexpr int kToolCount = 7;
constexpr int kToolColumnHeight = kToolCount * kToolbarButtonSize + (kToolCount - 1) * kGap;
constexpr int kFlipOffset = kToolbarButtonSize + kMargin;  // 40: the other side of the selection
constexpr int kTopFallback = 10;
constexpr int kInsideOffset = kToolbarButtonSize + 4;      // 32: along the selection's bottom
constexpr int kHandleHalf = 4;

struct ButtonInfo {
  const wchar_t* label;
  int imageSlot;
  Tool tool;
};

// Image slots follow the resource ids 101 to 110.
constexpr ButtonInfo kButtons[kToolbarButtonCount] = {
    {L"Stift", 0, Tool::Pen},
    {L"Linie", 1, Tool::Line},
    {L"Pfeil", 2, Tool::Arrow},
    {L"Rechteck", 3, Tool::Rectangle},
    {L"Text", 7, Tool::Text},
    {L"Rückgängig", 4, Tool::None},
    {L"Farbe", -1, Tool::None},
    {L"Kopieren (Strg+C)", 5, Tool::None},
    {L"Speichern (Strg+S)", 8, Tool::None},
    {L"Hochladen (Strg+D)", 9, Tool::None},
    {L"Schließen (Strg+X)", 6, Tool::None},
};

RECT Square(LONG left, LONG top) {
  return RECT{left, top, left + kToolbarButtonSize, top + kToolbarButtonSize};
}

}  // namespace

ToolbarLayout ComputeToolbarLayout(const RECT& selection, int screenWidth, int screenHeight) {
  const LONG left = selection.left;
  const LONG top = selection.top;
  const LONG right = selection.right;
  const LONG bottom = selection.bottom;
  ToolbarLayout layout;

  LONG columnX = right + kMargin;
  if (columnX + kToolbarButtonSize > screenWidth) columnX = left - kFlipOffset;
  // By default the column ends level with the selection's bottom, but it never starts above
  // the selection's top.
  LONG columnY = bottom - kToolColumnHeight;
  if (columnY < 0) columnY = kTopFallback;
  if (columnY < top) columnY = top;
  for (int k = 0; k < kToolCount; ++k) layout.Buttons[k] = Square(columnX, columnY + kStep * k);

  // Below the selection; above it when the screen ends; inside along its bottom when there is
  // no room above either.
  LONG rowY = bottom + kMargin;
  if (rowY + kToolbarButtonSize > screenHeight) {
    rowY = top - kFlipOffset;
    if (rowY < 0) rowY = bottom - kInsideOffset;
  }
  // Right-aligned to the selection: Close last, Copy first.
  const ToolbarButtonId row[] = {ToolbarButtonId::Copy, ToolbarButtonId::Save,
                                 ToolbarButtonId::Upload, ToolbarButtonId::Close};
  for (int i = 0; i < 4; ++i) {
    const LONG fromRight = kStep * (3 - i) + kToolbarButtonSize;
    layout.Buttons[static_cast<int>(row[i])] = Square(right - fromRight, rowY);
  }

  const LONG midX = (left + right) / 2;
  const LONG midY = (top + bottom) / 2;
  const POINT centres[kHandleCount] = {{left, top},     {midX, top},    {right, top},
                                       {right, midY},   {right, bottom}, {midX, bottom},
                                       {left, bottom},  {left, midY}};
  for (int i = 0; i < kHandleCount; ++i) {
    layout.Handles[i] = RECT{centres[i].x - kHandleHalf, centres[i].y - kHandleHalf,
                             centres[i].x + kHandleHalf, centres[i].y + kHandleHalf};
  }
  return layout;
}

int HitTestHandle(const ToolbarLayout& layout, POINT point) {
  for (int i = 0; i < kHandleCount; ++i) {
    if (RectContains(layout.Handles[i], point)) return kFirstHandle + i;
  }
  return kNoHandle;
}

const wchar_t* GetToolbarLabel(const ToolbarLayout& layout, POINT point) {
  for (int i = 0; i < kToolbarButtonCount; ++i) {
    if (RectContains(layout.Buttons[i], point)) return kButtons[i].label;
  }
  return nullptr;
}

const wchar_t* ToolbarLabel(ToolbarButtonId id) { return kButtons[static_cast<int>(id)].label; }

int ToolbarImageSlot(ToolbarButtonId id) { return kButtons[static_cast<int>(id)].imageSlot; }

Tool ToolOfButton(ToolbarButtonId id) { return kButtons[static_cast<int>(id)].tool; }

void LayoutToolbar() {
  g_toolbarLayout = ComputeToolbarLayout(g_overlayState.SelectionRect,
                                         GetSystemMetrics(SM_CXVIRTUALSCREEN),
                                         GetSystemMetrics(SM_CYVIRTUALSCREEN));
}

int HitTestHandle(POINT point) { return HitTestHandle(g_toolbarLayout, point); }

const wchar_t* GetToolbarLabel(POINT point) { return GetToolbarLabel(g_toolbarLayout, point); }
