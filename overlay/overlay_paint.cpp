#include "overlay/overlay_paint.h"

#include <algorithm>
#include <cwchar>

#include "app/win_handles.h"
#include "capture/capture_session.h"
#include "overlay/annotations.h"
#include "overlay/overlay_state.h"
#include "overlay/toolbar.h"

namespace {

constexpr BYTE kDarkeningAlpha = 128;
constexpr int kBorderWidth = 2;
constexpr COLORREF kAccent = RGB(255, 182, 193);
constexpr COLORREF kLabelColor = RGB(255, 255, 255);
constexpr int kLabelOffsetX = 5;
constexpr int kLabelOffsetY = -20;
constexpr int kPanelMargin = 2;
constexpr int kPanelCornerSquare = 12;
constexpr Gdiplus::ARGB kPanelFill = 0xFF323232;
constexpr Gdiplus::ARGB kPanelOutline = 0xFF505050;
constexpr int kIconInset = 4;
constexpr Gdiplus::ARGB kTooltipFill = 0xDC282828;
constexpr Gdiplus::ARGB kTooltipOutline = 0xFF505050;
constexpr Gdiplus::ARGB kTooltipText = 0xFFFFFFFF;
constexpr float kTooltipFontSize = 12.0f;
constexpr float kTooltipGapBelowPointer = 25.0f;
constexpr float kTooltipPadX = 6.0f;
constexpr float kTooltipPadY = 2.0f;
// The tooltip appears only once the pointer has rested on a button for a moment.
constexpr DWORD kTooltipDelayMs = 300;
constexpr wchar_t kUiFontFamily[] = L"Segoe UI";

// The white icons turn pink; the pixels' alpha stays.
const Gdiplus::ColorMatrix kTintMatrix = {{
    {0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0},
    {0, 0, 0, 1, 0},
    {1.0f, 0.714f, 0.757f, 0, 1.0f},
}};

const ToolbarButtonId kToolButtons[] = {ToolbarButtonId::Pen,   ToolbarButtonId::Line,
                                        ToolbarButtonId::Arrow, ToolbarButtonId::Rectangle,
                                        ToolbarButtonId::Text,  ToolbarButtonId::Undo};
const ToolbarButtonId kActionButtons[] = {ToolbarButtonId::Copy, ToolbarButtonId::Save,
                                          ToolbarButtonId::Upload, ToolbarButtonId::Close};

UniqueGpGraphics GraphicsOn(HDC hdc) {
  Gdiplus::GpGraphics* graphics = nullptr;
  gp::GdipCreateFromHDC(hdc, &graphics);
  return UniqueGpGraphics(graphics);
}

UniqueGpBrush SolidBrush(Gdiplus::ARGB colour) {
  Gdiplus::GpSolidFill* brush = nullptr;
  gp::GdipCreateSolidFill(colour, &brush);
  return UniqueGpBrush(brush);
}

UniqueGpPen OutlinePen(Gdiplus::ARGB colour) {
  Gdiplus::GpPen* pen = nullptr;
  gp::GdipCreatePen1(colour, 1.0f, Gdiplus::UnitWorld, &pen);
  return UniqueGpPen(pen);
}

void DrawScreen(HDC hdc) {
  if (!g_sessionScreenBitmap) return;
  BITMAP info = {};
  if (!GetObjectW(g_sessionScreenBitmap, sizeof info, &info)) return;
  UniqueMemoryDc source(CreateCompatibleDC(hdc));
  if (!source) return;
  SelectGuard select(source.get(), g_sessionScreenBitmap);
  BitBlt(hdc, 0, 0, info.bmWidth, info.bmHeight, source.get(), 0, 0, SRCCOPY);
}

// Half-transparent black over everything, or over everything but clear when it is given.
void Darken(HDC hdc, int width, int height, const RECT* clear) {
  UniqueBitmap black(CreateCompatibleBitmap(hdc, width, height));
  UniqueMemoryDc blackDc(CreateCompatibleDC(hdc));
  UniqueBrush blackBrush(CreateSolidBrush(RGB(0, 0, 0)));
  if (!black || !blackDc || !blackBrush) return;
  SelectGuard select(blackDc.get(), black.get());
  const RECT all = {0, 0, width, height};
  FillRect(blackDc.get(), &all, blackBrush.get());

  UniqueRegion outside;
  if (clear) {
    outside.reset(CreateRectRgn(0, 0, width, height));
    UniqueRegion inside(CreateRectRgnIndirect(clear));
    if (!outside || !inside) return;
    CombineRgn(outside.get(), outside.get(), inside.get(), RGN_DIFF);
    SelectClipRgn(hdc, outside.get());
  }
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, kDarkeningAlpha, 0};
  AlphaBlend(hdc, 0, 0, width, height, blackDc.get(), 0, 0, width, height, blend);
  if (clear) SelectClipRgn(hdc, nullptr);
}

