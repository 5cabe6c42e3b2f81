// Entry points of the GDI stand-in for DrawDib (platform/vfw, which stands on
// gdi), which draws from plain pixel memory rather than from a device
// context. Not for the engine.
#pragma once

#include "pixel/PixelBlitter.h"
#include "platform/gdi/Gdi.h"

// Stretches `src` (sx, sy, sw, sh) onto `hdcDest` (dx, dy, dw, dh) exactly as
// StretchBlt would from a DC showing `src`. `src` must not be memory of the
// destination. FALSE with the last error set for a bad DC.
BOOL GdiStretchFromMap(HDC hdcDest, int dx, int dy, int dw, int dh, const PixelMap& src, int sx, int sy,
                       int sw, int sh);

// Depth of the pixels a blit onto `hdc` writes: the window surface's, or the
// bitmap selected into a memory DC (which GetDeviceCaps does not report); 0
// for a bad DC.
int GdiTargetBitsPixel(HDC hdc);
