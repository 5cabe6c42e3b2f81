#include "codecs/qx47/ColorConverter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include <emmintrin.h>
#include <tmmintrin.h>

#include "codecs/qx47/Decoder.h"

namespace qx47 {

namespace {

constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// Sixteen pixels from an even x: B, G, R as three vectors of bytes.
struct Bgr16 {
    __m128i b, g, r;
};

inline __m128i ScaleChroma(__m128i d, int k) {
    return _mm_mullo_epi16(d, _mm_set1_epi16(static_cast<short>(k)));
}

inline Bgr16 Convert16(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int kY,
                       int kOffset, int kR, int kGb, int kGr, int kB) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    const __m128i ky = _mm_set1_epi16(static_cast<short>(kY)),
                  off = _mm_set1_epi16(static_cast<short>(kOffset));
    const __m128i base0 = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(yv, zero), ky), off);
    const __m128i base1 = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(yv, zero), ky), off);
    const __m128i c128 = _mm_set1_epi16(128);
    std::uint64_t cb8, cr8;
    std::memcpy(&cb8, cb, 8);
    std::memcpy(&cr8, cr, 8);
    const __m128i cbd =
        _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(cb8)), zero), c128);
    const __m128i crd =
        _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(cr8)), zero), c128);
    const __m128i rt = ScaleChroma(crd, kR);
    const __m128i gt = _mm_add_epi16(ScaleChroma(cbd, kGb), ScaleChroma(crd, kGr));
    const __m128i bt = ScaleChroma(cbd, kB);
    // Each chroma term serves two neighbouring pixels.
    auto channel = [&](__m128i t) {
        const __m128i lo = _mm_srai_epi16(_mm_adds_epi16(base0, _mm_unpacklo_epi16(t, t)), 6);
        const __m128i hi = _mm_srai_epi16(_mm_adds_epi16(base1, _mm_unpackhi_epi16(t, t)), 6);
        return _mm_packus_epi16(lo, hi);
    };
    return Bgr16{channel(bt), channel(gt), channel(rt)};
}

inline void Store32(const Bgr16& p, std::uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bg0 = _mm_unpacklo_epi8(p.b, p.g), bg1 = _mm_unpackhi_epi8(p.b, p.g);
    const __m128i r0 = _mm_unpacklo_epi8(p.r, zero), r1 = _mm_unpackhi_epi8(p.r, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg0, r0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bg0, r0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi16(bg1, r1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi16(bg1, r1));
}

// 48 bytes of B, G, R from the four BGRX quads; `last` keeps the final
// store inside the run.
__attribute__((target("ssse3"))) inline void Store24(const Bgr16& p, std::uint8_t* out, bool last) {
    alignas(16) std::uint8_t quad[64];
    Store32(p, quad);
    const __m128i shuffle = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    for (int i = 0; i < 4; ++i) {
        const __m128i v =
            _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(quad + 16 * i)), shuffle);
        if (i < 3 || !last) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12 * i), v);
        } else {
            alignas(16) std::uint8_t tail[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(tail), v);
            std::memcpy(out + 12 * i, tail, 12);
        }
    }
}

} // namespace

// Native 24- and 32-bit runs, sixteen pixels at a time from an even x;
// returns how many pixels it wrote (the caller finishes the rest).
int ColorConverter::VectorRun(int bpp, const std::uint8_t* yRow, const std::uint8_t* cbRow,
                              const std::uint8_t* crRow, int x0, int x1, std::uint8_t* out) const {
    if ((x0 & 1) || x1 - x0 < 16 || (bpp == 24 && !HasSsse3()))
        return 0;
    int x = x0;
    const int bytes = bpp / 8;
    for (; x + 16 <= x1; x += 16) {
        const Bgr16 p =
            Convert16(yRow + x, cbRow + (x >> 1), crRow + (x >> 1), kY_, kOffset_, kR_, kGb_, kGr_, kB_);
        std::uint8_t* o = out + static_cast<std::ptrdiff_t>(x - x0) * bytes;
        if (bpp == 32)
            Store32(p, o);
        else
            Store24(p, o, x + 32 > x1);
    }
    return x - x0;
}

ColorConverter::ColorConverter() {
    for (int i = 0; i < 1024; ++i)
        clip_[i] = static_cast<std::uint8_t>(std::clamp(i - 384, 0, 255));
    SetControls(0, 0, 0);
    UpdateDither();
}

// The same ordered dither as the other codecs' 8-bit output, so that every
// movie looks alike on a palette display.
void ColorConverter::UpdateDither() {
    const int amplitude = palette_.DitherAmplitude();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ditherRow_[y][x] = ((2 * kBayer[y][x] + 1 - 16) * amplitude) / 32;
}

