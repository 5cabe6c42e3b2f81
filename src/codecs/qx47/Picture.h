// A picture in the codec's internal form: 8-bit Y, Cb, Cr planes, 4:2:0,
// padded to whole 16x16 macroblocks.
#pragma once

#include <cstddef>
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
// A Size x Size square at (x, y) of `to` from (x + dx, y + dy) of `from`;
// fixed sizes, so that each row is one or two moves.
template <int Size>
void CopySquare(const std::uint8_t* from, std::uint8_t* to, int stride, int x, int y, int dx, int dy) {
    const std::uint8_t* s = from + static_cast<std::ptrdiff_t>(y + dy) * stride + x + dx;
    std::uint8_t* d = to + static_cast<std::ptrdiff_t>(y) * stride + x;
    if (s == d)
        return;
    for (int r = 0; r < Size; ++r)
        std::memcpy(d + static_cast<std::ptrdiff_t>(r) * stride, s + static_cast<std::ptrdiff_t>(r) * stride,
                    Size);
}

// Macroblock (mbx, mby) of `to` from `from`, moved by the luma vector
// (dx, dy) (chroma by half of it, rounded down).
inline void CopyMacroblock(const Picture& from, Picture& to, int mbx, int mby, int dx = 0, int dy = 0) {
    CopySquare<16>(from.y.data(), to.y.data(), to.lumaWidth, mbx * 16, mby * 16, dx, dy);
    CopySquare<8>(from.cb.data(), to.cb.data(), to.chromaWidth, mbx * 8, mby * 8, dx >> 1, dy >> 1);
    CopySquare<8>(from.cr.data(), to.cr.data(), to.chromaWidth, mbx * 8, mby * 8, dx >> 1, dy >> 1);
}

} // namespace qx47
