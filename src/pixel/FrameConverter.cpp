#include "pixel/FrameConverter.h"

#include "pixel/CpuFeatures.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CADMO_PIXEL_X86 1
#endif

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

#if CADMO_PIXEL_X86
// Both shuffles below take the first three bytes of each 32-bit pixel and
// close the gaps: four pixels make twelve bytes, the last four are zero.
__attribute__((target("ssse3"))) inline __m128i PackFour(__m128i bgrx) {
    return _mm_shuffle_epi8(bgrx, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
}

// Eight pixels of blue, green, red, unused bytes (two vectors of four) as
// exactly 24 bytes at `out`.
__attribute__((target("ssse3"))) inline void StoreEight(__m128i lo, __m128i hi, std::uint8_t* out) {
    lo = PackFour(lo);
    hi = PackFour(hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(lo, _mm_slli_si128(hi, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_srli_si128(hi, 4));
}

// The row loops below convert eight (or five) pixels a step and leave the
// rest of the row to the plain code; they return how many pixels they did.
// None reads or writes a byte outside the row's own pixels.

__attribute__((target("ssse3"))) int SwapRgb24Ssse3(const std::uint8_t* src, int width, std::uint8_t* out) {
    // Sixteen bytes in and out per five pixels; the sixteenth byte out is
    // written again by the next step, so a step runs only while at least six
    // pixels remain.
    const __m128i swap = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    int i = 0;
    for (; i + 6 <= width; i += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(v, swap));
    }
    return i;
}

__attribute__((target("ssse3"))) int Bgrx32ToBgr24Ssse3(const std::uint8_t* src, int width,
                                                        std::uint8_t* out) {
    int i = 0;
    for (; i + 8 <= width; i += 8) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i + 16));
        StoreEight(lo, hi, out + 3 * i);
    }
    return i;
}

__attribute__((target("ssse3"))) int Rgb555ToBgr24Ssse3(const std::uint8_t* src, int width,
                                                        std::uint8_t* out) {
    int i = 0;
    for (; i + 8 <= width; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * i));
        // Each channel's five bits c repeated into the low bits is
        // (c * 33) >> 2; with the field moved to the top of the word or left
        // in place, one high-half multiply does the shift and the repeat.
        const __m128i b = _mm_mulhi_epu16(_mm_slli_epi16(v, 11), _mm_set1_epi16(33 << 3));
        const __m128i g = _mm_mulhi_epu16(_mm_and_si128(v, _mm_set1_epi16(0x03e0)), _mm_set1_epi16(33 << 9));
        const __m128i r = _mm_mulhi_epu16(_mm_and_si128(v, _mm_set1_epi16(0x7c00)), _mm_set1_epi16(33 << 4));
        const __m128i bg = _mm_or_si128(b, _mm_slli_epi16(g, 8));
        StoreEight(_mm_unpacklo_epi16(bg, r), _mm_unpackhi_epi16(bg, r), out + 3 * i);
    }
    return i;
}

// Four pixels a step: sixteen bytes are read for twelve, so a step runs only
// while at least six pixels remain, and no byte past the row is read.
__attribute__((target("ssse3"))) int Bgr24ToOpaque32Ssse3(const std::uint8_t* src, int width,
                                                          std::uint32_t* out) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    int i = 0;
    for (; i + 6 <= width; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_or_si128(_mm_shuffle_epi8(v, spread), opaque));
    }
    return i;
}
#endif

constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// Blue, green and red bytes (little-endian) of every 5-5-5 value: each
// channel's five bits repeated into the low bits, so 31 becomes 255.
const std::uint32_t* Rgb555Table() {
    static const auto table = [] {
        std::vector<std::uint32_t> t(32768);
        for (unsigned v = 0; v < 32768; ++v) {
            unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
            t[v] = ((b << 3) | (b >> 2)) | (((g << 3) | (g >> 2)) << 8) | (((r << 3) | (r >> 2)) << 16);
        }
        return t;
    }();
    return table.data();
}

