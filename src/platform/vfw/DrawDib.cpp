#include "platform/vfw/DrawDib.h"

#include "pixel/DibRules.h"
#include "pixel/DitherPalette.h"
#include "pixel/FrameConverter.h"
#include "pixel/PixelBlitter.h"
#include "pixel/PixelFormat.h"
#include "platform/gdi/GdiInternal.h"

#include <array>
#include <cstring>
#include <new>
#include <vector>

struct HDRAWDIB__ {
    DitherPalette palette;
    FrameConverter converter;
    // What the last begin prepared for.
    bool begun = false;
    BITMAPINFOHEADER format{};
    int dxDst = 0;
    int dyDst = 0;
    int dxSrc = 0;
    int dySrc = 0;
    // A deep picture dithered to the palette before it is stretched onto an
    // 8-bit device: dxSrc x dySrc, top-down.
    std::vector<BYTE> dithered;
    std::array<RGBQUAD, 256> sourceColors{};
    DWORD rate = 0;
    bool started = false;
};

namespace {

// A frame the pixel code can write, of no more than a gigabyte.
bool drawableFormat(const BITMAPINFOHEADER* bi) {
    if (bi == nullptr || bi->biSize < sizeof(BITMAPINFOHEADER) || bi->biSize > 4096 ||
        bi->biCompression != BI_RGB || !CanWriteFrame(bi->biWidth, bi->biHeight, bi->biBitCount))
        return false;
    return DibStride(bi->biWidth, bi->biBitCount) * DibRows(bi->biHeight) <= (std::int64_t{1} << 30);
}

// Rows of a format drawableFormat accepted, which fit an int.
int rowsOf(const BITMAPINFOHEADER& bi) {
    return static_cast<int>(DibRows(bi.biHeight));
}

// The colours that follow an 8-bit header; entries it does not give are black.
void readColorTable(const BITMAPINFOHEADER* bi, std::array<RGBQUAD, 256>& out) {
    out.fill(RGBQUAD{});
    const DWORD n = bi->biClrUsed == 0 || bi->biClrUsed > 256 ? 256 : bi->biClrUsed;
    std::memcpy(out.data(), reinterpret_cast<const BYTE*>(bi) + bi->biSize, n * sizeof(RGBQUAD));
}

} // namespace

HDRAWDIB DrawDibOpen() {
    return new (std::nothrow) HDRAWDIB__;
}

BOOL DrawDibClose(HDRAWDIB hdd) {
    if (hdd == nullptr)
        return FALSE;
    delete hdd;
    return TRUE;
}

