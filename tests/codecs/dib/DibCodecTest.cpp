#include "CodecTestUtil.h"

#include "codecs/builtin/BuiltinCodecs.h"
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

// Raw files from ffmpeg at each input depth, decoded at 24 bits, against
// ffmpeg's own bgr24 frames. 174 pixels wide: rows of 522 bytes pad to 524.
TEST(DibCodec, RawFramesMatchFfmpegAtEveryInputDepth) {
    if (!HaveProgram("ffmpeg"))
        GTEST_SKIP() << "no ffmpeg";
    TempDir dir;
    for (const char* pixfmt : {"bgr24", "bgr0", "rgb555le"}) {
        std::string path = dir.File(std::string(pixfmt) + ".avi");
        ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc2=size=174x100:rate=10 -frames:v 5 -c:v rawvideo -pix_fmt " +
                           std::string(pixfmt) + " " + ShellQuote(path)));
        AviVideo video;
        ASSERT_TRUE(ReadAviVideo(path, video));
        HIC hic = Locate(video);
        ASSERT_NE(hic, nullptr) << pixfmt;
        auto expected = FfmpegFrameHashes(path, "bgr24");
        ASSERT_EQ(expected.size(), video.frames.size());
        OutputFrame out = MakeOutputFrame(174, 100, 24);
        for (std::size_t i = 0; i < video.frames.size(); ++i) {
            ASSERT_EQ(DecodeFrame(hic, video, i, out), ICERR_OK);
            EXPECT_EQ(Md5Hex(TopDownRows(out)), expected[i]) << pixfmt << " frame " << i;
        }
        ICClose(hic);
    }
}

AviVideo HandMade(LONG width, LONG height, WORD bpp) {
    AviVideo v;
    v.format.assign(40, 0);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(v.format.data());
    *h = BITMAPINFOHEADER{40, width, height, 1, bpp, BI_RGB, 0, 0, 0, 0, 0};
    std::size_t row = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
    std::vector<BYTE> frame(row * static_cast<std::size_t>(std::abs(height)));
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<BYTE>(i * 7 + 1);
    v.frames.push_back(frame);
    return v;
}

TEST(DibCodec, TopDownInputGivesTheSamePictureUpsideDownInMemory) {
    AviVideo up = HandMade(5, 3, 24);
    AviVideo down = up;
    reinterpret_cast<BITMAPINFOHEADER*>(down.format.data())->biHeight = -3;
    // The same picture stored top-down: reverse the rows.
    const std::size_t row = 16;
    for (int r = 0; r < 3; ++r)
        std::copy(up.frames[0].begin() + row * r, up.frames[0].begin() + row * (r + 1),
                  down.frames[0].begin() + row * (2 - r));
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

// The 8-bit palette messages: set, read back through GET_PALETTE, and back to
// the default with a null palette.
TEST(DibCodec, PaletteMessagesRoundTrip) {
    AviVideo v = HandMade(4, 4, 24);
    HIC hic = Locate(v);
    ASSERT_NE(hic, nullptr);
    OutputFrame out = MakeOutputFrame(4, 4, 8);
    ASSERT_EQ(
        ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, 0, reinterpret_cast<DWORD_PTR>(out.header.data())),
        ICERR_OK);
    const RGBQUAD defaultFirst = out.Colors()[10];
    std::vector<BYTE> custom = out.header;
    auto* colors = reinterpret_cast<RGBQUAD*>(custom.data() + 40);
    for (int i = 0; i < 256; ++i)
        colors[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    reinterpret_cast<BITMAPINFOHEADER*>(custom.data())->biClrUsed = 256;
    ASSERT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_SET_PALETTE, reinterpret_cast<DWORD_PTR>(custom.data()), 0),
              ICERR_OK);
    ASSERT_EQ(
        ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, 0, reinterpret_cast<DWORD_PTR>(out.header.data())),
        ICERR_OK);
    EXPECT_EQ(out.Colors()[200].rgbRed, 200);
    EXPECT_EQ(out.Header().biClrUsed, 256u);
    // Decoding now uses the grey palette: every index is its own grey.
    ASSERT_EQ(DecodeFrame(hic, v, 0, out), ICERR_OK);
    ASSERT_EQ(ICSendMessage(hic, ICM_DECOMPRESS_SET_PALETTE, 0, 0), ICERR_OK);
    ASSERT_EQ(
        ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, 0, reinterpret_cast<DWORD_PTR>(out.header.data())),
        ICERR_OK);
    EXPECT_EQ(std::memcmp(&out.Colors()[10], &defaultFirst, 4), 0);
    ICClose(hic);
}

