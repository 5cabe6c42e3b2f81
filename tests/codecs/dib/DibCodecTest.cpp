#include "CodecTestUtil.h"

#include "codecs/builtin/BuiltinCodecs.h"
#include "pixel/DibRules.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace cadmo::test {
namespace {

HIC Locate(AviVideo& video) {
    RegisterBuiltinCodecs();
    return ICLocate(ICTYPE_VIDEO, video.handler, reinterpret_cast<BITMAPINFOHEADER*>(video.format.data()),
                    nullptr, ICMODE_DECOMPRESS);
}

// Every input depth against ffmpeg's decoding at 24 bits: raw and 8-bit
// files from ffmpeg, 174 pixels wide (24-bit rows of 522 bytes pad to 524),
// and 1- and 4-bit files written here, 175 wide, so rows end inside a byte.
// ffmpeg writes its files top-down; one is turned bottom-up here and must
// still give ffmpeg's picture.
// Then every output depth: 32 bits (a top-down frame) and 16 bits must be the
// 24-bit picture widened or cut to 5-5-5; 8 bits of palettised input must
// show the movie's own colours, on the movie's palette, which GET_PALETTE
// reports.
struct Input {
    const char* name;  // ffmpeg's pixel format, when bits is 0
    WORD bits;         // otherwise written here at this depth
    bool flip = false; // the rows reversed and the height negated
};

class DibInput : public ::testing::TestWithParam<Input> {};

TEST_P(DibInput, EveryFrameMatchesFfmpegAtEveryOutputDepth) {
    if (!HaveProgram("ffmpeg"))
        GTEST_SKIP() << "no ffmpeg";
    TempDir dir;
    const std::string path = dir.File("in.avi");
    if (GetParam().bits == 0) {
        ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=175x40:rate=10 -frames:v 4 -c:v rawvideo -pix_fmt " +
                           std::string(GetParam().name) + " " + ShellQuote(path)));
    } else {
        TestAviSpec spec;
        spec.width = 175;
        spec.height = 40;
        spec.bitCount = GetParam().bits;
        spec.frames = 4;
        spec.audio = false;
        spec.clrUsed = 1u << spec.bitCount;
        for (DWORD i = 0; i < spec.clrUsed; ++i)
            spec.colors.push_back(RGBQUAD{BYTE(i * 37), BYTE(255 - i * 11), BYTE(i * 90), 0});
        ASSERT_EQ(WriteTestAvi(path, spec), AVIERR_OK);
    }
    AviVideo video;
    ASSERT_TRUE(ReadAviVideo(path, video));
    auto& h = *reinterpret_cast<BITMAPINFOHEADER*>(video.format.data());
    const LONG w = h.biWidth, rows = std::abs(h.biHeight);
    if (GetParam().flip) {
        h.biHeight = -h.biHeight;
        for (std::vector<BYTE>& frame : video.frames) {
            const std::vector<BYTE> stored = frame;
            const std::size_t row = stored.size() / static_cast<std::size_t>(rows);
            for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r)
                std::copy_n(stored.end() - static_cast<std::ptrdiff_t>(row * (r + 1)), row,
                            frame.begin() + row * r);
        }
    }
    const auto* table = reinterpret_cast<const RGBQUAD*>(video.format.data() + h.biSize);
    const std::vector<std::string> expected = FfmpegFrameHashes(path, "bgr24");
    ASSERT_EQ(expected.size(), video.frames.size());

    HIC hic = Locate(video);
    ASSERT_NE(hic, nullptr);
    OutputFrame outs[] = {MakeOutputFrame(w, rows, 24), MakeOutputFrame(w, -rows, 32),
                          MakeOutputFrame(w, rows, 16), MakeOutputFrame(w, rows, 8)};
    OutputFrame &out24 = outs[0], &out32 = outs[1], &out16 = outs[2], &out8 = outs[3];
    ASSERT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, reinterpret_cast<DWORD_PTR>(video.format.data()),
                            reinterpret_cast<DWORD_PTR>(out8.header.data())),
              ICERR_OK);
    for (DWORD i = 0; i < h.biClrUsed; ++i)
        ASSERT_EQ(std::memcmp(&out8.Colors()[i], &table[i], 3), 0) << "the movie's colour " << i;
    for (std::size_t f = 0; f < video.frames.size(); ++f) {
        for (OutputFrame& out : outs)
            ASSERT_EQ(DecodeFrame(hic, video, f, out), ICERR_OK);
        const std::vector<BYTE> rgb = TopDownRows(out24);
        EXPECT_EQ(Md5Hex(rgb), expected[f]) << "frame " << f;
        const std::vector<BYTE> p32 = TopDownRows(out32), p16 = TopDownRows(out16), p8 = TopDownRows(out8);
        for (std::size_t px = 0; px < p8.size(); ++px) {
            const BYTE* c = &rgb[px * 3];
            ASSERT_EQ(std::memcmp(&p32[px * 4], c, 3), 0) << "32 bits, pixel " << px;
            const unsigned v555 = ((c[2] >> 3) << 10) | ((c[1] >> 3) << 5) | (c[0] >> 3);
            ASSERT_EQ(p16[px * 2] | (p16[px * 2 + 1] << 8), v555) << "16 bits, pixel " << px;
            if (h.biBitCount <= 8) {
                ASSERT_EQ(std::memcmp(&out8.Colors()[p8[px]], c, 3), 0) << "8 bits, pixel " << px;
            }
        }
    }
    ICClose(hic);
}