BOOL DrawDibBegin(HDRAWDIB hdd, HDC /*hdc*/, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi, int dxSrc,
                  int dySrc, UINT /*wFlags*/) {
    if (hdd == nullptr || !drawableFormat(lpbi))
        return FALSE;
    if (dxSrc < 0)
        dxSrc = lpbi->biWidth;
    if (dySrc < 0)
        dySrc = rowsOf(*lpbi);
    if (dxDst < 0)
        dxDst = dxSrc;
    if (dyDst < 0)
        dyDst = dySrc;
    if (dxSrc > lpbi->biWidth || dySrc > rowsOf(*lpbi))
        return FALSE;
    hdd->begun = false;
    if (lpbi->biBitCount != 8) {
        const std::int64_t bytes = DibStride(dxSrc, 8) * dySrc;
        try {
            hdd->dithered.resize(static_cast<std::size_t>(bytes));
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
    }
    hdd->format = *lpbi;
    hdd->dxDst = dxDst;
    hdd->dyDst = dyDst;
    hdd->dxSrc = dxSrc;
    hdd->dySrc = dySrc;
    hdd->begun = true;
    return TRUE;
}

BOOL DrawDibEnd(HDRAWDIB hdd) {
    if (hdd == nullptr)
        return FALSE;
    hdd->begun = false;
    hdd->started = false;
    return TRUE;
}

BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                 const BITMAPINFOHEADER* lpbi, const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT wFlags) {
    if (hdd == nullptr || hdc == nullptr || !drawableFormat(lpbi))
        return FALSE;
    if ((wFlags & DDF_DONTDRAW) != 0)
        return TRUE;
    if (lpBits == nullptr)
        return FALSE; // no copy of the last frame is kept for DDF_UPDATE
    const int height = rowsOf(*lpbi);
    if (dxSrc < 0)
        dxSrc = lpbi->biWidth;
    if (dySrc < 0)
        dySrc = height;
    if (dxDst < 0)
        dxDst = dxSrc;
    if (dyDst < 0)
        dyDst = dySrc;
    // The source rectangle must lie inside the picture: a partial one would
    // shift the picture on the device.
    if (xSrc < 0 || ySrc < 0 || dxSrc > lpbi->biWidth - xSrc || dySrc > height - ySrc)
        return FALSE;
    if (dxSrc == 0 || dySrc == 0 || dxDst == 0 || dyDst == 0)
        return TRUE;

    const bool sameBegin = hdd->begun && hdd->dxDst == dxDst && hdd->dyDst == dyDst && hdd->dxSrc == dxSrc &&
                           hdd->dySrc == dySrc && hdd->format.biWidth == lpbi->biWidth &&
                           hdd->format.biHeight == lpbi->biHeight &&
                           hdd->format.biBitCount == lpbi->biBitCount;
    if (!sameBegin && !DrawDibBegin(hdd, hdc, dxDst, dyDst, lpbi, dxSrc, dySrc, wFlags))
        return FALSE;

    PixelMap src;
    src.bits = static_cast<BYTE*>(const_cast<void*>(lpBits));
    src.width = lpbi->biWidth;
    src.height = height;
    src.bitsPixel = lpbi->biBitCount;
    src.stride = static_cast<int>(DibStride(lpbi->biWidth, lpbi->biBitCount));
    src.bottomUp = lpbi->biHeight > 0;
    if (lpbi->biBitCount == 8) {
        readColorTable(lpbi, hdd->sourceColors);
        src.colors = hdd->sourceColors.data();
        src.numColors = 256;
    }

    if (lpbi->biBitCount == 8 || GdiTargetBitsPixel(hdc) != 8)
        return GdiStretchFromMap(hdc, xDst, yDst, dxDst, dyDst, src, xSrc, ySrc, dxSrc, dySrc);

    // A deep picture on a palette device: dither the source rectangle to the
    // DrawDib palette at its own size, then stretch those indices.
    PixelPicture picture;
    const std::ptrdiff_t bytesPixel = lpbi->biBitCount / 8;
    picture.data = src.Row(ySrc) + xSrc * bytesPixel;
    picture.stride = src.bottomUp ? -static_cast<std::ptrdiff_t>(src.stride) : src.stride;
    picture.width = dxSrc;
    picture.height = dySrc;
    picture.layout = lpbi->biBitCount == 16   ? SourceLayout::Rgb555
                     : lpbi->biBitCount == 24 ? SourceLayout::Bgr24
                                              : SourceLayout::Bgrx32;
    FrameTarget target;
    target.bits = hdd->dithered.data();
    target.frameWidth = dxSrc;
    target.frameHeight = -dySrc;
    target.bitCount = 8;
    if (!hdd->converter.Convert(picture, target, &hdd->palette))
        return FALSE;

    PixelMap indices;
    indices.bits = hdd->dithered.data();
    indices.width = dxSrc;
    indices.height = dySrc;
    indices.bitsPixel = 8;
    indices.stride = static_cast<int>(DibStride(dxSrc, 8));
    indices.bottomUp = false;
    indices.colors = hdd->palette.Colors().data();
    indices.numColors = 256;
    return GdiStretchFromMap(hdc, xDst, yDst, dxDst, dyDst, indices, 0, 0, dxSrc, dySrc);
}

BOOL DrawDibSetPalette(HDRAWDIB hdd, HPALETTE hpal) {
    if (hdd == nullptr)
        return FALSE;
    if (hpal == nullptr) {
        hdd->palette.Reset();
        return TRUE;
    }
    std::array<PALETTEENTRY, 256> entries{};
    const UINT n = GetPaletteEntries(hpal, 0, 256, entries.data());
    if (n == 0)
        return FALSE;
    std::array<RGBQUAD, 256> colors{};
    for (UINT i = 0; i < n; ++i)
        colors[i] = RGBQUAD{entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
    hdd->palette.SetColors(colors.data(), static_cast<int>(n));
    return TRUE;
}

UINT DrawDibRealize(HDRAWDIB hdd, HDC hdc, BOOL fBackground) {
    if (hdd == nullptr || hdc == nullptr)
        return 0;
    std::array<BYTE, sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY)> storage{};
    auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
    log->palVersion = 0x300;
    log->palNumEntries = 256;
    const auto& colors = hdd->palette.Colors();
    for (std::size_t i = 0; i < 256; ++i) {
        const PALETTEENTRY e{colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue, 0};
        std::memcpy(storage.data() + offsetof(LOGPALETTE, palPalEntry) + i * sizeof e, &e, sizeof e);
    }
    HPALETTE pal = CreatePalette(log);
    if (pal == nullptr)
        return 0;
    // Realising copies the colours to the device, so the palette need not
    // stay selected (and can be deleted at once).
    HPALETTE old = SelectPalette(hdc, pal, fBackground);
    UINT n = 0;
    if (old != nullptr) {
        n = RealizePalette(hdc);
        SelectPalette(hdc, old, fBackground);
    }
    DeleteObject(pal);
    return n == GDI_ERROR ? 0 : n;
}

BOOL DrawDibStart(HDRAWDIB hdd, DWORD rate) {
    if (hdd == nullptr)
        return FALSE;
    hdd->rate = rate;
    hdd->started = true;
    return TRUE;
}

BOOL DrawDibStop(HDRAWDIB hdd) {
    if (hdd == nullptr)
        return FALSE;
    hdd->started = false;
    return TRUE;
}
