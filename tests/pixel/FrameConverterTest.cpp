#include "pixel/FrameConverter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

namespace {

constexpr std::uint8_t kUntouched = 0xcd;

struct Frame {
    LONG width, height;
    WORD bitCount;
    std::vector<std::uint8_t> bits;

    Frame(LONG w, LONG h, WORD bpp) : width(w), height(h), bitCount(bpp) {
        bits.assign(static_cast<std::size_t>(DibStride(w, bpp)) * static_cast<std::size_t>(std::labs(h)),
                    kUntouched);
    }
    FrameTarget At(int x, int y) { return FrameTarget{bits.data(), width, height, bitCount, x, y}; }
    std::uint8_t* Pixel(int x, int memoryRow) {
        return bits.data() +
               static_cast<std::size_t>(DibStride(width, bitCount)) * static_cast<std::size_t>(memoryRow) +
               static_cast<std::size_t>(x) * bitCount / 8;
    }
};

PixelPicture Bgr(const std::vector<std::uint8_t>& data, int width, int height) {
    return PixelPicture{data.data(), width * 3, width, height, SourceLayout::Bgr24, nullptr};
}

// One pixel of each source layout at 24 bits, and 24-bit pixels out to 16
// and 32 bits, against values worked out by hand: 5- and 6-bit channels
// spread to 8 bits by repeating their top bits, so full intensity stays
// full; 8-bit channels cut to their top five, red highest, without
// rounding; the unused top bit of a 5-5-5 source never reaches the frame.
TEST(FrameConverter, ConvertsOnePixelOfEachLayoutToTheHandWorkedValues) {
    RGBQUAD colors[256] = {};
    colors[7] = RGBQUAD{1, 2, 3, 0};
    struct Case {
        SourceLayout layout;
        std::vector<std::uint8_t> source;
        WORD bitCount;
        std::vector<std::uint8_t> want;
    };
    const Case cases[] = {
        {SourceLayout::Bgr24, {0x07, 0x80, 0xff}, 16, {0x00, 0x7e}}, // red 31, green 16, blue 0
        {SourceLayout::Bgr24, {0x07, 0x80, 0xff}, 32, {0x07, 0x80, 0xff, 0}},
        {SourceLayout::Rgb24, {1, 2, 3}, 24, {3, 2, 1}},
        {SourceLayout::Bgrx32, {1, 2, 3, 4}, 24, {1, 2, 3}},
        {SourceLayout::Rgb555, {0x01, 0xfe}, 24, {8, 132, 255}}, // red 31, green 16, blue 1
        {SourceLayout::Rgb555, {0x01, 0xfe}, 16, {0x01, 0x7e}},
        {SourceLayout::Rgb565, {0x01, 0xfc}, 24, {8, 130, 255}}, // red 31, green 32, blue 1
        {SourceLayout::Pal8, {7}, 24, {1, 2, 3}},
    };
    FrameConverter converter;
    for (const Case& c : cases) {
        Frame frame(1, 1, c.bitCount);
        const int bytes = static_cast<int>(c.source.size());
        ASSERT_TRUE(converter.Convert(PixelPicture{c.source.data(), bytes, 1, 1, c.layout, colors},
                                      frame.At(0, 0), nullptr));
        EXPECT_EQ(std::vector<std::uint8_t>(frame.bits.begin(), frame.bits.begin() + c.bitCount / 8), c.want)
            << "layout " << static_cast<int>(c.layout) << " to " << c.bitCount << " bits";
    }
}

// Every layout at every width up to 40 (the vector paths take five or eight
// pixels a step and leave the rest to the plain code), in a rectangle of a
// larger frame of either row order: each pixel as one pixel at a time gives
// it, and nothing beyond the rectangle's own bytes written. Each source row is a buffer of
// exactly its length, so a read past it shows under the sanitizers.
TEST(FrameConverter, EveryLayoutAndWidthGivesThePixelsAndStaysInsideTheRectangle) {
    struct Layout {
        SourceLayout layout;
        int bytes;
    };
    const Layout layouts[] = {{SourceLayout::Rgb24, 3},  {SourceLayout::Bgrx32, 4}, {SourceLayout::Rgb555, 2},
                              {SourceLayout::Rgb565, 2}, {SourceLayout::Pal8, 1},   {SourceLayout::Bgr24, 3}};
    RGBQUAD colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = RGBQUAD{static_cast<BYTE>(i * 7), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 13),
                            static_cast<BYTE>(0xa5)};
    FrameConverter converter;
    unsigned seed = 12345;
    for (const Layout& l : layouts)
        for (int width = 1; width <= 40; ++width) {
            // A row of exactly its length, in a frame with room on all sides.
            const int x = 3, y = 1;
            std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * l.bytes);
            for (auto& b : row)
                b = static_cast<std::uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
            Frame frame(width + 6, width % 2 ? 4 : -4, 24);
            ASSERT_TRUE(
                converter.Convert(PixelPicture{row.data(), width * l.bytes, width, 1, l.layout, colors},
                                  frame.At(x, y), nullptr));
            for (int k = 0; k < width; ++k) {
                Frame one(1, 1, 24);
                ASSERT_TRUE(converter.Convert(PixelPicture{&row[static_cast<std::size_t>(k) * l.bytes],
                                                           l.bytes, 1, 1, l.layout, colors},
                                              one.At(0, 0), nullptr));
                ASSERT_EQ(std::memcmp(frame.Pixel(x + k, y), one.bits.data(), 3), 0)
                    << "layout " << static_cast<int>(l.layout) << " width " << width << " pixel " << k;
            }
            std::fill_n(frame.Pixel(x, y), 3 * width, kUntouched);
            ASSERT_EQ(std::count(frame.bits.begin(), frame.bits.end(), kUntouched), std::ssize(frame.bits))
                << "layout " << static_cast<int>(l.layout) << " width " << width;
        }
}

