#include "codecs/qx47/ColorConverter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include <immintrin.h>

#include "codecs/qx47/Decoder.h"
#include "pixel/CpuFeatures.h"

namespace qx47 {

namespace {

constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

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

// Byte shuffles that interleave sixteen B, G and R values into 48 bytes of
// B, G, R: output vector o takes, at byte p, pixel (16 o + p) / 3 of channel
// (16 o + p) % 3; the other channels' shuffles put zeros there.
struct Interleave24 {
    alignas(16) std::int8_t mask[3][3][16]; // [output vector][channel][byte]
    Interleave24() {
        for (int o = 0; o < 3; ++o)
            for (int c = 0; c < 3; ++c)
                for (int p = 0; p < 16; ++p) {
                    const int j = 16 * o + p;
                    mask[o][c][p] = static_cast<std::int8_t>(j % 3 == c ? j / 3 : -1);
                }
    }
};
const Interleave24 kInterleave24;

// Exactly 48 bytes of B, G, R: three full stores, nothing beyond the run.
__attribute__((target("ssse3"))) inline void Store24(const Bgr16& p, std::uint8_t* out) {
    const __m128i channel[3] = {p.b, p.g, p.r};
    for (int o = 0; o < 3; ++o) {
        __m128i v = _mm_setzero_si128();
        for (int c = 0; c < 3; ++c)
            v = _mm_or_si128(v, _mm_shuffle_epi8(channel[c], _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                                 kInterleave24.mask[o][c]))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * o), v);
    }
}

// The 256-bit vector path keeps each 128-bit half's sixteen pixels as the
// eight even ones, then the eight odd ones: a pair of pixels then shares the
// same chroma lane, which saves repeating each chroma term, and the stores
// put the pixels back in order as part of their own shuffles.

// The chroma terms of Convert16, [B, G, R], from Cb and Cr samples less 128,
// one per 16-bit lane: sixteen samples for 32 pixels of a row, or eight in
// both halves for 16 pixels of two rows. Two luma rows share them.
struct Chroma32 {
    __m256i t[3];
};

// The conversion's factors in every 16-bit lane, made once per run so that
// they stay in registers.
struct Factors256 {
    __m256i y, offset, r, gb, gr, b;
};

__attribute__((target("avx2"))) inline Factors256 MakeFactors(const int k[6]) {
    return Factors256{
        _mm256_set1_epi16(static_cast<short>(k[0])), _mm256_set1_epi16(static_cast<short>(k[1])),
        _mm256_set1_epi16(static_cast<short>(k[2])), _mm256_set1_epi16(static_cast<short>(k[3])),
        _mm256_set1_epi16(static_cast<short>(k[4])), _mm256_set1_epi16(static_cast<short>(k[5]))};
}

__attribute__((target("avx2"))) inline Chroma32 ChromaTerms(__m256i cbd, __m256i crd, const Factors256& f) {
    return Chroma32{{_mm256_mullo_epi16(cbd, f.b),
                     _mm256_add_epi16(_mm256_mullo_epi16(cbd, f.gb), _mm256_mullo_epi16(crd, f.gr)),
                     _mm256_mullo_epi16(crd, f.r)}};
}

__attribute__((target("avx2"))) inline Chroma32 ChromaTerms32(const std::uint8_t* cb, const std::uint8_t* cr,
                                                              const Factors256& f) {
    const __m256i c128 = _mm256_set1_epi16(128);
    return ChromaTerms(
        _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb))), c128),
        _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr))), c128),
        f);
}

// Eight samples less 128 in both halves.
__attribute__((target("avx2"))) inline __m256i Chroma8(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    const __m256i d = _mm256_broadcastsi128_si256(_mm_cvtsi64_si128(static_cast<long long>(v)));
    return _mm256_sub_epi16(_mm256_unpacklo_epi8(d, _mm256_setzero_si256()), _mm256_set1_epi16(128));
}

__attribute__((target("avx2"))) inline Chroma32 ChromaTerms16(const std::uint8_t* cb, const std::uint8_t* cr,
                                                              const Factors256& f) {
    return ChromaTerms(Chroma8(cb), Chroma8(cr), f);
}

