// The Tavro codec's transparency background: the picture centred on a
// bitmap, composited frame by frame, and the area it covered reported for
// dragging.

#include <cstring>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/Movie.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

class BackgroundTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeCodec::Install();
        FakeCodec::Get().Reset();
    }
    void Open(FOURCC codec) {
        MovieSpec spec;
        spec.width = 320;
        spec.height = 240;
        spec.bits = 24;
        spec.compression = codec;
        spec.handler = codec;
        ASSERT_EQ(movie.OpenFile(WriteMovie(spec, "movie.avi").c_str()), 0);
        ASSERT_EQ(movie.OpenStreams(&window), 0);
    }

    FakeWindow window{24, 640, 480};
    Movie movie;
};

} // namespace

TEST_F(BackgroundTest, OnlyTheTavroCodecTakesABackground) {
    Open(kFake);
    EXPECT_EQ(movie.SetBackgroundImage(WriteGreyBitmap(640, 480, 50, "bg").c_str()), -5);
    EXPECT_EQ(movie.backgroundImage, nullptr);
    EXPECT_EQ(movie.decoder->background, nullptr);
}

TEST_F(BackgroundTest, ThePictureIsCentredAndCompositedOverTheImage) {
    Open(qx47::kHandler);
    EXPECT_EQ(movie.SetBackgroundImage("/nonexistent.bmp"), -5);
    EXPECT_EQ(movie.backgroundImage, nullptr);
    EXPECT_EQ(movie.SetBackgroundImage(WriteGreyBitmap(160, 120, 50, "small").c_str()), -5)
        << "smaller than the picture";
    EXPECT_EQ(movie.decoder->background, nullptr);

    FakeCodec::Get().ClearCalls();
    ASSERT_EQ(movie.SetBackgroundImage(WriteGreyBitmap(640, 480, 50, "bg").c_str()), 0);
    EXPECT_NE(movie.backgroundImage, nullptr);
    RECT r{};
    movie.decoder->GetDecodeRect(&r);
    EXPECT_EQ(r.left, 160);
    EXPECT_EQ(r.top, 120);
    EXPECT_EQ(r.right, 480);
    movie.decoder->GetViewRect(&r);
    EXPECT_EQ(r.right, 640);
    EXPECT_EQ(r.bottom, 480);
    EXPECT_EQ(movie.decoder->windowRect.width, 320) << "the window rectangle stays";
    auto sets = FakeCodec::Get().Calls(ICM_SETSTATE);
    ASSERT_EQ(sets.size(), 1u);
    qx47::ShortStateRecord s{};
    std::memcpy(&s, sets[0].record.data(), 44);
    EXPECT_EQ(s.mask, 0x80000004u);
    EXPECT_EQ(s.transparency, 0u);

    // A smaller one does not replace it.
    EXPECT_EQ(movie.SetBackgroundImage(WriteGreyBitmap(100, 100, 70, "smaller").c_str()), -5);
    EXPECT_NE(movie.decoder->background, nullptr);
    // The format cannot change while the picture sits away from the corner.
    EXPECT_EQ(movie.SetDisplayFormat(1.0f, 8, 0, 0, 0), -5);

    HDC dc = window.GetDC();
    ASSERT_EQ(movie.BeginDrawing(dc, 7), 0);
    BITMAPINFOHEADER out{};
    movie.decoder->GetOutputFormat(&out);
    EXPECT_EQ(out.biWidth, 640) << "the output takes the background's format";
    EXPECT_EQ(out.biHeight, 480);
    ASSERT_EQ(movie.ShowFrame(), 0);
    const auto draw = FakeCodec::Get().Calls(ICM_DECOMPRESSEX).back();
    EXPECT_EQ(draw.rec.xDst, 160);
    EXPECT_EQ(draw.rec.yDst, 480 - 1 * 240 - 120);
    EXPECT_EQ(SurfaceGrey(*window.surface, 10, 10), 50) << "the background around the picture";
    EXPECT_EQ(SurfaceGrey(*window.surface, 320, 240), 7) << "the frame in the middle";
    EXPECT_EQ(SurfaceGrey(*window.surface, 159, 240), 50);
    EXPECT_EQ(SurfaceGrey(*window.surface, 160, 240), 7);

    ASSERT_EQ(movie.decoder->GetUpdatedRect(&r), 0);
    EXPECT_EQ(r.left, 160);
    EXPECT_EQ(r.top, 120);
    EXPECT_EQ(r.right, 480);
    EXPECT_EQ(r.bottom, 360);

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