// Four pixels of 0x00RRGGBB as twelve bytes of blue, green, red.
inline void StoreFour(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d, std::uint8_t* out) {
    const std::uint64_t first = a | (b << 24) | (c << 48);
    const auto rest = static_cast<std::uint32_t>((c >> 16) | (d << 8));
    std::memcpy(out, &first, 8);
    std::memcpy(out + 8, &rest, 4);
}

// Expands one source row to blue, green, red bytes. `colors` holds a Pal8
// picture's colours as 0x00RRGGBB.
void ToBgr24(const std::uint8_t* src, SourceLayout layout, const std::uint32_t* colors, int width,
             std::uint8_t* out) {
    [[maybe_unused]] int done = 0;
    switch (layout) {
    case SourceLayout::Bgr24:
        std::memcpy(out, src, static_cast<std::size_t>(width) * 3);
        return;
    case SourceLayout::Rgb24:
#if CADMO_PIXEL_X86
        if (Cpu().ssse3) {
            done = SwapRgb24Ssse3(src, width, out);
            src += 3 * done;
            out += 3 * done;
        }
#endif
        for (int i = done; i < width; ++i, src += 3, out += 3) {
            out[0] = src[2];
            out[1] = src[1];
            out[2] = src[0];
        }
        return;
    case SourceLayout::Bgrx32:
#if CADMO_PIXEL_X86
        if (Cpu().ssse3) {
            done = Bgrx32ToBgr24Ssse3(src, width, out);
            src += 4 * done;
            out += 3 * done;
        }
#endif
        for (int i = done; i < width; ++i, src += 4, out += 3) {
            out[0] = src[0];
            out[1] = src[1];
            out[2] = src[2];
        }
        return;
    case SourceLayout::Rgb555: {
#if CADMO_PIXEL_X86
        if (Cpu().ssse3) {
            done = Rgb555ToBgr24Ssse3(src, width, out);
            src += 2 * done;
            out += 3 * done;
        }
#endif
        // One table load and one 4-byte store per pixel; the store's fourth
        // byte is overwritten by the next pixel, and the last pixel of the
        // row is written byte by byte so nothing lands past the row.
        const std::uint32_t* table = Rgb555Table();
        int i = done;
        for (; i + 1 < width; ++i, src += 2, out += 3) {
            std::uint32_t bgr = table[(src[0] | (src[1] << 8)) & 0x7fff];
            std::memcpy(out, &bgr, 4);
        }
        if (i < width) {
            std::uint32_t bgr = table[(src[0] | (src[1] << 8)) & 0x7fff];
            out[0] = static_cast<std::uint8_t>(bgr);
            out[1] = static_cast<std::uint8_t>(bgr >> 8);
            out[2] = static_cast<std::uint8_t>(bgr >> 16);
        }
        return;
    }
    case SourceLayout::Rgb565:
        for (int i = 0; i < width; ++i, src += 2, out += 3) {
            unsigned v = src[0] | (src[1] << 8);
            unsigned r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
            out[0] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
            out[1] = static_cast<std::uint8_t>((g << 2) | (g >> 4));
            out[2] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
        }
        return;
    case SourceLayout::Pal8:
        // Four table loads and two stores per four pixels.
        if constexpr (kLittleEndian)
            for (; done + 4 <= width; done += 4, src += 4, out += 12)
                StoreFour(colors[src[0]], colors[src[1]], colors[src[2]], colors[src[3]], out);
        for (int i = done; i < width; ++i, ++src, out += 3) {
            const std::uint32_t v = colors[*src];
            out[0] = static_cast<std::uint8_t>(v);
            out[1] = static_cast<std::uint8_t>(v >> 8);
            out[2] = static_cast<std::uint8_t>(v >> 16);
        }
        return;
    }
}