// Thirty-two pixels with the arithmetic of Convert16, from luma bytes `yv`:
// B, G, R vectors of bytes, each 128-bit half even pixels then odd ones.
__attribute__((target("avx2"))) inline void Luma32(__m256i yv, const Chroma32& c, const Factors256& f,
                                                   __m256i bgr[3]) {
    const __m256i even =
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_and_si256(yv, _mm256_set1_epi16(0xFF)), f.y), f.offset);
    const __m256i odd = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(yv, 8), f.y), f.offset);
    for (int i = 0; i < 3; ++i) {
        const __m256i e = _mm256_srai_epi16(_mm256_adds_epi16(even, c.t[i]), 6);
        const __m256i o = _mm256_srai_epi16(_mm256_adds_epi16(odd, c.t[i]), 6);
        bgr[i] = _mm256_packus_epi16(e, o);
    }
}

// Sixteen B, G, R values become 48 bytes with one byte shuffle per channel
// and masked merges: rotating channel c puts at byte p the value that output
// vector o needs there, for the one o whose byte 16 o + p belongs to c; the
// masks then pick each output byte from its channel. Both 128-bit halves of a
// vector use the same tables.
struct Interleave24Rotated {
    alignas(32) std::int8_t rotate[3][32];  // [channel][byte]
    alignas(32) std::int8_t keep[3][3][32]; // [output vector][channel][byte]: all ones where taken
    Interleave24Rotated() {
        for (int p = 0; p < 32; ++p) {
            const int q = p % 16;
            for (int o = 0; o < 3; ++o) {
                const int j = 16 * o + q, pixel = j / 3;
                rotate[j % 3][p] = static_cast<std::int8_t>((pixel & 1) * 8 + pixel / 2);
                for (int c = 0; c < 3; ++c)
                    keep[o][c][p] = static_cast<std::int8_t>(j % 3 == c ? -1 : 0);
            }
        }
    }
};
const Interleave24Rotated kInterleave24Rotated;

// Exactly 48 bytes of B, G, R for the sixteen pixels of each 128-bit half,
// those of the lower half at `lo`, of the upper one at `hi`.
__attribute__((target("avx2"))) inline void Store24x2(const __m256i bgr[3], std::uint8_t* lo,
                                                      std::uint8_t* hi) {
    __m256i rotated[3];
    for (int c = 0; c < 3; ++c)
        rotated[c] = _mm256_shuffle_epi8(
            bgr[c], _mm256_load_si256(reinterpret_cast<const __m256i*>(kInterleave24Rotated.rotate[c])));
    // Stored as halves, which beats joining the halves first.
    for (int o = 0; o < 3; ++o) {
        __m256i v = _mm256_setzero_si256();
        for (int c = 0; c < 3; ++c)
            v = _mm256_or_si256(
                v, _mm256_and_si256(rotated[c], _mm256_load_si256(reinterpret_cast<const __m256i*>(
                                                    kInterleave24Rotated.keep[o][c]))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lo + 16 * o), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hi + 16 * o), _mm256_extracti128_si256(v, 1));
    }
}

// The same for 64 bytes of B, G, R, 0: the even and the odd pixels become
// four-byte pixels apart, then pairs of them are interleaved.
__attribute__((target("avx2"))) inline void Store32x2(const __m256i bgr[3], std::uint8_t* lo,
                                                      std::uint8_t* hi) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bg0 = _mm256_unpacklo_epi8(bgr[0], bgr[1]), bg1 = _mm256_unpackhi_epi8(bgr[0], bgr[1]);
    const __m256i r0 = _mm256_unpacklo_epi8(bgr[2], zero), r1 = _mm256_unpackhi_epi8(bgr[2], zero);
    const __m256i even0 = _mm256_unpacklo_epi16(bg0, r0), even1 = _mm256_unpackhi_epi16(bg0, r0);
    const __m256i odd0 = _mm256_unpacklo_epi16(bg1, r1), odd1 = _mm256_unpackhi_epi16(bg1, r1);
    const __m256i v[4] = {_mm256_unpacklo_epi32(even0, odd0), _mm256_unpackhi_epi32(even0, odd0),
                          _mm256_unpacklo_epi32(even1, odd1), _mm256_unpackhi_epi32(even1, odd1)};
    for (int i = 0; i < 4; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lo + 16 * i), _mm256_castsi256_si128(v[i]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hi + 16 * i), _mm256_extracti128_si256(v[i], 1));
    }
}

