// A picture in the codec's internal form: 8-bit Y, Cb, Cr planes, 4:2:0,
// padded to whole 16x16 macroblocks.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qx47 {

struct Picture {
    int lumaWidth = 0; // padded: 16 x macroblock columns (also the luma stride)
    int lumaHeight = 0;
    int chromaWidth = 0; // lumaWidth / 2 (also the chroma stride)
    int chromaHeight = 0;
    std::vector<std::uint8_t> y, cb, cr;

    void Allocate(int mbColumns, int mbRows) {
        lumaWidth = mbColumns * 16;
        lumaHeight = mbRows * 16;
        chromaWidth = lumaWidth / 2;
        chromaHeight = lumaHeight / 2;
        y.assign(static_cast<std::size_t>(lumaWidth) * lumaHeight, 128);
        cb.assign(static_cast<std::size_t>(chromaWidth) * chromaHeight, 128);
        cr.assign(cb.size(), 128);
    }
    void Fill(std::uint8_t v) {
        std::memset(y.data(), v, y.size());
        std::memset(cb.data(), v, cb.size());
        std::memset(cr.data(), v, cr.size());
    }
    // Plane 0 Y, 1 Cb, 2 Cr.
    std::uint8_t* Plane(int p) { return p == 0 ? y.data() : (p == 1 ? cb.data() : cr.data()); }
    const std::uint8_t* Plane(int p) const { return p == 0 ? y.data() : (p == 1 ? cb.data() : cr.data()); }
    int Stride(int p) const { return p == 0 ? lumaWidth : chromaWidth; }
};

// Where block b (0..3 luma in raster order, 4 Cb, 5 Cr) of macroblock
// (mbx, mby) lies: plane and top-left sample.
struct BlockPlace {
    int plane, x, y;
};
inline BlockPlace PlaceOf(int b, int mbx, int mby) {
    if (b < 4)
        return {0, mbx * 16 + (b & 1) * 8, mby * 16 + (b >> 1) * 8};
    return {b - 3, mbx * 8, mby * 8};
}

// Copies one macroblock (all three planes) from one picture to another.
inline void CopyMacroblock(const Picture& from, Picture& to, int mbx, int mby) {
    for (int p = 0; p < 3; ++p) {
        int size = p == 0 ? 16 : 8;
        int stride = from.Stride(p);
        std::size_t off = static_cast<std::size_t>(mby * size) * stride + mbx * size;
        const std::uint8_t* s = from.Plane(p) + off;
        std::uint8_t* d = to.Plane(p) + off;
        for (int r = 0; r < size; ++r)
            std::memcpy(d + r * stride, s + r * stride, size);
    }
}

} // namespace qx47
