// Output depth and size: decoded at the new size by the codec where it can,
// otherwise decoded natively and stretched. And the Tavro codec's
// transparency background: the picture centred on a bitmap, composited frame
// by frame, and the area the codec says it covered given back to the
// background when the picture is dragged.

#include <array>

#include "EngineTestSupport.h"
#include "support/TestBmp.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

using Rect = std::array<LONG, 4>;

class DisplayFormatTest : public MovieFixture {
protected:
    void Open(FOURCC codec, LONG width = 160, LONG height = 120) {
        cadmo::test::TestAviSpec spec = FakeMovie();
        spec.width = width;
        spec.height = height;
        spec.compression = spec.handler = codec;
        ASSERT_EQ(MovieFixture::Open(spec), 0);
    }
    // Width, height, depth and size of the output frame.
    Rect OutSize() {
        BITMAPINFOHEADER h{};
        movie.decoder->GetOutputFormat(&h);
        return {h.biWidth, h.biHeight, h.biBitCount, static_cast<LONG>(h.biSizeImage)};
    }
    // The rectangles the codec decodes into and the window shows.
    std::pair<Rect, Rect> Rects() {
        RECT d{}, v{};
        movie.decoder->GetDecodeRect(&d);
        movie.decoder->GetViewRect(&v);
        return {Rect{d.left, d.top, d.right, d.bottom}, Rect{v.left, v.top, v.right, v.bottom}};
    }
    // An 8-bit grey-ramp bitmap file of one grey level.
    std::string Background(LONG width, LONG height, BYTE grey) {
        cadmo::test::BmpFile bmp(width, height);
        for (int i = 0; i < 256; ++i)
            bmp.colors[static_cast<std::size_t>(i)] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
        std::fill(bmp.pixels.begin(), bmp.pixels.end(), grey);
        const std::string path = dir.File(std::to_string(width) + "x" + std::to_string(height) + ".bmp");
        EXPECT_TRUE(bmp.Save(path));
        return path;
    }
};

} // namespace

// Doubled by the Tavro codec itself, which is told the mode; by another
// codec that cannot decode at the new size, decoded natively and stretched.
// Refused formats leave the output alone.
TEST_F(DisplayFormatTest, DoubledByTheCodecOrStretched) {
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 8, 0, 0, 0), -1) << "no movie";
    Open(qx47::kHandler);
    movie.decodedFrame = 3;
    FakeCodec::Get().ClearCalls();
    ASSERT_EQ(movie.SetDisplayFormat(2.0f, 16, 1, 0, 0), 0);
    EXPECT_EQ(OutSize(), (Rect{320, 240, 16, 153600}));
    EXPECT_GE(movie.decoder->pixelBufferSize, 153600u);
    EXPECT_EQ(Rects(), std::pair(Rect{0, 0, 320, 240}, Rect{0, 0, 320, 240}));
    const auto sets = FakeCodec::Get().Calls(ICM_SETSTATE);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(StateOf<qx47::ShortStateRecord>(sets[0]).mask, 0x80000008u) << "the codec is told the mode";
    EXPECT_EQ(movie.decodedFrame, -1) << "the still frame is decoded afresh";

    Open(kFake);
    FakeCodec::Get().maxOutputWidth = 160;
    ASSERT_EQ(movie.SetDisplayFormat(2.0f, 24, 1, 0, 0), 0);
    EXPECT_EQ(OutSize(), (Rect{160, 120, 24, 57600}));
    EXPECT_EQ(Rects(), std::pair(Rect{0, 0, 160, 120}, Rect{0, 0, 320, 240}));
    Draw(4);
    EXPECT_EQ(SurfaceGrey(*window.surface, 319, 239), 4) << "stretched into the window";
    EXPECT_EQ(SurfaceGrey(*window.surface, 320, 240), 0);

    movie.playing = 1;
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 16, 0, 0, 0), -4) << "not under the playing thread";
    movie.playing = 0;
    FakeCodec::Get().maxOutputWidth = 100; // nothing decodes to 160
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 8, 0, 0, 0), -5);
    EXPECT_EQ(movie.SetDisplayFormat(0.0f, 32, 0, 50000, 50000), -5) << "no buffer could hold it";
    EXPECT_EQ(movie.SetDisplayFormat(2.0f, 24, 2, 0, 0), -5) << "only the Tavro codec doubles by lines";
    EXPECT_EQ(OutSize(), (Rect{160, 120, 24, 57600}));
    EXPECT_EQ(movie.SetBackgroundImage(Background(640, 480, 50).c_str()), -5)
        << "only the Tavro codec takes a background";
    EXPECT_TRUE(!movie.backgroundImage && !movie.decoder->background);
}

TEST_F(DisplayFormatTest, ThePictureIsCentredAndCompositedOverTheBackground) {
    Open(qx47::kHandler, 320, 240);
    EXPECT_EQ(movie.SetBackgroundImage("/nonexistent.bmp"), -5);
    EXPECT_EQ(movie.SetBackgroundImage(Background(160, 120, 50).c_str()), -5) << "smaller than the picture";
    EXPECT_TRUE(!movie.backgroundImage && !movie.decoder->background);

    FakeCodec::Get().ClearCalls();
    ASSERT_EQ(movie.SetBackgroundImage(Background(640, 480, 50).c_str()), 0);
    EXPECT_EQ(Rects(), std::pair(Rect{160, 120, 480, 360}, Rect{0, 0, 640, 480}));
    EXPECT_EQ(movie.decoder->windowRect.width, 320) << "the window rectangle stays";
    const auto sets = FakeCodec::Get().Calls(ICM_SETSTATE);
    ASSERT_EQ(sets.size(), 1u);
    const auto s = StateOf<qx47::ShortStateRecord>(sets[0]);
    EXPECT_EQ(std::pair(s.mask, s.transparency), std::pair(0x80000004u, 0u));
    // A smaller one does not replace it.
    EXPECT_EQ(movie.SetBackgroundImage(Background(100, 100, 70).c_str()), -5);
    EXPECT_NE(movie.decoder->background, nullptr);
    // The format cannot change while the picture sits away from the corner.
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 8, 0, 0, 0), -5);

    HDC dc = window.GetDC();
    ASSERT_EQ(movie.BeginDrawing(dc, 7), 0);
    EXPECT_EQ(OutSize()[1], 480) << "the output takes the background's format";
    ASSERT_EQ(movie.ShowFrame(), 0);
    const auto draw = FakeCodec::Get().Calls(ICM_DECOMPRESSEX).back();
    EXPECT_EQ(std::pair(draw.rec.xDst, draw.rec.yDst), std::pair(160, 120)) << "rows from the bottom";
    EXPECT_EQ(SurfaceGrey(*window.surface, 10, 10), 50) << "the background around the picture";
    EXPECT_EQ(SurfaceGrey(*window.surface, 159, 240), 50);
    EXPECT_EQ(SurfaceGrey(*window.surface, 160, 240), 7) << "the frame in the middle";
    // Dragged: the next frame lands at the new place and the old area is
    // restored from the background.
    movie.decoder->SetDecodeRect(RECT{0, 0, 320, 240});
    movie.position = 8;
    ASSERT_EQ(movie.ShowFrame(), 0);
    EXPECT_EQ(SurfaceGrey(*window.surface, 10, 10), 8);
    EXPECT_EQ(SurfaceGrey(*window.surface, 400, 300), 50);
    movie.EndDrawing();
    window.ReleaseDC(dc);
}
