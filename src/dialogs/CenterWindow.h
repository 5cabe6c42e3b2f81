// Placing one window over the centre of another, inside the screen's work
// area.
#pragma once

#include "platform/win32/Types.h"

class QWidget;

// The top-left corner for a window of `width` x `height` centred over `over`
// (integer halves rounded toward zero), then pushed inside `work`: left and
// top edges first, so a window larger than the work area is aligned to its
// left (top) edge.
POINT CenterWindowOrigin(LONG width, LONG height, const RECT& over, const RECT& work);

// Moves `window` (its frame) over the centre of `over`'s frame; keeps its size.
void CenterWindow(QWidget* window, QWidget* over);
