// DrawDib: draws a device-independent bitmap from memory onto a device
// context, stretching it and converting its format to the DC's depth.
//
// Formats: 8 bits with a colour table (the table that follows the header;
// ColorCount entries), 16 bits RGB 5-5-5, 24 and 32 bits, BI_RGB, bottom-up
// (positive height) or top-down (negative height). Source rectangles are
// counted from the top row of the picture, like DC coordinates. A width or
// height of -1 for the source means the whole bitmap, for the destination
// the source's extent.
//
// Conversion: onto 16, 24 or 32-bit pixels the colours are converted
// exactly (16 bits truncate to 5-5-5). Onto 8-bit pixels (an 8-bit window,
// or an 8-bit DIB section selected into a memory DC), a deeper source is
// dithered to the DrawDib palette (DrawDibSetPalette, or the codecs' default
// palette of system colours, colour cube and grey ramp when none is set),
// and those indices are mapped to the destination's colours (unchanged when
// the destination shows the same palette, as after DrawDibRealize); an 8-bit
// source is mapped to the nearest destination colours. Stretching is
// nearest-pixel.
//
// DrawDibBegin prepares (and allocates) for one source format and size and
// one destination size so DrawDibDraw allocates nothing; DrawDibDraw begins
// implicitly when the format or sizes changed. DrawDibStart/Stop only record
// the rate. DrawDibRealize realises the DrawDib palette on the DC (an 8-bit
// window then shows it) and leaves the DC's own palette selected as before.
// A source rectangle reaching outside the picture is refused.
//
// Threads: one handle is used by one thread at a time.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/win32/Types.h"

struct HDRAWDIB__;
using HDRAWDIB = HDRAWDIB__*;

// DrawDibDraw / DrawDibBegin flags.
constexpr UINT DDF_0001 = 0x0001;
constexpr UINT DDF_UPDATE = 0x0002;
constexpr UINT DDF_SAME_HDC = 0x0004;
constexpr UINT DDF_SAME_DRAW = 0x0008;
constexpr UINT DDF_DONTDRAW = 0x0010;
constexpr UINT DDF_ANIMATE = 0x0020;
constexpr UINT DDF_BUFFER = 0x0040;
constexpr UINT DDF_JUSTDRAWIT = 0x0080;
constexpr UINT DDF_FULLSCREEN = 0x0100;
constexpr UINT DDF_BACKGROUNDPAL = 0x0200;
constexpr UINT DDF_NOTKEYFRAME = 0x0400;
constexpr UINT DDF_HURRYUP = 0x0800;
constexpr UINT DDF_HALFTONE = 0x1000;
constexpr UINT DDF_PREROLL = DDF_DONTDRAW;
constexpr UINT DDF_SAME_DIB = DDF_SAME_DRAW;
constexpr UINT DDF_SAME_SIZE = DDF_SAME_DRAW;

HDRAWDIB DrawDibOpen();
BOOL DrawDibClose(HDRAWDIB hdd);

// `hdc` may be null. Fails (FALSE) for a format it cannot draw.
BOOL DrawDibBegin(HDRAWDIB hdd, HDC hdc, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi, int dxSrc,
                  int dySrc, UINT wFlags);
BOOL DrawDibEnd(HDRAWDIB hdd);

// `lpbi` is followed by its colour table for 8 bits. `lpBits` must hold the
// whole frame (FrameBytes of the header); null draws nothing and fails.
BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                 const BITMAPINFOHEADER* lpbi, const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT wFlags);

// Copies the palette's entries (up to 256); null returns to the default
// palette. The handle is not kept.
BOOL DrawDibSetPalette(HDRAWDIB hdd, HPALETTE hpal);
// Returns the number of entries realised (0 when `hdc` is not an 8-bit
// window DC).
UINT DrawDibRealize(HDRAWDIB hdd, HDC hdc, BOOL fBackground);

// Microseconds per frame; recorded only.
BOOL DrawDibStart(HDRAWDIB hdd, DWORD rate);
BOOL DrawDibStop(HDRAWDIB hdd);
