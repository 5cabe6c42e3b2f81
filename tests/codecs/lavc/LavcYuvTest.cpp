// Our YUV converter against the scaler it stands in for. It must give the
// scaler's bytes for every layout, range and matrix it takes, at widths its
// steps do not fill. Through the driver, the frame tests compare its pictures
// with ffmpeg's, also where the scaler takes another path (an odd number of
// rows) and the driver must leave the picture to it. This test runs again
// with CADMO_CPU=sse2, where the plain code has to meet it.
#include "CodecTestUtil.h"

#include "pixel/YuvToBgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace cadmo::test {
namespace {

struct Size {
    int width;
    int height;
};

// Random planes laid out with rows padded to `align` bytes, and slack after
// the last: the scaler reads whole steps past the end of a row, as decoders'
// padding allows.
struct RandomPlanes {
    std::vector<std::uint8_t> bytes;
    std::uint8_t* data[4] = {};
    int linesize[4] = {};
    int size = 0; // the planes' bytes, without the slack

    RandomPlanes(AVPixelFormat format, Size s, int align, unsigned seed) {
        size = av_image_get_buffer_size(format, s.width, s.height, align);
        bytes.resize(static_cast<std::size_t>(size) + 256);
        std::mt19937 random(seed);
        std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
        av_image_fill_arrays(data, linesize, bytes.data(), format, s.width, s.height, align);
    }
};

// The scaler as the command line sets it up for a picture: bicubic, the
// picture's matrix and range. Top-down rows of width x 3 bytes.
std::vector<std::uint8_t> ScalerBgr(const RandomPlanes& p, AVPixelFormat format, Size s, const int* matrix,
                                    bool fullRange) {
    SwsContext* sws = sws_getContext(s.width, s.height, format, s.width, s.height, AV_PIX_FMT_BGR24,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
    int *inverse = nullptr, *table = nullptr;
    int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
    sws_getColorspaceDetails(sws, &inverse, &srcRange, &table, &dstRange, &brightness, &contrast,
                             &saturation);
    sws_setColorspaceDetails(sws, matrix, fullRange, matrix, dstRange, brightness, contrast, saturation);
    const int stride = (s.width * 3 + 32 + 63) & ~63;
    std::vector<std::uint8_t> padded(static_cast<std::size_t>(stride) * (s.height + 1) + 64);
    std::uint8_t* dst[4] = {padded.data()};
    int dstStride[4] = {stride};
    EXPECT_EQ(sws_scale(sws, p.data, p.linesize, 0, s.height, dst, dstStride), s.height);
    sws_freeContext(sws);
    std::vector<std::uint8_t> rows;
    for (int r = 0; r < s.height; ++r)
        rows.insert(rows.end(), padded.data() + r * stride, padded.data() + r * stride + s.width * 3);
    return rows;
}

// Random planes reach every corner of the arithmetic's saturation; widths
// below, at and past the 32-pixel steps, odd ones whose last chroma sample
// serves one pixel. Nothing is written past the picture's own bytes.
TEST(YuvToBgr, GivesTheScalersBytesForEveryLayoutRangeAndMatrix) {
    const Size sizes[] = {{2, 2}, {31, 6}, {33, 2}, {170, 4}, {641, 2}};
    unsigned seed = 1;
    for (const AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P})
        for (const bool full : {false, true})
            for (const int colorspace : {SWS_CS_ITU601, SWS_CS_ITU709})
                for (const Size s : sizes) {
                    SCOPED_TRACE(testing::Message()
                                 << av_get_pix_fmt_name(format) << " full " << full << " colorspace "
                                 << colorspace << " " << s.width << "x" << s.height);
                    const RandomPlanes planes(format, s, 64, seed++);
                    const int* matrix = sws_getCoefficients(colorspace);
                    const std::vector<std::uint8_t> theirs = ScalerBgr(planes, format, s, matrix, full);
                    YuvPicture picture;
                    std::copy_n(planes.data, 3, picture.planes);
                    std::copy_n(planes.linesize, 3, picture.strides);
                    picture.width = s.width;
                    picture.height = s.height;
                    picture.chromaRowShift = format == AV_PIX_FMT_YUV420P ? 1 : 0;
                    const std::size_t bytes = theirs.size();
                    std::vector<std::uint8_t> ours(bytes + 64, 0xcd);
                    YuvToBgr(matrix, full).Convert(picture, ours.data(), s.width * 3);
                    EXPECT_EQ(std::count(ours.begin() + static_cast<std::ptrdiff_t>(bytes), ours.end(), 0xcd),
                              64);
                    ours.resize(bytes);
                    EXPECT_EQ(ours, theirs);
                }
}

} // namespace
} // namespace cadmo::test