void Bgr24To555(const std::uint8_t* in, int width, std::uint8_t* out) {
    for (int i = 0; i < width; ++i, in += 3, out += 2) {
        unsigned v = ((in[2] >> 3) << 10) | ((in[1] >> 3) << 5) | (in[0] >> 3);
        out[0] = static_cast<std::uint8_t>(v);
        out[1] = static_cast<std::uint8_t>(v >> 8);
    }
}

void Bgr24To32(const std::uint8_t* in, int width, std::uint8_t* out) {
    for (int i = 0; i < width; ++i, in += 3, out += 4) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = 0;
    }
}

// `frameX` and `frameRow` place the row on the frame's pixel grid, so the
// dither pattern stays put when the picture moves inside the frame.
void Bgr24To8(const std::uint8_t* in, int width, int frameX, int frameRow, const DitherPalette& palette,
              std::uint8_t* out) {
    const int* bayer = kBayer[frameRow & 3];
    if (palette.IsDefault()) {
        // The default palette's 6 x 6 x 6 cube is a uniform grid, so each
        // channel is dithered to its six levels directly: level =
        // floor((v * 5 + t) / 255) with the sixteen thresholds t spread
        // evenly over one step. Averaged over the matrix this gives back v
        // within 1/32 of a step, which a nearest-colour search cannot.
        constexpr int kScale = 255 * 32;
        for (int i = 0; i < width; ++i, in += 3) {
            const int t = (2 * bayer[(frameX + i) & 3] + 1) * 255;
            const int b = (in[0] * 160 + t) / kScale;
            const int g = (in[1] * 160 + t) / kScale;
            const int r = (in[2] * 160 + t) / kScale;
            out[i] = static_cast<std::uint8_t>(10 + r * 36 + g * 6 + b);
        }
        return;
    }
    // Any other palette: spread the colour by about one palette spacing and
    // take the nearest entry from the lookup table.
    const int amplitude = palette.DitherAmplitude();
    int offsets[4];
    for (int i = 0; i < 4; ++i)
        offsets[i] = ((2 * bayer[i] + 1 - 16) * amplitude) / 32;
    for (int i = 0; i < width; ++i, in += 3) {
        int d = offsets[(frameX + i) & 3];
        out[i] = palette.Lookup(in[2] + d, in[1] + d, in[0] + d);
    }
}

} // namespace

void FrameConverter::Bgr24ToOpaque32(const std::uint8_t* src, int width, std::uint32_t* out) {
    int i = 0;
#if CADMO_PIXEL_X86
    if (kLittleEndian && Cpu().ssse3)
        i = Bgr24ToOpaque32Ssse3(src, width, out);
#endif
    for (; i < width; ++i)
        out[i] = 0xff000000u | static_cast<std::uint32_t>(src[3 * i + 2]) << 16 |
                 static_cast<std::uint32_t>(src[3 * i + 1]) << 8 | src[3 * i];
}

bool FrameConverter::FitsInFrame(const FrameTarget& target, int width, int height) {
    if (!CanWriteFrame(target.frameWidth, target.frameHeight, target.bitCount))
        return false;
    const std::int64_t frameRows = DibRows(target.frameHeight);
    return width > 0 && height > 0 && target.x >= 0 && target.y >= 0 &&
           static_cast<std::int64_t>(target.x) + width <= target.frameWidth &&
           static_cast<std::int64_t>(target.y) + height <= frameRows;
}

std::uint8_t* FrameConverter::PictureTop(const FrameTarget& target, int height, std::ptrdiff_t* step) {
    const auto rowBytes = static_cast<std::ptrdiff_t>(DibStride(target.frameWidth, target.bitCount));
    const bool bottomUp = target.frameHeight > 0;
    const std::ptrdiff_t top = bottomUp ? static_cast<std::ptrdiff_t>(target.y) + height - 1 : target.y;
    *step = bottomUp ? -rowBytes : rowBytes;
    return target.bits + rowBytes * top + static_cast<std::ptrdiff_t>(target.x) * (target.bitCount / 8);
}