// Everything runs in 16-bit fixed point with 6 fractional bits, the same for
// the vector and the scalar paths so that every output format and size gives
// the same colours:
//   base = Y x kY + kOffset        (contrast and brightness; rounding in kOffset)
//   R = (base + (Cr - 128) x kR) >> 6,   B = (base + (Cb - 128) x kB) >> 6,
//   G = (base + (Cb - 128) x kGb + (Cr - 128) x kGr) >> 6,   each clamped.
// Saturation scales the four chroma factors. The vector path adds with
// signed saturation; a saturated sum clamps to the same 0 or 255.
void ColorConverter::SetControls(int brightness, int saturation, int contrast) {
    brightness = std::clamp(brightness, -255, 255);
    saturation = std::clamp(saturation, -255, 255);
    contrast = std::clamp(contrast, -255, 255);
    const double s = (256.0 + saturation) / 256.0;
    kY_ = static_cast<int>(std::lround(64.0 * (256 + contrast) / 256.0));
    kOffset_ = 128 * 64 - 128 * kY_ + brightness * 32 + 32;
    kR_ = static_cast<int>(std::lround(1.402 * 64 * s));
    kGb_ = static_cast<int>(std::lround(-0.344136 * 64 * s));
    kGr_ = static_cast<int>(std::lround(-0.714136 * 64 * s));
    kB_ = static_cast<int>(std::lround(1.772 * 64 * s));
    for (int v = 0; v < 256; ++v) {
        yTab_[v] = v * kY_ + kOffset_;
        rCr_[v] = (v - 128) * kR_;
        gCb_[v] = (v - 128) * kGb_;
        gCr_[v] = (v - 128) * kGr_;
        bCb_[v] = (v - 128) * kB_;
    }
}

void ColorConverter::ReplacePalette(const RGBQUAD* table, int count) {
    count = std::clamp(count, 0, 236);
    std::array<RGBQUAD, 256> colors = palette_.Colors();
    for (int i = 0; i < count; ++i) {
        colors[10 + i] = table[10 + i];
        colors[10 + i].rgbReserved = 0;
    }
    palette_.SetColors(colors.data(), 256);
    UpdateDither();
}

template <int Bpp, int Scale>
void ColorConverter::Run(const std::uint8_t* yRow, const std::uint8_t* cbRow, const std::uint8_t* crRow,
                         int x0, int x1, std::uint8_t* out, int outX, int outY) const {
    const std::uint8_t* clip = clip_ + 384;
    int x = x0;
    if constexpr (Scale == 1 && (Bpp == 32 || Bpp == 24)) {
        const int n = VectorRun(Bpp, yRow, cbRow, crRow, x0, x1, out);
        x += n;
        out += n * (Bpp / 8);
    }
    for (; x < x1; ++x) {
        const int yy = yTab_[yRow[x]];
        const int cb = cbRow[x >> 1], cr = crRow[x >> 1];
        int r = (yy + rCr_[cr]) >> 6, g = (yy + gCb_[cb] + gCr_[cr]) >> 6, b = (yy + bCb_[cb]) >> 6;
        r = std::clamp(r, -384, 639);
        g = std::clamp(g, -384, 639);
        b = std::clamp(b, -384, 639);
        for (int k = 0; k < Scale; ++k) {
            if constexpr (Bpp == 32) {
                out[0] = clip[b];
                out[1] = clip[g];
                out[2] = clip[r];
                out[3] = 0;
                out += 4;
            } else if constexpr (Bpp == 24) {
                out[0] = clip[b];
                out[1] = clip[g];
                out[2] = clip[r];
                out += 3;
            } else if constexpr (Bpp == 16) {
                std::uint16_t v = static_cast<std::uint16_t>(((clip[r] >> 3) << 10) | ((clip[g] >> 3) << 5) |
                                                             (clip[b] >> 3));
                std::memcpy(out, &v, 2);
                out += 2;
            } else {
                const int d = ditherRow_[outY & 3][(outX + (x - x0) * Scale + k) & 3];
                *out++ = palette_.Lookup(r + d, g + d, b + d);
            }
        }
    }
}

void ColorConverter::WriteRun(int bpp, int scale, const std::uint8_t* yRow, const std::uint8_t* cbRow,
                              const std::uint8_t* crRow, int x0, int x1, std::uint8_t* out, int outX,
                              int outY) const {
    if (scale == 1) {
        switch (bpp) {
        case 32:
            return Run<32, 1>(yRow, cbRow, crRow, x0, x1, out, outX, outY);
        case 24:
            return Run<24, 1>(yRow, cbRow, crRow, x0, x1, out, outX, outY);
        case 16:
            return Run<16, 1>(yRow, cbRow, crRow, x0, x1, out, outX, outY);
        default:
            return Run<8, 1>(yRow, cbRow, crRow, x0, x1, out, outX, outY);
        }
    }
    switch (bpp) {
    case 32:
        return Run<32, 2>(yRow, cbRow, crRow, x0, x1, out, outX, outY);
    case 24:
        return Run<24, 2>(yRow, cbRow, crRow, x0, x1, out, outX, outY);
    case 16:
        return Run<16, 2>(yRow, cbRow, crRow, x0, x1, out, outX, outY);
    default:
        return Run<8, 2>(yRow, cbRow, crRow, x0, x1, out, outX, outY);
    }
}

