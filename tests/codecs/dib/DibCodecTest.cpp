#include "CodecTestUtil.h"

#include "codecs/builtin/BuiltinCodecs.h"
#include "pixel/DibRules.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

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
// Then every output depth: 32 and 16 bits must be the 24-bit picture
// widened or cut to 5-5-5; 8 bits of palettised input must show the movie's
// own colours, on the movie's palette, which GET_PALETTE reports.
struct Input {
    const char* name; // ffmpeg's pixel format, when bits is 0
    WORD bits;        // otherwise written here at this depth
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
    const BITMAPINFOHEADER& h = video.Header();
    const LONG w = h.biWidth, rows = std::abs(h.biHeight);
    const auto* table = reinterpret_cast<const RGBQUAD*>(video.format.data() + h.biSize);
    const std::vector<std::string> expected = FfmpegFrameHashes(path, "bgr24");
    ASSERT_EQ(expected.size(), video.frames.size());

    HIC hic = Locate(video);
    ASSERT_NE(hic, nullptr);
    OutputFrame out24 = MakeOutputFrame(w, rows, 24), out32 = MakeOutputFrame(w, rows, 32),
                out16 = MakeOutputFrame(w, rows, 16), out8 = MakeOutputFrame(w, rows, 8);
    ASSERT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, reinterpret_cast<DWORD_PTR>(video.format.data()),
                            reinterpret_cast<DWORD_PTR>(out8.header.data())),
              ICERR_OK);
    for (DWORD i = 0; i < h.biClrUsed; ++i)
        ASSERT_EQ(std::memcmp(&out8.Colors()[i], &table[i], 3), 0) << "the movie's colour " << i;
    for (std::size_t f = 0; f < video.frames.size(); ++f) {
        ASSERT_EQ(DecodeFrame(hic, video, f, out24), ICERR_OK);
        const std::vector<BYTE> rgb = TopDownRows(out24);
        EXPECT_EQ(Md5Hex(rgb), expected[f]) << "frame " << f;
        ASSERT_EQ(DecodeFrame(hic, video, f, out32), ICERR_OK);
        ASSERT_EQ(DecodeFrame(hic, video, f, out16), ICERR_OK);
        ASSERT_EQ(DecodeFrame(hic, video, f, out8), ICERR_OK);
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
                         ::testing::Values(Input{"bgr24", 0}, Input{"bgr0", 0}, Input{"rgb555le", 0},
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

TEST(DibCodec, TopDownInputGivesTheSamePictureUpsideDownInMemory) {
    AviVideo up = HandMade(5, 3, 24);
    AviVideo down = up;
    reinterpret_cast<BITMAPINFOHEADER*>(down.format.data())->biHeight = -3;
    // The same picture stored top-down: reverse the rows of 16 bytes.
    for (int r = 0; r < 3; ++r)
        std::copy(up.frames[0].begin() + 16 * r, up.frames[0].begin() + 16 * (r + 1),
                  down.frames[0].begin() + 16 * (2 - r));
    HIC a = Locate(up), b = Locate(down);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    OutputFrame outA = MakeOutputFrame(5, 3, 24), outB = MakeOutputFrame(5, 3, 24);
    ASSERT_EQ(DecodeFrame(a, up, 0, outA), ICERR_OK);
    ASSERT_EQ(DecodeFrame(b, down, 0, outB), ICERR_OK);
    EXPECT_EQ(TopDownRows(outA), TopDownRows(outB));
    ICClose(a);
    ICClose(b);
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

// The 8-bit palette messages: set, read back through GET_PALETTE and used
// for decoding, and back to the default with a null palette.
TEST(DibCodec, PaletteMessagesRoundTrip) {
    AviVideo v = HandMade(4, 4, 24);
    HIC hic = Locate(v);
    ASSERT_NE(hic, nullptr);
    OutputFrame out = MakeOutputFrame(4, 4, 8);
    const auto getPalette = [&] {
        return ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, 0,
                             reinterpret_cast<DWORD_PTR>(out.header.data()));
    };
    ASSERT_EQ(getPalette(), ICERR_OK);
    const RGBQUAD defaultColour = out.Colors()[10];
    std::vector<BYTE> custom = out.header;
    auto* colors = reinterpret_cast<RGBQUAD*>(custom.data() + 40);
    for (int i = 0; i < 256; ++i)
        colors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    reinterpret_cast<BITMAPINFOHEADER*>(custom.data())->biClrUsed = 256;
    ASSERT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_SET_PALETTE, reinterpret_cast<DWORD_PTR>(custom.data()), 0),
              ICERR_OK);
    ASSERT_EQ(getPalette(), ICERR_OK);
    EXPECT_EQ(out.Colors()[200].rgbRed, 200);
    EXPECT_EQ(out.Header().biClrUsed, 256u);
    ASSERT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_SET_PALETTE, 0, 0), ICERR_OK);
    ASSERT_EQ(getPalette(), ICERR_OK);
    EXPECT_EQ(std::memcmp(&out.Colors()[10], &defaultColour, 4), 0);
    ICClose(hic);
}

} // namespace
} // namespace cadmo::test
