#include "overlay/overlay_paint.h"

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>
#include <optional>

#include "app/dpi.h"
#include "app/gdiplus_handles.h"
#include "app/pixel_bitmap.h"
#include "app/win_handles.h"
#include "overlay/annotations.h"
#include "overlay/frame_damage.h"
#include "overlay/magnifier.h"
#include "overlay/overlay_state.h"
#include "overlay/session.h"
#include "overlay/toolbar.h"

namespace {

// Sizes at 96 DPI.
constexpr BYTE kDarkeningAlpha = 128;
constexpr int kBorderWidth = 2;
constexpr COLORREF kAccent = kSelectionColor;
constexpr COLORREF kLabelColor = RGB(255, 255, 255);
constexpr int kLabelOffsetX = 5;
constexpr int kLabelOffsetY = -20;
constexpr int kPanelMargin = 2;
constexpr int kPanelCornerSquare = 12;
constexpr Gdiplus::ARGB kPanelFill = 0xFF323232;
constexpr Gdiplus::ARGB kPanelOutline = 0xFF505050;
constexpr float kOutlineWidth = 1.0f;
constexpr int kHandleFrame = 1;
// The icon fills the middle 20 pixels of a 28-pixel button, at every size.
constexpr int kIconInset = 4;
constexpr Gdiplus::ARGB kTooltipFill = 0xDC282828;
constexpr Gdiplus::ARGB kTooltipOutline = 0xFF505050;
constexpr Gdiplus::ARGB kTooltipText = 0xFFFFFFFF;
constexpr float kTooltipFontSize = 12.0f;
constexpr float kTooltipGapBelowPointer = 25.0f;
constexpr float kTooltipPadX = 6.0f;
constexpr float kTooltipPadY = 2.0f;

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

UniqueGpPen OutlinePen(Gdiplus::ARGB colour, UINT dpi) {
  return SolidPen(colour, ScaleF(kOutlineWidth, dpi));
}

// Rows per AlphaBlend of the darkening, and per band of the darkened screen on its way to the
// window: a strip this high is all either needs, instead of a bitmap as large as the screen.
constexpr int kDarkenBand = 64;

// A bitmap selected into a memory DC of its own for as long as this lives: compatible with
// reference, or without one a DIB section whose pixels are at hand.
class MemoryCanvas {
 public:
  MemoryCanvas(HDC reference, int width, int height)
      : width_(width),
        bitmap_(reference ? CreateCompatibleBitmap(reference, width, height)
                          : CreatePixelBitmap(width, height, &pixels_).release()),
        dc_(CreateCompatibleDC(reference)) {
    if (bitmap_ && dc_) select_.emplace(dc_.get(), bitmap_.get());
  }
  MemoryCanvas(const MemoryCanvas&) = delete;
  MemoryCanvas& operator=(const MemoryCanvas&) = delete;

  bool ok() const { return select_.has_value(); }
  HDC dc() const { return dc_.get(); }
  DWORD* pixels() const { return pixels_; }
  int width() const { return width_; }

