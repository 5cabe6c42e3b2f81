#include "pixel/PixelBlitter.h"

#include "pixel/DibRules.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint64_t hashBytes(const void* data, std::size_t n, std::uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const BYTE*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

// Colours travel between formats as 0x00RRGGBB, the layout of a 32-bit pixel
// read as a little-endian word.
inline std::uint32_t expand5(std::uint32_t v) {
    return (v << 3) | (v >> 2);
}

struct Context {
    const std::uint32_t* lut; // 8-bit source colours
    const BYTE* indexMap;     // 8-bit to 8-bit
    PixelBlitter* self;       // nearest lookups for an 8-bit destination
    BYTE (*nearest)(PixelBlitter*, std::uint32_t);
};

template <int S> inline std::uint32_t readPixel(const BYTE* s, int x, const Context& c) {
    if constexpr (S == 8) {
        return c.lut[s[x]];
    } else if constexpr (S == 16) {
        const std::uint32_t v =
            static_cast<std::uint32_t>(s[2 * x]) | (static_cast<std::uint32_t>(s[2 * x + 1]) << 8);
        return (expand5((v >> 10) & 31) << 16) | (expand5((v >> 5) & 31) << 8) | expand5(v & 31);
    } else if constexpr (S == 24) {
        const BYTE* p = s + 3 * x;
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16);
    } else {
        std::uint32_t v;
        std::memcpy(&v, s + 4 * x, 4);
        return v & 0x00ffffffu;
    }
}

template <int D> inline void writePixel(BYTE* d, int i, std::uint32_t rgb, const Context& c) {
    if constexpr (D == 8) {
        d[i] = c.nearest(c.self, rgb);
    } else if constexpr (D == 16) {
        const std::uint32_t v = (((rgb >> 19) & 31) << 10) | (((rgb >> 11) & 31) << 5) | ((rgb >> 3) & 31);
        d[2 * i] = static_cast<BYTE>(v);
        d[2 * i + 1] = static_cast<BYTE>(v >> 8);
    } else if constexpr (D == 24) {
        BYTE* p = d + 3 * i;
        p[0] = static_cast<BYTE>(rgb);
        p[1] = static_cast<BYTE>(rgb >> 8);
        p[2] = static_cast<BYTE>(rgb >> 16);
    } else {
        std::memcpy(d + 4 * i, &rgb, 4);
    }
}

// One destination row: n pixels from source columns first..first+n-1, or
// from cols[0..n-1] when cols is given.
using RowFn = void (*)(BYTE* d, const BYTE* s, const int* cols, int first, int n, const Context& c);

template <int S, int D>
void convertRow(BYTE* d, const BYTE* s, const int* cols, int first, int n, const Context& c) {
    if constexpr (S == D && S != 8) {
        constexpr int B = S / 8;
        if (cols == nullptr) {
            std::memcpy(d, s + static_cast<std::ptrdiff_t>(first) * B, static_cast<std::size_t>(n) * B);
            return;
        }
        for (int i = 0; i < n; ++i) {
            const BYTE* p = s + static_cast<std::ptrdiff_t>(cols[i]) * B;
            BYTE* q = d + static_cast<std::ptrdiff_t>(i) * B;
            if constexpr (B == 2) {
                q[0] = p[0];
                q[1] = p[1];
            } else if constexpr (B == 3) {
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
            } else {
                std::memcpy(q, p, 4);
            }
        }
    } else if constexpr (S == 8 && D == 8) {
        if (c.indexMap == nullptr) {
            if (cols == nullptr) {
                std::memcpy(d, s + first, static_cast<std::size_t>(n));
                return;
            }
            for (int i = 0; i < n; ++i)
                d[i] = s[cols[i]];
            return;
        }
        for (int i = 0; i < n; ++i)
            d[i] = c.indexMap[s[cols == nullptr ? first + i : cols[i]]];
    } else {
        for (int i = 0; i < n; ++i)
            writePixel<D>(d, i, readPixel<S>(s, cols == nullptr ? first + i : cols[i], c), c);
    }
}