void DrawBorder(HDC hdc, const RECT& rect) {
  UniquePen pen(CreatePen(PS_SOLID, kBorderWidth, kAccent));
  if (!pen) return;
  SelectGuard selectPen(hdc, pen.get());
  SelectGuard selectBrush(hdc, GetStockObject(NULL_BRUSH));
  Rectangle(hdc, rect.left, rect.top, rect.right, rect.bottom);
}

void DrawSizeLabel(HDC hdc, const RECT& rect) {
  const std::wstring label = FormatSizeLabel(rect);
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, kLabelColor);
  TextOutW(hdc, rect.left + kLabelOffsetX, rect.top + kLabelOffsetY, label.c_str(),
           static_cast<int>(label.size()));
}

void DrawHandles(HDC hdc) {
  const HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  const HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  for (const RECT& handle : g_toolbarLayout.Handles) {
    FillRect(hdc, &handle, white);
    FrameRect(hdc, &handle, black);
  }
}

void DrawColorSwatch(HDC hdc, const RECT& button) {
  UniqueBrush fill(CreateSolidBrush(g_overlayState.CurrentColor));
  if (fill) FillRect(hdc, &button, fill.get());
  FrameRect(hdc, &button, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

Gdiplus::GpImage* ImageOf(ToolbarButtonId id) {
  const int slot = ToolbarImageSlot(id);
  return slot >= 0 ? g_toolImages[slot].get() : nullptr;
}

void DrawButton(HDC hdc, ToolbarButtonId id, bool active) {
  const RECT& button = g_toolbarLayout.Button(id);
  const bool hovered = RectContains(button, g_overlayState.HoverPoint);
  DrawToolbarIcon(hdc, button, ImageOf(id), active, hovered);
}

void DrawToolbar(HDC hdc) {
  FillRoundedPanel(hdc, ToolPanelRect());
  for (const ToolbarButtonId id : kToolButtons) {
    const Tool tool = ToolOfButton(id);
    DrawButton(hdc, id, tool != Tool::None && tool == g_overlayState.CurrentTool);
  }
  DrawColorSwatch(hdc, g_toolbarLayout.Button(ToolbarButtonId::Color));
  FillRoundedPanel(hdc, ActionPanelRect());
  for (const ToolbarButtonId id : kActionButtons) DrawButton(hdc, id, false);
}

bool TooltipDue() {
  const OverlayState& state = g_overlayState;
  // Unsigned difference: right across the tick count's wrap after 49.7 days.
  return !state.TooltipText.empty() && GetTickCount() - state.TooltipTime > kTooltipDelayMs;
}

void DrawTooltip(HDC hdc) {
  const OverlayState& state = g_overlayState;
  UniqueGpGraphics graphics = GraphicsOn(hdc);
  if (!graphics) return;
  gp::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintAntiAlias);
  gp::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
  // Without the font (Wine without a substitute for it) there is no tooltip, and no crash.
  Gdiplus::GpFontFamily* rawFamily = nullptr;
  gp::GdipCreateFontFamilyFromName(kUiFontFamily, nullptr, &rawFamily);
  UniqueGpFontFamily family(rawFamily);
  if (!family) return;
  Gdiplus::GpFont* rawFont = nullptr;
  gp::GdipCreateFont(family.get(), kTooltipFontSize, Gdiplus::FontStyleRegular,
                     Gdiplus::UnitPixel, &rawFont);
  UniqueGpFont font(rawFont);
  if (!font) return;

  const wchar_t* text = state.TooltipText.c_str();
  const Gdiplus::RectF noLayout(0, 0, 0, 0);
  Gdiplus::RectF bounds;
  if (gp::GdipMeasureString(graphics.get(), text, -1, font.get(), &noLayout, nullptr, &bounds,
                            nullptr, nullptr) != Gdiplus::Ok) {
    return;
  }
  const float x = static_cast<float>(state.TooltipAnchor.x) - bounds.Width * 0.5f;
  const float y = static_cast<float>(state.TooltipAnchor.y) + kTooltipGapBelowPointer;
  const float boxX = x - kTooltipPadX;
  const float boxY = y - kTooltipPadY;
  const float boxWidth = bounds.Width + 2 * kTooltipPadX;
  const float boxHeight = bounds.Height + 2 * kTooltipPadY;

  UniqueGpBrush fill = SolidBrush(kTooltipFill);
  UniqueGpPen outline = OutlinePen(kTooltipOutline);
  UniqueGpBrush textBrush = SolidBrush(kTooltipText);
  if (fill) gp::GdipFillRectangle(graphics.get(), fill.get(), boxX, boxY, boxWidth, boxHeight);
  if (outline) gp::GdipDrawRectangle(graphics.get(), outline.get(), boxX, boxY, boxWidth, boxHeight);
  if (!textBrush) return;
  const Gdiplus::RectF origin(x, y, 0, 0);
  gp::GdipDrawString(graphics.get(), text, -1, font.get(), &origin, nullptr, textBrush.get());
}

}  // namespace

std::wstring FormatSizeLabel(const RECT& rect) {
  wchar_t text[64];
  swprintf(text, 64, L"%ld x %ld", rect.right - rect.left, rect.bottom - rect.top);
  return text;
}