 private:
  int width_;
  DWORD* pixels_ = nullptr;
  UniqueBitmap bitmap_;
  UniqueMemoryDc dc_;
  std::optional<SelectGuard> select_;
};

// Black blended at 128 of 255 over everything in hdc, in bands of a reused black strip.
void DarkenAll(HDC hdc, int width, int height) {
  const int bandHeight = std::min(height, kDarkenBand);
  if (width <= 0 || bandHeight <= 0) return;
  MemoryCanvas black(hdc, width, bandHeight);
  if (!black.ok()) return;
  const RECT strip = {0, 0, width, bandHeight};
  FillRect(black.dc(), &strip, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, kDarkeningAlpha, 0};
  for (int top = 0; top < height; top += bandHeight) {
    const int rows = std::min(bandHeight, height - top);
    AlphaBlend(hdc, 0, top, width, rows, black.dc(), 0, 0, width, rows, blend);
  }
}

// What AlphaBlend makes of each channel value under the darkening layer. Its documentation gives
// the blend's formula but not its rounding, so the platform is asked once per process.
struct ChannelBlend {
  std::array<BYTE, 256> value = {};
  bool halves = true;
};

const ChannelBlend& DarkenedChannels() {
  static const ChannelBlend blend = [] {
    ChannelBlend made;
    MemoryCanvas ramp(nullptr, 256, 1);
    for (int i = 0; ramp.ok() && i < 256; ++i) ramp.pixels()[i] = 0x010101u * DWORD(i);
    if (ramp.ok()) DarkenAll(ramp.dc(), 256, 1);
    GdiFlush();
    for (int i = 0; i < 256; ++i) {
      made.value[i] = ramp.ok() ? BYTE(ramp.pixels()[i]) : BYTE(i / 2);
      made.halves = made.halves && made.value[i] == i / 2;
    }
    return made;
  }();
  return blend;
}

// Copies the part of the frozen screen that lies in area to the same place in hdc; false when
// that is not all of area.
bool CopyScreen(HDC hdc, HBITMAP screen, const RECT& area) {
  BITMAP info = {};
  if (!screen || !GetObjectW(screen, sizeof info, &info)) return false;
  const RECT bounds = {0, 0, info.bmWidth, info.bmHeight};
  RECT part = {};
  if (!IntersectRect(&part, &area, &bounds)) return false;
  // Selected only while it is read: the export selects the same bitmap into a DC of its own.
  UniqueMemoryDc source(CreateCompatibleDC(hdc));
  if (!source) return false;
  SelectGuard select(source.get(), screen);
  BitBlt(hdc, part.left, part.top, part.right - part.left, part.bottom - part.top, source.get(),
         part.left, part.top, SRCCOPY);
  return EqualRect(&part, &area) != FALSE;
}

// The frozen screen inside area, darkened, into a DIB canvas whose (0,0) is origin in the frame;
// black where the screen bitmap does not reach. Darkened in memory where a paint needs it,
// instead of a darkened copy as large as the screen: through AlphaBlend that took a 4K screen
// 50 ms, and a new buffer costs the start the first write into every page of it besides.
void PutDarkScreen(const MemoryCanvas& canvas, HBITMAP screen, const RECT& area, POINT origin) {
  const int width = area.right - area.left;
  if (width <= 0 || area.bottom <= area.top) return;
  SetViewportOrgEx(canvas.dc(), -origin.x, -origin.y, nullptr);
  if (!CopyScreen(canvas.dc(), screen, area)) {
    FillRect(canvas.dc(), &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    CopyScreen(canvas.dc(), screen, area);
  }
  SetViewportOrgEx(canvas.dc(), 0, 0, nullptr);
  GdiFlush();
  for (LONG y = area.top - origin.y; y < area.bottom - origin.y; ++y) {
    DarkenPixels(canvas.pixels() + size_t(y) * size_t(canvas.width()) + (area.left - origin.x),
                 size_t(width));
  }
}

}  // namespace

// What the repaints of one session share: the frozen screen, the back buffer the frame is put
// together in, and what the window shows since the last paint. It lives from the session's
// first paint to its end.
class OverlayCanvas {
 public:
  OverlayCanvas(HBITMAP screen, int width, int height)
      : screen_(screen), width_(width), height_(height) {}

  bool Fits(HBITMAP screen, int width, int height) const {
    return screen == screen_ && width == width_ && height == height_;
  }
  HBITMAP screen() const { return screen_; }
  // Made at the first frame that shows more than the darkened screen.
  const MemoryCanvas* back() {
    if (!back_) back_ = std::make_unique<MemoryCanvas>(nullptr, width_, height_);
    return back_->ok() ? back_.get() : nullptr;
  }

  std::optional<FrameLook> shown;