TEST(FrameConverter, RefusesWithoutWritingWhenThePictureDoesNotFit) {
    Frame frame(4, 4, 24);
    const std::vector<std::uint8_t> data(3 * 2 * 3);
    FrameConverter converter;
    EXPECT_FALSE(converter.Convert(Bgr(data, 3, 2), frame.At(2, 0), nullptr)); // one column too far right
    EXPECT_FALSE(converter.Convert(Bgr(data, 3, 2), frame.At(0, 3), nullptr)); // one row too high
    EXPECT_FALSE(converter.Convert(Bgr(data, 3, 2), frame.At(-1, 0), nullptr));
    EXPECT_FALSE(converter.Convert(Bgr(data, 3, 2), frame.At(0x7fffffff, 0), nullptr));
    EXPECT_EQ(std::count(frame.bits.begin(), frame.bits.end(), kUntouched), std::ssize(frame.bits));

    // 15 bits and an empty width are refused in the decode request tests.
    EXPECT_FALSE(CanWriteFrame(100000, 100000, 32)); // 40 GB
    EXPECT_FALSE(CanWriteFrame(4, static_cast<LONG>(0x80000000), 24));
    EXPECT_TRUE(CanWriteFrame(4, -4, 8));
}

// The 8-bit picture of a smooth colour ramp: every pixel must be a palette
// colour near its source, and, because dithering trades pointwise error for
// correct local averages, each 4 x 4 block must average close to the source.
// Bounds: the default palette's cube steps by 51 per channel and the dither
// chooses one of the two levels around a value, so one pixel is never more
// than a step (51) away. The sixteen thresholds of a block average to the
// middle of a step, so for a flat block the mean is within 1/32 step (1.6
// levels) of the source's; the ramp here climbs 12 levels across a block,
// which pairs thresholds and values unevenly by up to another 4: 6 levels.
TEST(FrameConverter, DithersToNearPaletteColoursAndKeepsLocalAverages) {
    const int w = 64, h = 64;
    std::vector<std::uint8_t> src;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            src.insert(src.end(), {static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 4),
                                   static_cast<std::uint8_t>(128 + (x - y))});
    Frame frame(w, h, 8);
    FrameConverter converter;
    DitherPalette palette;
    ASSERT_TRUE(converter.Convert(Bgr(src, w, h), frame.At(0, 0), &palette));
    const auto& colors = palette.Colors();
    double worstBlock = 0;
    for (int by = 0; by < h; by += 4)
        for (int bx = 0; bx < w; bx += 4) {
            double sum[3] = {0, 0, 0}, want[3] = {0, 0, 0};
            for (int y = by; y < by + 4; ++y)
                for (int x = bx; x < bx + 4; ++x) {
                    const std::uint8_t* s = &src[(static_cast<std::size_t>(y) * w + x) * 3];
                    // Top-down source row y is memory row h - 1 - y.
                    const RGBQUAD& q = colors[*frame.Pixel(x, h - 1 - y)];
                    const int got[3] = {q.rgbBlue, q.rgbGreen, q.rgbRed};
                    for (int c = 0; c < 3; ++c) {
                        ASSERT_LE(std::abs(got[c] - s[c]), 51) << "pixel " << x << "," << y;
                        sum[c] += got[c];
                        want[c] += s[c];
                    }
                }
            for (int c = 0; c < 3; ++c)
                worstBlock = std::max(worstBlock, std::fabs(sum[c] - want[c]) / 16);
        }
    EXPECT_LE(worstBlock, 6.0);
}

// A grey midway between the palette's only two colours is made of both
// colours and nothing else.
TEST(FrameConverter, DitherFollowsThePalette) {
    std::vector<std::uint8_t> grey(16 * 3, 100);
    RGBQUAD colors[256];
    std::fill(std::begin(colors), std::end(colors), RGBQUAD{90, 90, 90, 0});
    colors[1] = RGBQUAD{110, 110, 110, 0};
    DitherPalette twoGreys;
    twoGreys.SetColors(colors, 256);
    Frame a(16, 1, 8);
    FrameConverter converter;
    ASSERT_TRUE(converter.Convert(Bgr(grey, 16, 1), a.At(0, 0), &twoGreys));
    EXPECT_EQ(std::set<std::uint8_t>(a.bits.begin(), a.bits.begin() + 16), (std::set<std::uint8_t>{0, 1}));
}

} // namespace