template <int Bpp>
__attribute__((target("avx2"))) inline void StoreHalves(const __m256i bgr[3], std::uint8_t* lo,
                                                        std::uint8_t* hi) {
    if constexpr (Bpp == 32)
        Store32x2(bgr, lo, hi);
    else
        Store24x2(bgr, lo, hi);
}

// Thirty-two pixels from an even x of one row, or of two rows that share a
// chroma row, to `at` bytes into `out0` and `out1`.
template <int Bpp>
__attribute__((target("avx2"))) inline void Piece32(const std::uint8_t* y0Row, const std::uint8_t* y1Row,
                                                    const std::uint8_t* cbRow, const std::uint8_t* crRow,
                                                    int x, std::uint8_t* out0, std::uint8_t* out1,
                                                    std::ptrdiff_t at, const Factors256& f) {
    constexpr int half = 16 * Bpp / 8;
    const Chroma32 c = ChromaTerms32(cbRow + (x >> 1), crRow + (x >> 1), f);
    __m256i bgr[3];
    Luma32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y0Row + x)), c, f, bgr);
    StoreHalves<Bpp>(bgr, out0 + at, out0 + at + half);
    if (y1Row) {
        Luma32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y1Row + x)), c, f, bgr);
        StoreHalves<Bpp>(bgr, out1 + at, out1 + at + half);
    }
}

// One row (`y1Row` null) or two rows that share a chroma row, from an even
// x0: 32 pixels at a time, the last piece of a run of 32 or more as the 32
// pixels that end it (rewriting a few with the same values), else 16 at a
// time, the two rows' 16 in one vector. Returns how many pixels of each row
// it wrote.
template <int Bpp>
__attribute__((target("avx2"))) int Avx2Rows(const std::uint8_t* y0Row, const std::uint8_t* y1Row,
                                             const std::uint8_t* cbRow, const std::uint8_t* crRow, int x0,
                                             int x1, std::uint8_t* out0, std::uint8_t* out1, const int k[6]) {
    constexpr int bytes = Bpp / 8;
    const Factors256 f = MakeFactors(k);
    int x = x0;
    auto at = [&](int px) { return static_cast<std::ptrdiff_t>(px - x0) * bytes; };
    for (; x + 32 <= x1; x += 32)
        Piece32<Bpp>(y0Row, y1Row, cbRow, crRow, x, out0, out1, at(x), f);
    // The last piece overlaps the one before it, when that keeps the chroma
    // of its pixel pairs aligned.
    if (x < x1 && x > x0 && !((x1 - 32) & 1)) {
        Piece32<Bpp>(y0Row, y1Row, cbRow, crRow, x1 - 32, out0, out1, at(x1 - 32), f);
        return x1 - x0;
    }
    for (; y1Row && x + 16 <= x1; x += 16) {
        const __m256i yv = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y0Row + x))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(y1Row + x)), 1);
        __m256i bgr[3];
        Luma32(yv, ChromaTerms16(cbRow + (x >> 1), crRow + (x >> 1), f), f, bgr);
        StoreHalves<Bpp>(bgr, out0 + at(x), out1 + at(x));
    }
    for (; x + 16 <= x1; x += 16) {
        const Bgr16 p =
            Convert16(y0Row + x, cbRow + (x >> 1), crRow + (x >> 1), k[0], k[1], k[2], k[3], k[4], k[5]);
        std::uint8_t* o = out0 + at(x);
        if constexpr (Bpp == 32)
            Store32(p, o);
        else
            Store24(p, o);
    }
    return x - x0;
}

} // namespace