 private:
  HBITMAP screen_;
  int width_;
  int height_;
  std::unique_ptr<MemoryCanvas> back_;
};

void OverlayCanvasDeleter::operator()(OverlayCanvas* canvas) const { delete canvas; }

namespace {

OverlayCanvas* SessionCanvas(CaptureSession& session, int width, int height) {
  const HBITMAP screen = session.Screen();
  if (!screen) return nullptr;
  if (!session.Canvas || !session.Canvas->Fits(screen, width, height)) {
    session.Canvas.reset();  // the old buffers go before the new ones are made
    session.Canvas.reset(new OverlayCanvas(screen, width, height));
  }
  return session.Canvas.get();
}

bool Intersects(const RECT& a, const RECT& b) {
  RECT common = {};
  return IntersectRect(&common, &a, &b) != FALSE;
}

void DrawBorder(HDC hdc, const RECT& rect, UINT dpi) {
  UniquePen pen(CreatePen(PS_SOLID, Scale(kBorderWidth, dpi), kAccent));
  if (!pen) return;
  SelectGuard selectPen(hdc, pen.get());
  SelectGuard selectBrush(hdc, GetStockObject(NULL_BRUSH));
  Rectangle(hdc, rect.left, rect.top, rect.right, rect.bottom);
}

// The DC's default font is made for the system DPI; on a monitor of another DPI the label gets
// the same font at that monitor's size.
UniqueFont LabelFontFor(HDC hdc, UINT dpi) {
  const UINT systemDpi = SystemDpi();
  if (dpi == systemDpi) return {};
  LOGFONTW font = {};
  if (!GetObjectW(GetCurrentObject(hdc, OBJ_FONT), sizeof font, &font)) return {};
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(systemDpi));
  font.lfWidth = MulDiv(font.lfWidth, static_cast<int>(dpi), static_cast<int>(systemDpi));
  return UniqueFont(CreateFontIndirectW(&font));
}

void DrawSizeLabel(HDC hdc, const RECT& rect, UINT dpi) {
  const std::wstring label = FormatSizeLabel(rect);
  const UniqueFont font = LabelFontFor(hdc, dpi);
  std::optional<SelectGuard> selectFont;
  if (font) selectFont.emplace(hdc, font.get());
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, kLabelColor);
  TextOutW(hdc, rect.left + Scale(kLabelOffsetX, dpi), rect.top + Scale(kLabelOffsetY, dpi),
           label.c_str(), static_cast<int>(label.size()));
}

