// Annotations drawn inside the selection: recording, text entry, colour choice and drawing.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "overlay/overlay_state.h"

// Size of the text tool's font and width of strokes, in pixels at 96 DPI.
constexpr int kTextSize = 22;
constexpr int kStrokeWidth = 3;
// A mosaic's block and a numbered step's circle.
constexpr int kMosaicBlock = 16;
constexpr int kNumberDiameter = 24;

// The arrow head's three corners: the tip first, then the two barbs; it grows with the width.
std::array<POINT, 3> ArrowHeadCorners(POINT from, POINT to, int width);
// The record the stroke being drawn makes: the sampled points for Pen, start and end for the
// others, as wide as the overlay's DPI makes a stroke.
Annotation StrokeInProgress(const OverlayState& state);
// The mean colour of each block of block x block pixels of area, row by row from area's top-left
// corner; the last column and row take what is left. pixels holds width pixels a row, 0x00RRGGBB,
// top row first, and area lies inside them.
std::vector<COLORREF> BlockMeans(const DWORD* pixels, int width, const RECT& area, int block);
// The stroke being drawn as it will be committed: a mosaic cut to the frozen screen, with its
// blocks.
Annotation FinishedStroke(const OverlayState& state, HBITMAP screenBitmap);
// The numbered step a click at point places.
Annotation NumberAt(const OverlayState& state, POINT point);
// 0xFF followed by the colour's red, green and blue bytes.
DWORD OpaqueArgb(COLORREF color);

enum class TextEntryStep { Continue, Commit, Discard };
// Applies one message of the overlay's during text entry to the text and the caret.
TextEntryStep ApplyTextEntryMessage(const MSG& message, std::wstring& text, bool& caretVisible);

void DrawArrowHead(HDC hdc, POINT from, POINT to, COLORREF color, int width);
// Text in the annotation font at origin; false when no font could be made.
bool DrawAnnotationText(HDC hdc, const std::wstring& text, POINT origin, COLORREF color,
                        int size);
// Draws one record with every point moved by offset.
void DrawAnnotation(HDC hdc, const Annotation& annotation, POINT offset);
// The texts being typed, the caret after the innermost one when it is visible.
void DrawTextEntries(HDC hdc, const OverlayState& state);
// Ends the stroke in progress at the left button's release.
void CommitStroke(OverlayState& state, HBITMAP screenBitmap);
// Text entry at point: from now on the keys and the caret timer go to the text (or the one
// nested in it), until Enter commits it or Esc drops it.
void BeginTextEntry(HWND overlay, OverlayState& state, POINT point);
// WM_KEYDOWN, WM_CHAR or the caret's WM_TIMER while a text is typed.
void ApplyTextEntryInput(HWND overlay, OverlayState& state, UINT message, WPARAM wParam);
void ChooseAnnotationColor(HWND overlay, OverlayState& state);