// Native 24- and 32-bit runs, 32 or 16 pixels at a time from an even x, of
// one row or (`y1Row` not null) of two rows that share a chroma row; returns
// how many pixels of each row it wrote (the caller finishes the rest).
int ColorConverter::VectorRun(int bpp, const std::uint8_t* y0Row, const std::uint8_t* y1Row,
                              const std::uint8_t* cbRow, const std::uint8_t* crRow, int x0, int x1,
                              std::uint8_t* out0, std::uint8_t* out1) const {
    if ((x0 & 1) || x1 - x0 < 16 || (bpp == 24 && !Cpu().ssse3))
        return 0;
    const int k[6] = {kY_, kOffset_, kR_, kGb_, kGr_, kB_};
    if (Cpu().avx2)
        return bpp == 32 ? Avx2Rows<32>(y0Row, y1Row, cbRow, crRow, x0, x1, out0, out1, k)
                         : Avx2Rows<24>(y0Row, y1Row, cbRow, crRow, x0, x1, out0, out1, k);
    int x = x0;
    const int bytes = bpp / 8;
    for (; x + 16 <= x1; x += 16) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(x - x0) * bytes;
        for (int row = 0; row < (y1Row ? 2 : 1); ++row) {
            const Bgr16 p = Convert16((row ? y1Row : y0Row) + x, cbRow + (x >> 1), crRow + (x >> 1), kY_,
                                      kOffset_, kR_, kGb_, kGr_, kB_);
            if (bpp == 32)
                Store32(p, (row ? out1 : out0) + at);
            else
                Store24(p, (row ? out1 : out0) + at);
        }
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
        const int n = VectorRun(Bpp, yRow, nullptr, cbRow, crRow, x0, x1, out, nullptr);
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
    int spanRow = -1;
    std::vector<std::pair<int, int>>& spans = spans_;
    // Native 24- and 32-bit output goes two rows at a time where they share
    // a chroma row, which then is read and weighted once for both.
    const bool pairs = s == 1 && !masked && (bpp == 24 || bpp == 32);
    const bool avx2 = pairs && Cpu().avx2;
    const int k[6] = {kY_, kOffset_, kR_, kGb_, kGr_, kB_};
    for (int py = y; py < y + h; ++py) {
        const int oy = py * s;
        std::uint8_t* row = t.topRow + oy * t.rowStep;
        const std::uint8_t* yRow = pic.y.data() + static_cast<std::size_t>(py) * pic.lumaWidth;
        const std::uint8_t* cbRow = pic.cb.data() + static_cast<std::size_t>(py >> 1) * pic.chromaWidth;
        const std::uint8_t* crRow = pic.cr.data() + static_cast<std::size_t>(py >> 1) * pic.chromaWidth;
        const bool pair = pairs && !(py & 1) && py + 1 < y + h;
        auto emitPair = [&](int x0, int x1) {
            const std::uint8_t* yBelow = yRow + pic.lumaWidth;
            std::uint8_t* out = row + static_cast<std::ptrdiff_t>(x0) * bytes;
            std::uint8_t* below = out + t.rowStep;
            // With AVX2, straight to the vector loop: this runs for every
            // changed run of every row pair.
            int n = 0;
            if (!avx2)
                n = VectorRun(bpp, yRow, yBelow, cbRow, crRow, x0, x1, out, below);
            else if (!(x0 & 1))
                n = bpp == 24 ? Avx2Rows<24>(yRow, yBelow, cbRow, crRow, x0, x1, out, below, k)
                              : Avx2Rows<32>(yRow, yBelow, cbRow, crRow, x0, x1, out, below, k);
            if (x0 + n < x1) {
                const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(n) * bytes;
                WriteRun(bpp, 1, yRow, cbRow, crRow, x0 + n, x1, out + at, 0, 0);
                WriteRun(bpp, 1, yBelow, cbRow, crRow, x0 + n, x1, below + at, 0, 0);
            }
        };
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
            if (pair) {
                emitPair(sx0, sx1);
                return;
            }
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
            py += pair;
            continue;
        }
        // Runs of changed macroblocks along this row, found once for the
        // sixteen rows of a macroblock row.
        if ((py >> 4) != spanRow) {
            spanRow = py >> 4;
            spans.clear();
            const std::uint32_t* row16 =
                changedAt + static_cast<std::size_t>(spanRow) * dec.MacroblockColumnCount();
            const int mbEnd = (x + w + 15) >> 4;
            for (int mb = x >> 4; mb < mbEnd;) {
                if (row16[mb] <= since) {
                    ++mb;
                    continue;
                }
                int last = mb;
                while (last + 1 < mbEnd && row16[last + 1] > since)
                    ++last;
                spans.push_back({std::max(x, mb * 16), std::min(x + w, (last + 1) * 16)});
                mb = last + 1;
            }
        }
        for (const auto& [x0, x1] : spans)
            span(x0, x1);
        py += pair;
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
