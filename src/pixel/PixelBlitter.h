// The pixel engine behind BitBlt, StretchBlt and DrawDibDraw: copies a
// rectangle of one pixel map into another with nearest-pixel scaling,
// mirroring, clipping and conversion between 8, 16, 24 and 32 bits.
//
// A PixelBlitter keeps scratch tables (column maps, colour maps) between
// calls so that a steady stream of same-sized blits allocates nothing; one
// blitter is used by one thread at a time.
#pragma once

#include "platform/win32/Types.h"

#include <array>
#include <cstdint>
#include <vector>

// A view of pixel memory. Coordinates are counted from the top row; a
// bottom-up map stores that row last.
struct PixelMap {
    BYTE* bits = nullptr;
    int width = 0;
    int height = 0;
    int bitsPixel = 0; // 8, 16 (5-5-5), 24, 32
    int stride = 0;    // bytes per row in memory
    bool bottomUp = false;
    // The colours of an 8-bit map; entries past numColors are never chosen
    // for a destination and read as given for a source.
    const RGBQUAD* colors = nullptr;
    int numColors = 0;

    BYTE* Row(int y) const {
        return bits + static_cast<std::ptrdiff_t>(bottomUp ? height - 1 - y : y) * stride;
    }
};

class PixelBlitter {
public:
    // Copies source rectangle (sx, sy, sw, sh) of `src` onto destination
    // rectangle (dx, dy, dw, dh) of `dst`. Widths and heights may be
    // negative (mirroring when the signs differ). Destination column i reads
    // source column i * |sw| / |dw|. Only destination pixels inside `dst`
    // whose source pixel is inside `src` are written; `written` receives the
    // written destination rectangle (empty when none). `src` and `dst` must
    // not share memory.
    void Stretch(const PixelMap& dst, int dx, int dy, int dw, int dh, const PixelMap& src, int sx, int sy,
                 int sw, int sh, RECT* written);

private:
    bool ComputeAxis(int dstPos, int dstLen, int dstLimit, int srcPos, int srcLen, int srcLimit,
                     std::vector<int>& map, int& first, int& count);
    void PrepareSourceLut(const PixelMap& src);
    void PrepareDestination(const PixelMap& dst);
    void PrepareIndexMap(const PixelMap& dst, const PixelMap& src);
    BYTE NearestCached(std::uint32_t bgr);

    std::vector<int> cols_;
    std::vector<int> rows_;
    // Source 8-bit colours as 0x00RRGGBB.
    std::array<std::uint32_t, 256> lut_{};
    // 8-bit to 8-bit index translation and whether it is the identity.
    std::array<BYTE, 256> indexMap_{};
    bool identity_ = false;
    std::uint64_t indexMapKey_ = 0;
    bool indexMapValid_ = false;
    // Destination colours of an 8-bit target and a memo of nearest lookups.
    std::array<RGBQUAD, 256> dstColors_{};
    int dstNumColors_ = 0;
    std::uint64_t dstKey_ = 0;
    bool dstValid_ = false;
    std::vector<std::uint32_t> memo_; // (colour << 8 | index) + 1, 0 = empty
};