// A black frame as thick as the DPI makes a pixel, around white.
void FillFramed(HDC hdc, const RECT& rect, HBRUSH fill, UINT dpi) {
  FillRect(hdc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  RECT inside = rect;
  InflateRect(&inside, -Scale(kHandleFrame, dpi), -Scale(kHandleFrame, dpi));
  FillRect(hdc, &inside, fill);
}

void DrawHandles(HDC hdc, const ToolbarLayout& layout, UINT dpi) {
  const HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  for (const RECT& handle : layout.Handles) FillFramed(hdc, handle, white, dpi);
}

void DrawColorSwatch(HDC hdc, const RECT& button, COLORREF color, UINT dpi) {
  UniqueBrush fill(CreateSolidBrush(color));
  if (fill) FillFramed(hdc, button, fill.get(), dpi);
}

void DrawToolbarIcon(HDC hdc, const RECT& button, Gdiplus::GpImage* image, bool active,
                     bool hovered);
void FillRoundedPanel(HDC hdc, const RECT& panel, UINT dpi);

void DrawButton(HDC hdc, CaptureSession& session, ToolbarButtonId id, bool active) {
  const RECT& button = session.Toolbar.Button(id);
  const bool hovered = RectContains(button, session.State.HoverPoint);
  const int slot = ToolbarImageSlot(id);
  if (slot < 0) return;
  DrawToolbarIcon(hdc, button, session.ToolImage(slot, button.right - button.left), active,
                  hovered);
}

RECT PanelAround(const ToolbarLayout& layout, ToolbarButtonId first, ToolbarButtonId last,
                 UINT dpi) {
  const RECT& top = layout.Button(first);
  const RECT& bottom = layout.Button(last);
  const int margin = Scale(kPanelMargin, dpi);
  return RECT{top.left - margin, top.top - margin, bottom.right + margin, bottom.bottom + margin};
}

// The panels behind the tool column, the second column and the action row.
RECT ToolPanelRect(const ToolbarLayout& layout, UINT dpi) {
  return PanelAround(layout, ToolbarButtonId::Pen, ToolbarButtonId::Color, dpi);
}

RECT SecondPanelRect(const ToolbarLayout& layout, UINT dpi) {
  return PanelAround(layout, ToolbarButtonId::Mosaic, ToolbarButtonId::Pin, dpi);
}

RECT ActionPanelRect(const ToolbarLayout& layout, UINT dpi) {
  const RECT& copy = layout.Button(ToolbarButtonId::Copy);
  const RECT& close = layout.Button(ToolbarButtonId::Close);
  const int margin = Scale(kPanelMargin, dpi);
  return RECT{std::min(copy.left, close.left) - margin, copy.top - margin,
              std::max(copy.right, close.right) + margin, close.bottom + margin};
}

void DrawToolbar(HDC hdc, CaptureSession& session, UINT dpi) {
  const ToolbarLayout& layout = session.Toolbar;
  const Tool current = session.State.CurrentTool;
  FillRoundedPanel(hdc, ToolPanelRect(layout, dpi), dpi);
  for (const ToolbarButtonId id : kToolButtons) {
    const Tool tool = ToolOfButton(id);
    DrawButton(hdc, session, id, tool != Tool::None && tool == current);
  }
  DrawColorSwatch(hdc, layout.Button(ToolbarButtonId::Color), session.State.CurrentColor, dpi);
  FillRoundedPanel(hdc, ActionPanelRect(layout, dpi), dpi);
  for (const ToolbarButtonId id : kActionButtons) DrawButton(hdc, session, id, false);
  FillRoundedPanel(hdc, SecondPanelRect(layout, dpi), dpi);
  for (const ToolbarButtonId id : {ToolbarButtonId::Mosaic, ToolbarButtonId::Number}) {
    DrawButton(hdc, session, id, ToolOfButton(id) == current);
  }
  DrawButton(hdc, session, ToolbarButtonId::Pin, false);
}

// The box with the label of the button under the pointer.
void DrawTooltip(HDC hdc, const OverlayState& state) {
  const UINT dpi = state.Dpi;
  UniqueGpGraphics graphics = GraphicsOn(hdc, true);
  // Without the font (Wine without a substitute for it) there is no tooltip, and no crash.
  UniqueGpFont font = UiFont(ScaleF(kTooltipFontSize, dpi), Gdiplus::FontStyleRegular);
  if (!graphics || !font) return;

  const wchar_t* text = state.TooltipText.c_str();
  const Gdiplus::RectF noLayout(0, 0, 0, 0);
  Gdiplus::RectF bounds;
  if (gp::GdipMeasureString(graphics.get(), text, -1, font.get(), &noLayout, nullptr, &bounds,
                            nullptr, nullptr) != Gdiplus::Ok) {
    return;
  }
  const float x = static_cast<float>(state.TooltipAnchor.x) - bounds.Width * 0.5f;
  const float y =
      static_cast<float>(state.TooltipAnchor.y) + ScaleF(kTooltipGapBelowPointer, dpi);
  const float padX = ScaleF(kTooltipPadX, dpi);
  const float padY = ScaleF(kTooltipPadY, dpi);
  const float boxX = x - padX;
  const float boxY = y - padY;
  const float boxWidth = bounds.Width + 2 * padX;
  const float boxHeight = bounds.Height + 2 * padY;

  UniqueGpBrush fill = SolidBrush(kTooltipFill);
  UniqueGpPen outline = OutlinePen(kTooltipOutline, dpi);
  UniqueGpBrush textBrush = SolidBrush(kTooltipText);
  if (fill) gp::GdipFillRectangle(graphics.get(), fill.get(), boxX, boxY, boxWidth, boxHeight);
  if (outline) {
    gp::GdipDrawRectangle(graphics.get(), outline.get(), boxX, boxY, boxWidth, boxHeight);
  }
  if (!textBrush) return;
  const Gdiplus::RectF origin(x, y, 0, 0);
  gp::GdipDrawString(graphics.get(), text, -1, font.get(), &origin, nullptr, textBrush.get());
}

}  // namespace

