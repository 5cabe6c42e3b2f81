#include "codecs/common/FrameConverter.h"

#include <cstring>

namespace {

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

// Expands one source row to blue, green, red bytes.
void ToBgr24(const std::uint8_t* src, SourceLayout layout, const RGBQUAD* colors, int width,
             std::uint8_t* out) {
    switch (layout) {
    case SourceLayout::Bgr24:
        std::memcpy(out, src, static_cast<std::size_t>(width) * 3);
        return;
    case SourceLayout::Rgb24:
        for (int i = 0; i < width; ++i, src += 3, out += 3) {
            out[0] = src[2];
            out[1] = src[1];
            out[2] = src[0];
        }
        return;
    case SourceLayout::Bgrx32:
        for (int i = 0; i < width; ++i, src += 4, out += 3) {
            out[0] = src[0];
            out[1] = src[1];
            out[2] = src[2];
        }
        return;
    case SourceLayout::Rgb555: {
        // One table load and one 4-byte store per pixel; the store's fourth
        // byte is overwritten by the next pixel, and the last pixel of the
        // row is written byte by byte so nothing lands past the row.
        const std::uint32_t* table = Rgb555Table();
        int i = 0;
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
        for (int i = 0; i < width; ++i, ++src, out += 3) {
            const RGBQUAD& q = colors[*src];
            out[0] = q.rgbBlue;
            out[1] = q.rgbGreen;
            out[2] = q.rgbRed;
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

bool FrameConverter::CanWriteFrame(LONG frameWidth, LONG frameHeight, WORD bitCount) {
    if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
        return false;
    if (frameWidth <= 0 || frameHeight == 0 || frameHeight == static_cast<LONG>(0x80000000))
        return false;
    std::size_t row = DibRowBytes(frameWidth, bitCount);
    std::uint64_t rows = frameHeight < 0 ? -static_cast<std::int64_t>(frameHeight) : frameHeight;
    return row != 0 && row * rows <= 0x7fffffffu;
}

bool FrameConverter::FitsInFrame(const FrameTarget& target, int width, int height) {
    if (!CanWriteFrame(target.frameWidth, target.frameHeight, target.bitCount))
        return false;
    std::int64_t frameRows =
        target.frameHeight < 0 ? -static_cast<std::int64_t>(target.frameHeight) : target.frameHeight;
    return width > 0 && height > 0 && target.x >= 0 && target.y >= 0 &&
           static_cast<std::int64_t>(target.x) + width <= target.frameWidth &&
           static_cast<std::int64_t>(target.y) + height <= frameRows;
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
    const std::size_t rowBytes = DibRowBytes(target.frameWidth, target.bitCount);
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
            ToBgr24(src, picture.layout, picture.colors, width, dst); // straight into the frame
            continue;
        }
        const std::uint8_t* bgr = src;
        if (picture.layout != SourceLayout::Bgr24) {
            ToBgr24(src, picture.layout, picture.colors, width, row_.data());
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