void ColorConverter::FillRun(int bpp, int count, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                             std::uint8_t* out, int outX, int outY) const {
    for (int i = 0; i < count; ++i) {
        switch (bpp) {
        case 32:
            out[0] = b, out[1] = g, out[2] = r, out[3] = 0;
            out += 4;
            break;
        case 24:
            out[0] = b, out[1] = g, out[2] = r;
            out += 3;
            break;
        case 16: {
            std::uint16_t v = static_cast<std::uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
            std::memcpy(out, &v, 2);
            out += 2;
            break;
        }
        default: {
            const int d = ditherRow_[outY & 3][(outX + i) & 3];
            *out++ = palette_.Lookup(r + d, g + d, b + d);
        }
        }
    }
}

void ColorConverter::Convert(const Decoder& dec, int x, int y, int w, int h, bool composite,
                             const OutputTarget& t, const std::uint32_t* changedAt, std::uint32_t since) {
    if (w <= 0 || h <= 0)
        return;
    const Picture& pic = dec.Display();
    const int bpp = t.bitCount;
    const int bytes = bpp / 8;
    const int s = t.scale;
    const bool masked = dec.Transparent();
    const std::uint8_t* key = dec.KeyColor();
    for (int py = y; py < y + h; ++py) {
        const int oy = py * s;
        std::uint8_t* row = t.topRow + oy * t.rowStep;
        const std::uint8_t* yRow = pic.y.data() + static_cast<std::size_t>(py) * pic.lumaWidth;
        const std::uint8_t* cbRow = pic.cb.data() + static_cast<std::size_t>(py >> 1) * pic.chromaWidth;
        const std::uint8_t* crRow = pic.cr.data() + static_cast<std::size_t>(py >> 1) * pic.chromaWidth;
        auto emit = [&](int x0, int x1, bool opaque) {
            std::uint8_t* out = row + static_cast<std::ptrdiff_t>(x0) * s * bytes;
            const int ox = x0 * s;
            const int dx = ox + t.ditherX, dy = oy + t.ditherY;
            if (opaque)
                WriteRun(bpp, s, yRow, cbRow, crRow, x0, x1, out, dx, dy);
            else
                FillRun(bpp, (x1 - x0) * s, key[0], key[1], key[2], out, dx, dy);
            if (s == 2 && !t.alternateLine) {
                std::uint8_t* below = out + t.rowStep;
                if (bpp == 8) // the second line gets its own dither phase
                    opaque ? WriteRun(bpp, s, yRow, cbRow, crRow, x0, x1, below, dx, dy + 1)
                           : FillRun(bpp, (x1 - x0) * s, key[0], key[1], key[2], below, dx, dy + 1);
                else
                    std::memcpy(below, out, static_cast<std::size_t>(x1 - x0) * s * bytes);
            }
        };
        auto span = [&](int sx0, int sx1) {
            if (!masked) {
                emit(sx0, sx1, true);
                return;
            }
            const std::uint8_t* m = dec.MaskRow(py);
            int start = sx0;
            while (start < sx1) {
                const bool opaque = m[start] != 0;
                int end = start + 1;
                while (end < sx1 && (m[end] != 0) == opaque)
                    ++end;
                if (opaque || !composite)
                    emit(start, end, opaque);
                start = end;
            }
        };
        if (changedAt == nullptr) {
            span(x, x + w);
            continue;
        }
        // Runs of changed macroblocks along this row.
        const std::uint32_t* row16 =
            changedAt + static_cast<std::size_t>(py >> 4) * dec.MacroblockColumnCount();
        const int mbEnd = (x + w + 15) >> 4;
        for (int mb = x >> 4; mb < mbEnd;) {
            if (row16[mb] <= since) {
                ++mb;
                continue;
            }
            int last = mb;
            while (last + 1 < mbEnd && row16[last + 1] > since)
                ++last;
            span(std::max(x, mb * 16), std::min(x + w, (last + 1) * 16));
            mb = last + 1;
        }
    }
}

void ColorConverter::FillGrey(int w, int h, const OutputTarget& t) {
    const int v = std::clamp(yTab_[128] >> 6, 0, 255);
    const std::uint8_t g = static_cast<std::uint8_t>(v);
    for (int oy = 0; oy < h * t.scale; ++oy) {
        if (t.scale == 2 && t.alternateLine && (oy & 1))
            continue;
        FillRun(t.bitCount, w * t.scale, g, g, g, t.topRow + oy * t.rowStep, t.ditherX, t.ditherY + oy);
    }
}

} // namespace qx47