template <int S> RowFn pickRow(int d) {
    switch (d) {
    case 8:
        return convertRow<S, 8>;
    case 16:
        return convertRow<S, 16>;
    case 24:
        return convertRow<S, 24>;
    default:
        return convertRow<S, 32>;
    }
}

RowFn pickRow(int s, int d) {
    switch (s) {
    case 8:
        return pickRow<8>(d);
    case 16:
        return pickRow<16>(d);
    case 24:
        return pickRow<24>(d);
    default:
        return pickRow<32>(d);
    }
}

bool validMap(const PixelMap& m) {
    return m.bits != nullptr && m.width > 0 && m.height > 0 && IsPixelDepth(m.bitsPixel) &&
           static_cast<std::int64_t>(m.stride) * 8 >= static_cast<std::int64_t>(m.width) * m.bitsPixel;
}

} // namespace

bool PixelBlitter::ComputeAxis(int dstPos, int dstLen, int dstLimit, int srcPos, int srcLen, int srcLimit,
                               std::vector<int>& map, int& first, int& count) {
    first = 0;
    count = 0;
    if (dstLen == 0 || srcLen == 0 || dstLimit <= 0 || srcLimit <= 0)
        return false;
    // A negative extent runs leftwards from the position, which stays inside:
    // (x = w - 1, width = -w) covers columns 0..w-1, mirrored.
    const std::int64_t n = dstLen > 0 ? dstLen : -static_cast<std::int64_t>(dstLen);
    const std::int64_t m = srcLen > 0 ? srcLen : -static_cast<std::int64_t>(srcLen);
    const std::int64_t d0 = dstLen > 0 ? dstPos : static_cast<std::int64_t>(dstPos) + dstLen + 1;
    const std::int64_t s0 = srcLen > 0 ? srcPos : static_cast<std::int64_t>(srcPos) + srcLen + 1;
    const bool mirror = (dstLen < 0) != (srcLen < 0);

    const std::int64_t iLo = std::max<std::int64_t>(0, -d0);
    const std::int64_t iHi = std::min<std::int64_t>(n, dstLimit - d0);
    if (iHi <= iLo)
        return false;
    if (map.size() < static_cast<std::size_t>(iHi - iLo))
        map.resize(static_cast<std::size_t>(iHi - iLo));

    int k = 0;
    bool started = false;
    for (std::int64_t i = iLo; i < iHi; ++i) {
        // A 1:1 blit, the common case, needs no division per pixel.
        std::int64_t j = n == m ? i : (i * m) / n;
        if (mirror)
            j = m - 1 - j;
        const std::int64_t sx = s0 + j;
        if (sx < 0 || sx >= srcLimit) {
            if (started)
                break; // the source positions are monotone: nothing more fits
            continue;
        }
        if (!started) {
            started = true;
            first = static_cast<int>(d0 + i);
        }
        map[static_cast<std::size_t>(k++)] = static_cast<int>(sx);
    }
    count = k;
    return k > 0;
}

void PixelBlitter::PrepareSourceLut(const PixelMap& src) {
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD q = src.colors != nullptr ? src.colors[i] : RGBQUAD{};
        lut_[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(q.rgbBlue) |
                                            (static_cast<std::uint32_t>(q.rgbGreen) << 8) |
                                            (static_cast<std::uint32_t>(q.rgbRed) << 16);
    }
}

void PixelBlitter::PrepareDestination(const PixelMap& dst) {
    const int n = dst.colors != nullptr ? std::clamp(dst.numColors, 0, 256) : 0;
    const std::uint64_t key =
        hashBytes(dst.colors, static_cast<std::size_t>(n) * sizeof(RGBQUAD), 0x9e37u + n);
    if (dstValid_ && key == dstKey_ && n == dstNumColors_)
        return;
    for (int i = 0; i < n; ++i)
        dstColors_[static_cast<std::size_t>(i)] = dst.colors[i];
    dstNumColors_ = n;
    dstKey_ = key;
    dstValid_ = true;
    memo_.assign(4096, 0);
    indexMapValid_ = false;
}

