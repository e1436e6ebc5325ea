// Annotations drawn inside the selection: recording, text entry, colour choice and drawing.
#pragma once

#include <windows.h>

#include "overlay/overlay_state.h"

// Draws one record with every point moved by offset.
void DrawAnnotation(HDC hdc, const Annotation& annotation, POINT offset);
// The committed records, then the stroke in progress.
void DrawAnnotations(HDC hdc);
// Ends the stroke in progress at the left button's release.
void CommitStroke();
// Modal text entry at point; returns when the text is committed or dropped.
void RunTextEntry(HWND overlay, POINT point);
void ChooseAnnotationColor(HWND overlay);