// Palettised input at every depth: ffmpeg's own 8-bit files, and 1- and
// 4-bit files written here (an odd width, so rows end inside a byte and are
// padded), against ffmpeg's decoding at 24 bits; then every output depth.
// 16 and 32 bits must be the 24-bit picture cut or widened; 8 bits must keep
// the movie's indices on the movie's palette, which GET_PALETTE reports.
struct PaletteInput {
    const char* name;
    WORD bits; // 0: made by ffmpeg
};

class DibPalette : public ::testing::TestWithParam<PaletteInput> {};

TEST_P(DibPalette, EveryFrameMatchesFfmpegAtEveryOutputDepth) {
    if (!HaveProgram("ffmpeg"))
        GTEST_SKIP() << "no ffmpeg";
    TempDir dir;
    const std::string path = dir.File("pal.avi");
    const WORD bits = GetParam().bits;
    if (bits == 0) {
        ASSERT_TRUE(
            Ffmpeg("-f lavfi -i testsrc2=size=75x40:rate=10 -frames:v 4 -c:v rawvideo -pix_fmt pal8 " +
                   ShellQuote(path)));
    } else {
        TestAviSpec spec;
        spec.width = 75;
        spec.height = 40;
        spec.bitCount = bits;
        spec.frames = 4;
        spec.audio = false;
        spec.clrUsed = 1u << bits;
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
        EXPECT_EQ(Md5Hex(rgb), expected[f]) << GetParam().name << " frame " << f;
        ASSERT_EQ(DecodeFrame(hic, video, f, out32), ICERR_OK);
        ASSERT_EQ(DecodeFrame(hic, video, f, out16), ICERR_OK);
        ASSERT_EQ(DecodeFrame(hic, video, f, out8), ICERR_OK);
        const std::vector<BYTE> p32 = TopDownRows(out32), p16 = TopDownRows(out16), p8 = TopDownRows(out8);
        for (std::size_t px = 0; px < p8.size(); ++px) {
            const BYTE* c = &rgb[px * 3];
            ASSERT_EQ(std::memcmp(&p32[px * 4], c, 3), 0) << "32 bits, pixel " << px;
            const unsigned v555 = ((c[2] >> 3) << 10) | ((c[1] >> 3) << 5) | (c[0] >> 3);
            ASSERT_EQ(p16[px * 2] | (p16[px * 2 + 1] << 8), v555) << "16 bits, pixel " << px;
            // The stored index of this pixel.
            const LONG x = static_cast<LONG>(px) % w, y = static_cast<LONG>(px) / w;
            const std::size_t stride = ((static_cast<std::size_t>(w) * h.biBitCount + 31) / 32) * 4;
            const BYTE* row =
                video.frames[f].data() + stride * static_cast<std::size_t>(h.biHeight > 0 ? rows - 1 - y : y);
            const std::size_t bit = static_cast<std::size_t>(x) * h.biBitCount;
            const int index = (row[bit / 8] >> (8 - h.biBitCount - bit % 8)) & ((1 << h.biBitCount) - 1);
            ASSERT_EQ(p8[px], index) << "8 bits, pixel " << px;
        }
    }
    ICClose(hic);
}

INSTANTIATE_TEST_SUITE_P(Depths, DibPalette,
                         ::testing::Values(PaletteInput{"ffmpeg_pal8", 0}, PaletteInput{"four_bits", 4},
                                           PaletteInput{"one_bit", 1}),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace cadmo::test