RECT ToolPanelRect() {
  const RECT& first = g_toolbarLayout.Button(ToolbarButtonId::Pen);
  const RECT& last = g_toolbarLayout.Button(ToolbarButtonId::Color);
  return RECT{first.left - kPanelMargin, first.top - kPanelMargin, last.right + kPanelMargin,
              last.bottom + kPanelMargin};
}

RECT ActionPanelRect() {
  const RECT& copy = g_toolbarLayout.Button(ToolbarButtonId::Copy);
  const RECT& close = g_toolbarLayout.Button(ToolbarButtonId::Close);
  return RECT{std::min(copy.left, close.left) - kPanelMargin, copy.top - kPanelMargin,
              std::max(copy.right, close.right) + kPanelMargin, close.bottom + kPanelMargin};
}

void DrawToolbarIcon(HDC hdc, const RECT& button, Gdiplus::GpImage* image, bool active,
                     bool hovered) {
  if (!image) return;
  UINT imageWidth = 0;
  UINT imageHeight = 0;
  if (gp::GdipGetImageWidth(image, &imageWidth) != Gdiplus::Ok ||
      gp::GdipGetImageHeight(image, &imageHeight) != Gdiplus::Ok || imageWidth == 0 ||
      imageHeight == 0) {
    return;
  }
  UniqueGpGraphics graphics = GraphicsOn(hdc);
  if (!graphics) return;
  gp::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
  const INT x = button.left + kIconInset;
  const INT y = button.top + kIconInset;
  const INT width = button.right - button.left - 2 * kIconInset;
  const INT height = button.bottom - button.top - 2 * kIconInset;
  if (!active && !hovered) {
    gp::GdipDrawImageRectI(graphics.get(), image, x, y, width, height);
    return;
  }
  Gdiplus::GpImageAttributes* rawAttributes = nullptr;
  gp::GdipCreateImageAttributes(&rawAttributes);
  UniqueGpImageAttributes attributes(rawAttributes);
  if (!attributes) return;
  gp::GdipSetImageAttributesColorMatrix(attributes.get(), Gdiplus::ColorAdjustTypeDefault, TRUE,
                                        &kTintMatrix, nullptr, Gdiplus::ColorMatrixFlagsDefault);
  gp::GdipDrawImageRectRectI(graphics.get(), image, x, y, width, height, 0, 0,
                             static_cast<INT>(imageWidth), static_cast<INT>(imageHeight),
                             Gdiplus::UnitPixel, attributes.get(), nullptr, nullptr);
}

void FillRoundedPanel(HDC hdc, const RECT& panel) {
  UniqueGpGraphics graphics = GraphicsOn(hdc);
  if (!graphics) return;
  gp::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
  Gdiplus::GpPath* rawPath = nullptr;
  gp::GdipCreatePath(Gdiplus::FillModeAlternate, &rawPath);
  UniqueGpPath path(rawPath);
  if (!path) return;
  const INT size = kPanelCornerSquare;
  gp::GdipAddPathArcI(path.get(), panel.left, panel.top, size, size, 180, 90);
  gp::GdipAddPathArcI(path.get(), panel.right - size, panel.top, size, size, 270, 90);
  gp::GdipAddPathArcI(path.get(), panel.right - size, panel.bottom - size, size, size, 0, 90);
  gp::GdipAddPathArcI(path.get(), panel.left, panel.bottom - size, size, size, 90, 90);
  gp::GdipClosePathFigure(path.get());
  UniqueGpBrush fill = SolidBrush(kPanelFill);
  UniqueGpPen outline = OutlinePen(kPanelOutline);
  if (fill) gp::GdipFillPath(graphics.get(), fill.get(), path.get());
  if (outline) gp::GdipDrawPath(graphics.get(), outline.get(), path.get());
}

void PaintOverlayFrame(HDC hdc, int width, int height) {
  const OverlayState& state = g_overlayState;
  DrawScreen(hdc);
  const RECT shown = ShownRect(state);
  const bool hasRectangle = state.Phase == OverlayPhase::Selected ||
                            (state.Phase == OverlayPhase::NoSelection && state.IsSelecting);
  if (hasRectangle && shown.right - shown.left > 0) {
    Darken(hdc, width, height, &shown);
    DrawBorder(hdc, shown);
    DrawSizeLabel(hdc, shown);
  } else {
    Darken(hdc, width, height, nullptr);
  }
  if (state.Phase != OverlayPhase::Selected) return;
  DrawAnnotations(hdc);
  DrawHandles(hdc);
  DrawToolbar(hdc);
  if (TooltipDue()) DrawTooltip(hdc);
}

void PaintOverlay(HWND hwnd) {
  PaintDc paint(hwnd);
  RECT client = {};
  GetClientRect(hwnd, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  UniqueBitmap back(CreateCompatibleBitmap(paint.get(), width, height));
  UniqueMemoryDc memory(CreateCompatibleDC(paint.get()));
  if (!back || !memory) return;
  SelectGuard select(memory.get(), back.get());
  PaintOverlayFrame(memory.get(), width, height);
  BitBlt(paint.get(), 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
}
