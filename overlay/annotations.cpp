#include "overlay/annotations.h"

// Strokes, text and the colour chooser come with the annotation tools; until then the editor
// records no annotation, and these keep its state consistent.

void DrawAnnotation(HDC, const Annotation&, POINT) {}

void DrawAnnotations(HDC) {}

void CommitStroke() {
  g_overlayState.IsDrawing = false;
  g_overlayState.PenPoints.clear();
}

void RunTextEntry(HWND, POINT) {}

void ChooseAnnotationColor(HWND) {}