// The halving is a shift and a mask, which the compiler widens to several pixels per step.
void DarkenPixels(DWORD* pixels, size_t count) {
  const ChannelBlend& blend = DarkenedChannels();
  if (blend.halves) {
    for (size_t i = 0; i < count; ++i) pixels[i] = pixels[i] >> 1 & 0x7F7F7F7Fu;
    return;
  }
  const auto& v = blend.value;
  for (size_t i = 0; i < count; ++i) {
    const DWORD p = pixels[i];
    pixels[i] = DWORD(v[p & 0xFF]) | DWORD(v[p >> 8 & 0xFF]) << 8 |
                DWORD(v[p >> 16 & 0xFF]) << 16 | DWORD(v[p >> 24]) << 24;
  }
}

std::wstring FormatSizeLabel(const RECT& rect) {
  wchar_t text[64];
  swprintf(text, 64, L"%ld x %ld", rect.right - rect.left, rect.bottom - rect.top);
  return text;
}

namespace {

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
  UniqueGpGraphics graphics = GraphicsOn(hdc, false);
  if (!graphics) return;
  gp::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
  const INT inset = MulDiv(button.right - button.left, kIconInset, kToolbarButtonSize);
  const INT x = button.left + inset;
  const INT y = button.top + inset;
  const INT width = button.right - button.left - 2 * inset;
  const INT height = button.bottom - button.top - 2 * inset;
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

void FillRoundedPanel(HDC hdc, const RECT& panel, UINT dpi) {
  UniqueGpGraphics graphics = GraphicsOn(hdc, true);
  if (!graphics) return;
  Gdiplus::GpPath* rawPath = nullptr;
  gp::GdipCreatePath(Gdiplus::FillModeAlternate, &rawPath);
  UniqueGpPath path(rawPath);
  if (!path) return;
  const INT size = Scale(kPanelCornerSquare, dpi);
  gp::GdipAddPathArcI(path.get(), panel.left, panel.top, size, size, 180, 90);
  gp::GdipAddPathArcI(path.get(), panel.right - size, panel.top, size, size, 270, 90);
  gp::GdipAddPathArcI(path.get(), panel.right - size, panel.bottom - size, size, size, 0, 90);
  gp::GdipAddPathArcI(path.get(), panel.left, panel.bottom - size, size, size, 90, 90);
  gp::GdipClosePathFigure(path.get());
  UniqueGpBrush fill = SolidBrush(kPanelFill);
  UniqueGpPen outline = OutlinePen(kPanelOutline, dpi);
  if (fill) gp::GdipFillPath(graphics.get(), fill.get(), path.get());
  if (outline) gp::GdipDrawPath(graphics.get(), outline.get(), path.get());
}


// The frame inside area, drawn into back, which holds the frame of the last paint elsewhere.
// Pixel for pixel what drawing the whole frame from scratch gives inside area.
void RenderArea(const MemoryCanvas& back, const OverlayCanvas& canvas, CaptureSession& session,
                const RECT& area) {
  const HDC hdc = back.dc();
  const OverlayState& state = session.State;
  const ToolbarLayout& layout = session.Toolbar;
  const UINT dpi = state.Dpi;
  UniqueRegion clip(CreateRectRgnIndirect(&area));
  if (!clip) return;
  // The back buffer's DC lives for the session: text colour, background mode and pen position
  // that one paint leaves behind must not reach the next.
  const int saved = SaveDC(hdc);
  SelectClipRgn(hdc, clip.get());
  PutDarkScreen(back, canvas.screen(), area, {0, 0});
  const RECT shown = ShownRect(state);
  if (ShowsRectangle(state)) {
    // The darkening leaves out the selection, whichever way round its edges lie.
    RECT inside = {};
    const RECT bright =
        NormalizedRect(POINT{shown.left, shown.top}, POINT{shown.right, shown.bottom});
    if (IntersectRect(&inside, &bright, &area)) CopyScreen(hdc, canvas.screen(), inside);
    DrawBorder(hdc, shown, dpi);
    if (Intersects(SizeLabelBounds(shown, dpi), area)) DrawSizeLabel(hdc, shown, dpi);
  }
  if (state.Phase == OverlayPhase::Selected) {
    for (const Annotation& annotation : state.Annotations) {
      if (Intersects(AnnotationBounds(annotation), area)) DrawAnnotation(hdc, annotation, {0, 0});
    }
    if (state.IsDrawing && state.DragMode == DragMode::Draw) {
      const Annotation stroke = FinishedStroke(state, canvas.screen());
      if (Intersects(AnnotationBounds(stroke), area)) DrawAnnotation(hdc, stroke, {0, 0});
    }
    if (!state.TextEntries.empty()) DrawTextEntries(hdc, state);
    DrawHandles(hdc, layout, dpi);
    const RECT toolPanel = ToolPanelRect(layout, dpi);
    const RECT actionPanel = ActionPanelRect(layout, dpi);
    const RECT secondPanel = SecondPanelRect(layout, dpi);
    RECT panels = {};
    UnionRect(&panels, &toolPanel, &actionPanel);
    UnionRect(&panels, &panels, &secondPanel);
    InflateRect(&panels, Scale(2, dpi), Scale(2, dpi));
    if (Intersects(panels, area)) DrawToolbar(hdc, session, dpi);
    if (state.TooltipShown && !state.TooltipText.empty() &&
        Intersects(TooltipBounds(state.TooltipText, state.TooltipAnchor, dpi), area)) {
      DrawTooltip(hdc, state);
    }
  }
  if (ShowsMagnifier(state) &&
      Intersects(MagnifierRect(state.Pointer, state.PointerMonitor, dpi), area)) {
    DrawMagnifier(hdc, canvas.screen(), state);
  }
  RestoreDC(hdc, saved);
}

// The darkened screen inside area, through a buffer of a few rows.
void PaintDarkScreen(HDC hdc, HBITMAP screen, const RECT& area) {
  MemoryCanvas band(nullptr, area.right - area.left, kDarkenBand);
  if (!band.ok()) return;
  for (LONG top = area.top; top < area.bottom; top += kDarkenBand) {
    const RECT rows = {area.left, top, area.right, std::min<LONG>(area.bottom, top + kDarkenBand)};
    PutDarkScreen(band, screen, rows, {area.left, top});
    BitBlt(hdc, rows.left, rows.top, rows.right - rows.left, rows.bottom - rows.top, band.dc(), 0,
           0, SRCCOPY);
  }
}

// Before a drag the frame is the darkened screen with at most the window or monitor under the
// pointer bright and outlined: it goes to the window directly, the darkened part band by band,
// so that the first frame needs no buffer as large as the screen.
void PaintTargetBeforeDrag(HDC hdc, const OverlayCanvas& canvas, const OverlayState& state,
                           const RECT& area) {
  PaintDarkScreen(hdc, canvas.screen(), area);
  if (!ShowsRectangle(state)) return;
  const RECT shown = ShownRect(state);
  RECT inside = {};
  const RECT bright =
      NormalizedRect(POINT{shown.left, shown.top}, POINT{shown.right, shown.bottom});
  if (IntersectRect(&inside, &bright, &area)) CopyScreen(hdc, canvas.screen(), inside);
  DrawBorder(hdc, shown, state.Dpi);
  if (Intersects(SizeLabelBounds(shown, state.Dpi), area)) DrawSizeLabel(hdc, shown, state.Dpi);
}

// The magnifier covers its rectangle whole: the rest of the frame is drawn around it, and it
// goes to the window in one copy from a buffer of its size, so that the screen beneath it never
// shows for a moment.
void PaintBeforeDrag(HDC hdc, const OverlayCanvas& canvas, const OverlayState& state,
                     const RECT& area) {
  if (!ShowsMagnifier(state)) {
    PaintTargetBeforeDrag(hdc, canvas, state, area);
    return;
  }
  const RECT box = MagnifierRect(state.Pointer, state.PointerMonitor, state.Dpi);
  const int saved = SaveDC(hdc);
  ExcludeClipRect(hdc, box.left, box.top, box.right, box.bottom);
  PaintTargetBeforeDrag(hdc, canvas, state, area);
  RestoreDC(hdc, saved);
  if (!Intersects(box, area)) return;
  const int width = box.right - box.left;
  const int height = box.bottom - box.top;
  MemoryCanvas buffer(nullptr, width, height);
  if (!buffer.ok()) return;
  SetViewportOrgEx(buffer.dc(), -box.left, -box.top, nullptr);
  DrawMagnifier(buffer.dc(), canvas.screen(), state);
  SetViewportOrgEx(buffer.dc(), 0, 0, nullptr);
  BitBlt(hdc, box.left, box.top, width, height, buffer.dc(), 0, 0, SRCCOPY);
}

}  // namespace

