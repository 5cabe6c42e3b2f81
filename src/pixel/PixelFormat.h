// Decoded pictures and output frames, as the colour conversion sees them.
//
// This is the main header of the pixel library (src/pixel): pure pixel code,
// with no handles, devices or messages. It sits at the bottom of the tree,
// below the platform services: gdi's blits, vfw's DrawDib and the codecs all
// stand on it, and it includes nothing of theirs. The one header it takes
// from elsewhere is platform/win32/Types.h, which is only the Win32 type
// names and record layouts (BYTE, RGBQUAD, BITMAPINFOHEADER) and includes
// nothing itself, so the pixel code reads in the same terms as its callers.
//
// A decoder hands over its picture as a PixelPicture (rows top-down, any row
// stride, one of a few packed layouts); the conversion writes it into a
// FrameTarget, a rectangle of a DIB-style output frame at 8, 16 (RGB 5-5-5),
// 24 or 32 bits. Neither owns memory.
#pragma once

#include "pixel/DibRules.h"
#include "platform/win32/Types.h"

#include <cstddef>
#include <cstdint>

enum class SourceLayout {
    Bgr24,  // blue, green, red bytes
    Rgb24,  // red, green, blue bytes
    Bgrx32, // blue, green, red, unused
    Rgb555, // little-endian 16-bit words, x-r5-g5-b5
    Rgb565, // little-endian 16-bit words, r5-g6-b5
    Pal8,   // indices into PixelPicture::colors
};

struct PixelPicture {
    const std::uint8_t* data = nullptr; // first (top) row
    std::ptrdiff_t stride = 0;          // bytes from one row to the one below it; may be negative
    int width = 0;
    int height = 0;
    SourceLayout layout = SourceLayout::Bgr24;
    const RGBQUAD* colors = nullptr; // Pal8 only: 256 entries
};

// A rectangle of an output frame. The frame is described like a DIB: width,
// height (positive: rows stored bottom-up; negative: top-down), bit count,
// rows padded to a multiple of 4 bytes. x counts pixels from the left; y
// counts rows from the first row in memory, which for a bottom-up frame is
// its bottom row, exactly as ICDECOMPRESSEX's yDst. The picture lands with
// its top row at the top of the rectangle.
struct FrameTarget {
    std::uint8_t* bits = nullptr;
    LONG frameWidth = 0;
    LONG frameHeight = 0;
    WORD bitCount = 0;
    int x = 0;
    int y = 0;
};

int SourceBytesPerPixel(SourceLayout layout);
