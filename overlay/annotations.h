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
Annotation FinishedStroke(const OverlayState& state);
// The numbered step a click at point places.
Annotation NumberAt(const OverlayState& state, POINT point);
// 0xFF followed by the colour's red, green and blue bytes.
DWORD OpaqueArgb(COLORREF color);

enum class TextEntryStep { Continue, Commit, Discard };
// Applies one message taken during text entry to the text and the caret.
TextEntryStep ApplyTextEntryMessage(const MSG& message, std::wstring& text, bool& caretVisible);

void DrawArrowHead(HDC hdc, POINT from, POINT to, COLORREF color, int width);
// Text in the annotation font at origin; false when no font could be made.
bool DrawAnnotationText(HDC hdc, const std::wstring& text, POINT origin, COLORREF color,
                        int size);
// Draws one record with every point moved by offset.
void DrawAnnotation(HDC hdc, const Annotation& annotation, POINT offset);
// The committed records, then the stroke in progress.
void DrawAnnotations(HDC hdc);
// Ends the stroke in progress at the left button's release.
void CommitStroke();
// Modal text entry at point; returns when the text is committed or dropped, or the window is gone.
void RunTextEntry(HWND overlay, POINT point);
void ChooseAnnotationColor(HWND overlay);