void PaintOverlayFrame(CaptureSession& session, HDC hdc, int width, int height) {
  OverlayCanvas* canvas = SessionCanvas(session, width, height);
  if (!canvas) return;
  const MemoryCanvas* back = canvas->back();
  if (!back) return;
  const RECT all = {0, 0, width, height};
  RenderArea(*back, *canvas, session, all);
  BitBlt(hdc, 0, 0, width, height, back->dc(), 0, 0, SRCCOPY);
}

void PaintOverlay(HWND hwnd, CaptureSession& session) {
  PaintDc paint(hwnd);
  if (!paint.get()) return;
  RECT client = {};
  GetClientRect(hwnd, &client);
  RECT area = {};
  if (!IntersectRect(&area, &paint.paint().rcPaint, &client)) return;
  OverlayCanvas* canvas = SessionCanvas(session, client.right, client.bottom);
  if (!canvas) return;
  const OverlayState& state = session.State;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (state.Phase == OverlayPhase::NoSelection && !state.IsSelecting) {
    PaintBeforeDrag(paint.get(), *canvas, state, area);
  } else {
    const MemoryCanvas* back = canvas->back();
    if (!back) return;
    RenderArea(*back, *canvas, session, area);
    BitBlt(paint.get(), area.left, area.top, width, height, back->dc(), area.left, area.top,
           SRCCOPY);
  }
  canvas->shown = LookOf(state, session.Toolbar);
}

void InvalidateChanges(HWND hwnd, const CaptureSession& session) {
  RECT client = {};
  GetClientRect(hwnd, &client);
  if (!session.Canvas || !session.Canvas->shown) {
    InvalidateRect(hwnd, nullptr, FALSE);
    return;
  }
  const FrameLook now = LookOf(session.State, session.Toolbar);
  for (const RECT& rect : StaleRects(*session.Canvas->shown, now, client.right, client.bottom)) {
    InvalidateRect(hwnd, &rect, FALSE);
  }
}
