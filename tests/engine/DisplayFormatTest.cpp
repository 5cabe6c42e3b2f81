// Output depth and size: decoded at the new size by the codec where it can,
// otherwise decoded natively and stretched. And the Tavro codec's
// transparency background: the picture centred on a bitmap, composited frame
// by frame, and the area it covered reported for dragging.

#include "EngineTestSupport.h"
#include "engine/Movie.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

class DisplayFormatTest : public EngineTest {
protected:
    void Open(FOURCC codec, LONG width = 160, LONG height = 120) {
        cadmo::test::TestAviSpec spec = FakeMovie();
        spec.width = width;
        spec.height = height;
        spec.compression = spec.handler = codec;
        ASSERT_EQ(movie.OpenFile(WriteMovie(spec, dir.File("movie.avi")).c_str()), 0);
        ASSERT_EQ(movie.OpenStreams(&window), 0);
    }
    BITMAPINFOHEADER Out() {
        BITMAPINFOHEADER h{};
        movie.decoder->GetOutputFormat(&h);
        return h;
    }
    // Width, height, depth and size of the output frame.
    std::array<LONG, 4> OutSize() {
        const BITMAPINFOHEADER h = Out();
        return {h.biWidth, h.biHeight, h.biBitCount, static_cast<LONG>(h.biSizeImage)};
    }
    std::array<LONG, 4> DecodeRect() {
        RECT r{};
        movie.decoder->GetDecodeRect(&r);
        return Edges(r);
    }
    std::array<LONG, 4> ViewRect() {
        RECT r{};
        movie.decoder->GetViewRect(&r);
        return Edges(r);
    }
    // One frame drawn in a drawing cycle of its own.
    void Draw(LONG frame) {
        HDC dc = window.GetDC();
        ASSERT_EQ(movie.BeginDrawing(dc, frame), 0);
        EXPECT_EQ(movie.ShowFrame(), 0);
        movie.EndDrawing();
        window.ReleaseDC(dc);
    }

    FakeWindow window{24, 640, 480};
    Movie movie;
};

using Rect = std::array<LONG, 4>;

} // namespace

TEST_F(DisplayFormatTest, DoubledByTheCodec) {
    Open(qx47::kHandler);
    movie.decodedFrame = 3;
    FakeCodec::Get().ClearCalls();
    ASSERT_EQ(movie.SetDisplayFormat(2.0f, 16, 1, 0, 0), 0);
    EXPECT_EQ(OutSize(), (Rect{320, 240, 16, 153600}));
    EXPECT_GE(movie.decoder->pixelBufferSize, 153600u);
    EXPECT_EQ(DecodeRect(), (Rect{0, 0, 320, 240}));
    EXPECT_EQ(ViewRect(), (Rect{0, 0, 320, 240}));
    auto sets = FakeCodec::Get().Calls(ICM_SETSTATE);
    ASSERT_EQ(sets.size(), 1u);
    const auto s = StateOf<qx47::ShortStateRecord>(sets[0]);
    EXPECT_EQ(s.mask, 0x80000008u);
    EXPECT_EQ(s.alternateLine, 0u);
    EXPECT_EQ(movie.decodedFrame, -1);
}

TEST_F(DisplayFormatTest, StretchedWhenTheCodecCannotDouble) {
    Open(kFake);
    FakeCodec::Get().maxOutputWidth = 160;
    FakeCodec::Get().ClearCalls();
    ASSERT_EQ(movie.SetDisplayFormat(2.0f, 16, 1, 0, 0), 0);
    EXPECT_EQ(OutSize(), (Rect{160, 120, 16, 38400}));
    EXPECT_EQ(DecodeRect(), (Rect{0, 0, 160, 120}));
    EXPECT_EQ(ViewRect(), (Rect{0, 0, 320, 240}));
    EXPECT_TRUE(FakeCodec::Get().Calls(ICM_SETSTATE).empty()) << "no doubling mode is sent";

    ASSERT_EQ(movie.SetDisplayFormat(2.0f, 24, 0, 0, 0), 0);
    Draw(4);
    EXPECT_EQ(SurfaceGrey(*window.surface, 319, 239), 4) << "stretched into the window";
    EXPECT_EQ(SurfaceGrey(*window.surface, 320, 240), 0);
}

