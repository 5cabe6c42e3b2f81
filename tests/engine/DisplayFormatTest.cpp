// Output depth and size: decoded at the new size by the codec where it can,
// otherwise decoded natively and stretched.

#include <cstring>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/Movie.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

class DisplayFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeCodec::Install();
        FakeCodec::Get().Reset();
    }
    void Open(FOURCC codec) {
        MovieSpec spec;
        spec.width = 160;
        spec.height = 120;
        spec.bits = 24;
        spec.compression = codec;
        spec.handler = codec;
        ASSERT_EQ(movie.OpenFile(WriteMovie(spec, "movie.avi").c_str()), 0);
        ASSERT_EQ(movie.OpenStreams(&window), 0);
    }
    BITMAPINFOHEADER Out() {
        BITMAPINFOHEADER h{};
        movie.decoder->GetOutputFormat(&h);
        return h;
    }
    static void Expect(const RECT& r, LONG l, LONG t, LONG rt, LONG b) {
        EXPECT_EQ(r.left, l);
        EXPECT_EQ(r.top, t);
        EXPECT_EQ(r.right, rt);
        EXPECT_EQ(r.bottom, b);
    }

    FakeWindow window;
    Movie movie;
};

} // namespace

TEST_F(DisplayFormatTest, DoubledByTheCodec) {
    Open(qx47::kHandler);
    movie.decodedFrame = 3;
    FakeCodec::Get().ClearCalls();
    ASSERT_EQ(movie.SetDisplayFormat(2.0f, 16, 1, 0, 0), 0);
    const BITMAPINFOHEADER out = Out();
    EXPECT_EQ(out.biWidth, 320);
    EXPECT_EQ(out.biHeight, 240);
    EXPECT_EQ(out.biBitCount, 16);
    EXPECT_EQ(out.biSizeImage, 153600u);
    EXPECT_GE(movie.decoder->pixelBufferSize, 153600u);
    RECT r{};
    movie.decoder->GetDecodeRect(&r);
    Expect(r, 0, 0, 320, 240);
    movie.decoder->GetViewRect(&r);
    Expect(r, 0, 0, 320, 240);
    auto sets = FakeCodec::Get().Calls(ICM_SETSTATE);
    ASSERT_EQ(sets.size(), 1u);
    qx47::ShortStateRecord s{};
    std::memcpy(&s, sets[0].record.data(), 44);
    EXPECT_EQ(s.mask, 0x80000008u);
    EXPECT_EQ(s.alternateLine, 0u);
    EXPECT_EQ(movie.decodedFrame, -1);
}

TEST_F(DisplayFormatTest, StretchedWhenTheCodecCannotDouble) {
    Open(kFake);
    FakeCodec::Get().maxOutputWidth = 160;
    FakeCodec::Get().ClearCalls();
    ASSERT_EQ(movie.SetDisplayFormat(2.0f, 16, 1, 0, 0), 0);
    const BITMAPINFOHEADER out = Out();
    EXPECT_EQ(out.biWidth, 160);
    EXPECT_EQ(out.biHeight, 120);
    EXPECT_EQ(out.biBitCount, 16);
    EXPECT_EQ(out.biSizeImage, 38400u);
    RECT r{};
    movie.decoder->GetDecodeRect(&r);
    Expect(r, 0, 0, 160, 120);
    movie.decoder->GetViewRect(&r);
    Expect(r, 0, 0, 320, 240);
    EXPECT_TRUE(FakeCodec::Get().Calls(ICM_SETSTATE).empty()) << "no doubling mode is sent";

    // The picture is stretched into the window.
    ASSERT_EQ(movie.SetDisplayFormat(2.0f, 24, 0, 0, 0), 0);
    HDC dc = window.GetDC();
    ASSERT_EQ(movie.BeginDrawing(dc, 4), 0);
    EXPECT_EQ(movie.ShowFrame(), 0);
    movie.EndDrawing();
    window.ReleaseDC(dc);
    EXPECT_EQ(SurfaceGrey(*window.surface, 319, 239), 4);
}

TEST_F(DisplayFormatTest, Refusals) {
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 8, 0, 0, 0), -1);
    Open(kFake);
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 15, 0, 0, 0), -5);
    movie.playing = 1;
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 16, 0, 0, 0), -4);
    movie.playing = 0;
    // Doubling refused by a codec other than the Tavro one: -5, but the new
    // format stays in force.
    EXPECT_EQ(movie.SetDisplayFormat(2.0f, 24, 2, 0, 0), -5);
    EXPECT_EQ(Out().biWidth, 320);
    EXPECT_EQ(Out().biBitCount, 24);
    // Nothing decodes to this size, natively or not: unchanged.
    FakeCodec::Get().maxOutputWidth = 100;
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 8, 0, 0, 0), -5);
    EXPECT_EQ(Out().biWidth, 320);
    // A size no buffer could hold.
    FakeCodec::Get().maxOutputWidth = INT_MAX;
    EXPECT_EQ(movie.SetDisplayFormat(0.0f, 32, 0, 50000, 50000), -5);
    EXPECT_EQ(movie.SetDisplayPalette(nullptr), 0);
    FakeCodec::Get().setPaletteAnswer = ICERR_BADFORMAT;
    std::vector<BYTE> raw(8);
    reinterpret_cast<LOGPALETTE*>(raw.data())->palNumEntries = 1;
    EXPECT_EQ(movie.SetDisplayPalette(reinterpret_cast<LOGPALETTE*>(raw.data())), -5);
}