INSTANTIATE_TEST_SUITE_P(Depths, DibInput,
                         ::testing::Values(Input{"bgr24", 0}, Input{"bgr0", 0, true}, Input{"rgb555le", 0},
                                           Input{"pal8", 0}, Input{"four_bits", 4}, Input{"one_bit", 1}),
                         [](const auto& p) { return std::string(p.param.name); });

AviVideo HandMade(LONG width, LONG height, WORD bpp) {
    AviVideo v;
    v.format.assign(40, 0);
    *reinterpret_cast<BITMAPINFOHEADER*>(v.format.data()) =
        BITMAPINFOHEADER{40, width, height, 1, bpp, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> frame(static_cast<std::size_t>(DibStride(width, bpp)) *
                            static_cast<std::size_t>(std::abs(height)));
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<BYTE>(i * 7 + 1);
    v.frames.push_back(frame);
    return v;
}

TEST(DibCodec, ShortFramesAndUnsupportedInputsAreRefused) {
    AviVideo v = HandMade(8, 8, 32);
    HIC hic = Locate(v);
    ASSERT_NE(hic, nullptr);
    OutputFrame out = MakeOutputFrame(8, 8, 24);
    const std::vector<BYTE> untouched = out.bits;
    v.frames[0].resize(v.frames[0].size() - 1); // one byte short of the picture
    EXPECT_EQ(DecodeFrame(hic, v, 0, out), ICERR_BADSIZE);
    v.frames[0].clear();
    EXPECT_EQ(DecodeFrame(hic, v, 0, out), ICERR_DONTDRAW);
    EXPECT_EQ(out.bits, untouched);
    ICClose(hic);

    // Palettised input without a table, or claiming more colours than its
    // depth has, gives nothing to show the pixels with.
    AviVideo pal = HandMade(8, 8, 8);
    EXPECT_EQ(Locate(pal), nullptr);
    AviVideo many = HandMade(8, 8, 4);
    many.format.resize(40 + 17 * 4);
    reinterpret_cast<BITMAPINFOHEADER*>(many.format.data())->biClrUsed = 17;
    EXPECT_EQ(Locate(many), nullptr);
    AviVideo huge = HandMade(8, 8, 24);
    reinterpret_cast<BITMAPINFOHEADER*>(huge.format.data())->biWidth = 0x40000000;
    EXPECT_EQ(Locate(huge), nullptr);
}

} // namespace
} // namespace cadmo::test