const std::uint8_t* FrameConverter::IndexMap(const RGBQUAD* colors, const DitherPalette& palette) {
    const std::size_t bytes = 256 * sizeof(RGBQUAD);
    if (mapValid_ && std::memcmp(mapSource_.data(), colors, bytes) == 0 &&
        std::memcmp(mapPalette_.data(), palette.Colors().data(), bytes) == 0)
        return map_.data();
    std::memcpy(mapSource_.data(), colors, bytes);
    mapPalette_ = palette.Colors();
    for (int i = 0; i < 256; ++i)
        map_[i] = palette.Nearest(colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue);
    mapValid_ = true;
    return map_.data();
}

bool FrameConverter::Convert(const PixelPicture& picture, const FrameTarget& target,
                             const DitherPalette* palette) {
    if (picture.data == nullptr || target.bits == nullptr ||
        !FitsInFrame(target, picture.width, picture.height))
        return false;
    if (picture.layout == SourceLayout::Pal8 && picture.colors == nullptr)
        return false;
    const int width = picture.width;
    // The frame was checked above, so its stride is a positive count.
    const auto rowBytes = static_cast<std::size_t>(DibStride(target.frameWidth, target.bitCount));
    const int dstPixelBytes = target.bitCount / 8;
    const bool bottomUp = target.frameHeight > 0;

    if (target.bitCount == 8 && palette == nullptr) {
        // Built once, thread-safely, on first use and never changed after.
        static const DitherPalette shared;
        palette = &shared;
    }

    const bool direct = (picture.layout == SourceLayout::Bgr24 && target.bitCount == 24) ||
                        (picture.layout == SourceLayout::Bgrx32 && target.bitCount == 32) ||
                        (picture.layout == SourceLayout::Rgb555 && target.bitCount == 16);
    const std::size_t needed = static_cast<std::size_t>(width) * 3;
    if (!direct && picture.layout != SourceLayout::Bgr24 && row_.size() < needed)
        row_.resize(needed);

    const std::uint8_t* indexMap = nullptr;
    if (picture.layout == SourceLayout::Pal8 && target.bitCount == 8)
        indexMap = IndexMap(picture.colors, *palette);
    else if (picture.layout == SourceLayout::Pal8)
        for (int i = 0; i < 256; ++i)
            colorWords_[static_cast<std::size_t>(i)] =
                picture.colors[i].rgbBlue | (static_cast<std::uint32_t>(picture.colors[i].rgbGreen) << 8) |
                (static_cast<std::uint32_t>(picture.colors[i].rgbRed) << 16);

    for (int i = 0; i < picture.height; ++i) {
        const std::uint8_t* src = picture.data + picture.stride * i;
        const int frameRow = bottomUp ? target.y + (picture.height - 1 - i) : target.y + i;
        std::uint8_t* dst = target.bits + rowBytes * static_cast<std::size_t>(frameRow) +
                            static_cast<std::size_t>(target.x) * dstPixelBytes;
        if (indexMap != nullptr) {
            for (int k = 0; k < width; ++k)
                dst[k] = indexMap[src[k]];
            continue;
        }
        if (direct) {
            std::memcpy(dst, src, static_cast<std::size_t>(width) * dstPixelBytes);
            if (picture.layout == SourceLayout::Rgb555) // the unused top bit may be set in the source
                for (int k = 1; k < 2 * width; k += 2)
                    dst[k] &= 0x7f;
            continue;
        }
        if (target.bitCount == 24) {
            ToBgr24(src, picture.layout, colorWords_.data(), width, dst); // straight into the frame
            continue;
        }
        const std::uint8_t* bgr = src;
        if (picture.layout != SourceLayout::Bgr24) {
            ToBgr24(src, picture.layout, colorWords_.data(), width, row_.data());
            bgr = row_.data();
        }
        switch (target.bitCount) {
        case 8:
            Bgr24To8(bgr, width, target.x, frameRow, *palette, dst);
            break;
        case 16:
            Bgr24To555(bgr, width, dst);
            break;
        case 32:
            Bgr24To32(bgr, width, dst);
            break;
        }
    }
    return true;
}
