#include "CodecTestUtil.h"

#include "codecs/builtin/BuiltinCodecs.h"
#include "support/Process.h"
#include "support/TempDir.h"

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

    // 8-bit input would need a colour table the player does not keep.
    AviVideo pal = HandMade(8, 8, 8);
    EXPECT_EQ(Locate(pal), nullptr);
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

} // namespace
} // namespace cadmo::test