void PixelBlitter::PrepareIndexMap(const PixelMap& dst, const PixelMap& src) {
    PrepareDestination(dst);
    const std::uint64_t key =
        src.colors != nullptr ? hashBytes(src.colors, 256 * sizeof(RGBQUAD), dstKey_) : ~dstKey_;
    if (indexMapValid_ && key == indexMapKey_)
        return;
    // An index whose colour is the same on both sides keeps its value, even
    // when an earlier entry has that colour too (palettes often repeat black
    // and white), so identical tables copy as they are.
    identity_ = true;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD q = src.colors != nullptr ? src.colors[i] : RGBQUAD{};
        const RGBQUAD& own = dstColors_[static_cast<std::size_t>(i)];
        int index = i;
        if (i >= dstNumColors_ || own.rgbRed != q.rgbRed || own.rgbGreen != q.rgbGreen ||
            own.rgbBlue != q.rgbBlue)
            index = NearestColor(dstColors_.data(), dstNumColors_, q.rgbRed, q.rgbGreen, q.rgbBlue);
        indexMap_[static_cast<std::size_t>(i)] = static_cast<BYTE>(index);
        identity_ = identity_ && index == i;
    }
    indexMapKey_ = key;
    indexMapValid_ = true;
}

BYTE PixelBlitter::NearestCached(std::uint32_t rgb) {
    const std::size_t slot = ((rgb * 2654435761u) >> 20) & 4095u;
    const std::uint32_t entry = memo_[slot];
    if (entry != 0 && ((entry - 1) >> 8) == rgb)
        return static_cast<BYTE>((entry - 1) & 0xff);
    const int index = NearestColor(dstColors_.data(), dstNumColors_, static_cast<int>((rgb >> 16) & 0xff),
                                   static_cast<int>((rgb >> 8) & 0xff), static_cast<int>(rgb & 0xff));
    memo_[slot] = ((rgb << 8) | static_cast<std::uint32_t>(index)) + 1;
    return static_cast<BYTE>(index);
}

void PixelBlitter::Stretch(const PixelMap& dst, int dx, int dy, int dw, int dh, const PixelMap& src, int sx,
                           int sy, int sw, int sh, RECT* written) {
    if (written != nullptr)
        *written = RECT{0, 0, 0, 0};
    if (!validMap(dst) || !validMap(src))
        return;
    int c0 = 0;
    int nc = 0;
    int r0 = 0;
    int nr = 0;
    if (!ComputeAxis(dx, dw, dst.width, sx, sw, src.width, cols_, c0, nc))
        return;
    if (!ComputeAxis(dy, dh, dst.height, sy, sh, src.height, rows_, r0, nr))
        return;

    // Consecutive source columns copy as one run.
    const bool run =
        cols_[static_cast<std::size_t>(nc - 1)] - cols_[0] == nc - 1 && (nc == 1 || cols_[1] == cols_[0] + 1);
    const int* cols = run ? nullptr : cols_.data();

    Context ctx{lut_.data(), nullptr, this,
                [](PixelBlitter* self, std::uint32_t rgb) { return self->NearestCached(rgb); }};
    if (src.bitsPixel == 8)
        PrepareSourceLut(src);
    if (dst.bitsPixel == 8) {
        PrepareDestination(dst);
        if (src.bitsPixel == 8) {
            PrepareIndexMap(dst, src);
            ctx.indexMap = identity_ ? nullptr : indexMap_.data();
        }
    }
    const RowFn convert = pickRow(src.bitsPixel, dst.bitsPixel);
    const std::size_t rowBytes = static_cast<std::size_t>(nc) * static_cast<std::size_t>(dst.bitsPixel / 8);
    const std::ptrdiff_t colOffset = static_cast<std::ptrdiff_t>(c0) * (dst.bitsPixel / 8);

    BYTE* previous = nullptr;
    for (int k = 0; k < nr; ++k) {
        BYTE* d = dst.Row(r0 + k) + colOffset;
        if (previous != nullptr &&
            rows_[static_cast<std::size_t>(k)] == rows_[static_cast<std::size_t>(k - 1)]) {
            std::memcpy(d, previous, rowBytes);
        } else {
            convert(d, src.Row(rows_[static_cast<std::size_t>(k)]), cols, cols_[0], nc, ctx);
        }
        previous = d;
    }
    if (written != nullptr)
        *written = RECT{c0, r0, c0 + nc, r0 + nr};
}
