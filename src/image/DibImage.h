// A device-independent bitmap in memory: the Tavro codec's transparency
// background (loaded from a .bmp file) and the decoder's view of its own
// output frame (attached to memory it does not own).
//
// Pixels are stored bottom-up as in every DIB, each row padded to 4 bytes:
// stride = ((bit count x width) / 8 + 3) rounded down to a multiple of 4.
// Coordinates given to PixelAddress and CopyTo count rows from the top.
//
// Loading accepts only plain 256-colour bitmaps: an uncompressed, bottom-up
// BMP with a 40-byte info header and 8 bits per pixel, whose pixel data
// holds at least every row. Other files fail; the user sees "Not a Windows
// DIB." for another header size and "Not a 256 color bitmap." for another
// depth, a compressed or a top-down bitmap. Everything else (a missing file,
// not "BM", a short file, an empty or oversized picture, too few pixel
// bytes, no memory) fails silently. The loaded picture is converted to the
// target depth: 8 (kept), 16 (RGB 5-5-5), 24 (blue, green, red) or 32 (blue,
// green, red, 0); any other target fails silently.
//
// Threads: an image is used by one thread at a time.
#pragma once

#include "image/MessageSink.h"
#include "platform/gdi/Gdi.h"
#include "platform/win32/Types.h"

#include <cstddef>
#include <memory>

// Number of colour-table entries that follow `header`: a 12-byte core header
// is read for its bit count only; for an info header a non-zero biClrUsed
// replaces the default (2, 16 or 256 for 1, 4 or 8 bits, else 0) and is then
// capped at 2, 16 or 256 for those depths. Bit counts of 9 and more give 0.
UINT ColorCount(const BITMAPINFOHEADER* header);

class DibImage {
public:
    DibImage() = default;
    virtual ~DibImage();
    DibImage(const DibImage&) = delete;
    DibImage& operator=(const DibImage&) = delete;

    // Loads a BMP file and converts it to `targetBitCount` bits. Messages go
    // to `owner` (none when null), title "Cadmo error", warning icon. On
    // failure the image keeps what it held.
    virtual bool Load(MessageSink* owner, const char* path, int targetBitCount);
    virtual LONG Width() const;
    virtual LONG Height() const;
    // Remaps the pixels and colour table of an 8-bit image to `palette`;
    // false, changing nothing, for a null palette or another depth.
    virtual bool MatchPalette(HPALETTE palette);
    virtual void GetRect(RECT* rect) const;
    // Copies a w x h rectangle at (sx, sy) of this image to (dx, dy) of
    // `dest`, clipped to both. Images of different depths copy nothing.
    virtual void CopyTo(DibImage* dest, int dx, int dy, int w, int h, int sx, int sy);

    // Copies the header and its colour table, and shows `bits` (not owned)
    // through them. `bits` must hold stride x height bytes. Headers of 8, 16,
    // 24 and 32 bits with a positive width and height are accepted; false
    // otherwise, changing nothing. False leaving the image empty when memory
    // runs out.
    bool Attach(const BITMAPINFOHEADER* header, void* bits);
    // Pixel (x, y), y from the top row; null outside the picture.
    BYTE* PixelAddress(int x, int y) const;

    // The header followed by the colour table (256 entries for 8 bits);
    // null when empty.
    const BITMAPINFO* Info() const { return info; }
    BYTE* Bits() const { return bits; }
    bool OwnsBits() const { return ownsBits; }
    LONG Stride() const;

private:
    void FreeBits();

    BITMAPINFO* info = nullptr;
    BYTE* bits = nullptr;
    bool ownsBits = true;
};