TEST_F(DisplayFormatTest, Refusals) {
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 8, 0, 0, 0), -1);
    Open(kFake);
    EXPECT_EQ(movie.SetBackgroundImage(WriteGreyBitmap(640, 480, 50, dir.File("bg.bmp")).c_str()), -5)
        << "only the Tavro codec takes a background";
    EXPECT_EQ(movie.backgroundImage, nullptr);
    EXPECT_EQ(movie.decoder->background, nullptr);
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 15, 0, 0, 0), -5);
    movie.playing = 1;
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 16, 0, 0, 0), -4);
    movie.playing = 0;
    // Doubling refused by a codec other than the Tavro one: -5, but the new
    // format stays in force.
    EXPECT_EQ(movie.SetDisplayFormat(2.0f, 24, 2, 0, 0), -5);
    EXPECT_EQ(OutSize(), (Rect{320, 240, 24, 230400}));
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

TEST_F(DisplayFormatTest, ThePictureIsCentredAndCompositedOverTheBackground) {
    Open(qx47::kHandler, 320, 240);
    EXPECT_EQ(movie.SetBackgroundImage("/nonexistent.bmp"), -5);
    EXPECT_EQ(movie.SetBackgroundImage(WriteGreyBitmap(160, 120, 50, dir.File("small.bmp")).c_str()), -5)
        << "smaller than the picture";
    EXPECT_EQ(movie.backgroundImage, nullptr);
    EXPECT_EQ(movie.decoder->background, nullptr);

    FakeCodec::Get().ClearCalls();
    ASSERT_EQ(movie.SetBackgroundImage(WriteGreyBitmap(640, 480, 50, dir.File("bg.bmp")).c_str()), 0);
    EXPECT_NE(movie.backgroundImage, nullptr);
    EXPECT_EQ(DecodeRect(), (Rect{160, 120, 480, 360}));
    EXPECT_EQ(ViewRect(), (Rect{0, 0, 640, 480}));
    EXPECT_EQ(movie.decoder->windowRect.width, 320) << "the window rectangle stays";
    auto sets = FakeCodec::Get().Calls(ICM_SETSTATE);
    ASSERT_EQ(sets.size(), 1u);
    const auto s = StateOf<qx47::ShortStateRecord>(sets[0]);
    EXPECT_EQ(s.mask, 0x80000004u);
    EXPECT_EQ(s.transparency, 0u);

    // A smaller one does not replace it.
    EXPECT_EQ(movie.SetBackgroundImage(WriteGreyBitmap(100, 100, 70, dir.File("smaller.bmp")).c_str()), -5);
    EXPECT_NE(movie.decoder->background, nullptr);
    // The format cannot change while the picture sits away from the corner.
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 8, 0, 0, 0), -5);

    HDC dc = window.GetDC();
    ASSERT_EQ(movie.BeginDrawing(dc, 7), 0);
    EXPECT_EQ(OutSize()[0], 640) << "the output takes the background's format";
    EXPECT_EQ(OutSize()[1], 480);
    ASSERT_EQ(movie.ShowFrame(), 0);
    const auto draw = FakeCodec::Get().Calls(ICM_DECOMPRESSEX).back();
    EXPECT_EQ(draw.rec.xDst, 160);
    EXPECT_EQ(draw.rec.yDst, 480 - 1 * 240 - 120);
    EXPECT_EQ(SurfaceGrey(*window.surface, 10, 10), 50) << "the background around the picture";
    EXPECT_EQ(SurfaceGrey(*window.surface, 159, 240), 50);
    EXPECT_EQ(SurfaceGrey(*window.surface, 160, 240), 7) << "the frame in the middle";
    RECT r{};
    ASSERT_EQ(movie.decoder->GetUpdatedRect(&r), 0);
    EXPECT_EQ(Edges(r), (Rect{160, 120, 480, 360}));

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
