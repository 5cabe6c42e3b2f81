// Opening movies, positioning and the size rule of frame buffers.

#include <cstddef>

#include "EngineTestSupport.h"
#include "engine/Movie.h"
#include "support/TestAvi.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

class MovieTest : public EngineTest {
protected:
    LONG Open(const MovieSpec& spec) {
        EXPECT_EQ(movie.OpenFile(WriteMovie(spec, "movie.avi").c_str()), 0);
        return movie.OpenStreams(&window);
    }

    FakeWindow window;
    Movie movie;
};

} // namespace

TEST(FrameBytesTest, RoundsRowsUpToWholeWordsAndRefusesWhatDoesNotFit) {
    struct Case {
        LONG w, h;
        WORD bits;
        LONG bytes;
    };
    // The last three wrap in 32-bit arithmetic to small or negative sizes.
    for (const Case& c : {Case{320, 240, 8, 76800},
                          {321, 240, 8, 77760},
                          {160, 120, 16, 38400},
                          {321, 240, 24, 233280},
                          {320, -240, 24, 230400},
                          {40000, 40000, 32, -1},
                          {0x7fffffff, 1, 8, -1},
                          {-4, 10, 8, -1}}) {
        BITMAPINFOHEADER hdr{};
        hdr.biWidth = c.w;
        hdr.biHeight = c.h;
        hdr.biBitCount = c.bits;
        EXPECT_EQ(FrameBytes(hdr), c.bytes) << c.w << "x" << c.h << "x" << c.bits;
    }
}

TEST_F(MovieTest, StreamsFrameRangeAndBuffer) {
    ASSERT_EQ(Open(MovieSpec{.width = 321,
                             .height = 240,
                             .bits = 24,
                             .rate = 30000,
                             .scale = 1001,
                             .start = 5,
                             .frames = 100}),
              0);
    EXPECT_EQ(movie.audioStream, nullptr) << "a movie without sound opens and plays silently";
    EXPECT_EQ(movie.firstFrame, 5);
    EXPECT_EQ(movie.lastFrame, 104);
    EXPECT_EQ(movie.position, 5);
    EXPECT_EQ(movie.decodedFrame, 4);
    EXPECT_FLOAT_EQ(movie.frameRate, 29.97003f);
    EXPECT_EQ(movie.frameBufferSize, 233280);

    Movie other;
    ASSERT_EQ(other.OpenFile(WriteMovie(MovieSpec{.audio = true}, "audio.avi").c_str()), 0);
    ASSERT_EQ(other.OpenStreams(&window), 0);
    EXPECT_NE(other.audioStream, nullptr);
}

TEST_F(MovieTest, RefusedStreams) {
    EXPECT_EQ(Open(MovieSpec{.audio = true, .video = false}), -1);
    EXPECT_EQ(movie.decoder, nullptr);
    EXPECT_NE(movie.aviFile, nullptr) << "the file stays attached until closed";

    const FOURCC none = mmioFOURCC('n', 'o', 'n', 'e');
    EXPECT_EQ(Open(MovieSpec{.compression = none, .handler = none}), -21) << "no codec decompresses it";
    EXPECT_EQ(movie.decoder, nullptr);
    EXPECT_EQ(movie.frameBuffer, nullptr);

    // A stored scale of 0 (the writer will not make one; patch the header).
    const std::string noRate = WriteMovie(MovieSpec{}, "norate.avi");
    ASSERT_TRUE(
        cadmo::test::PatchStreamHeader(noRate, streamtypeVIDEO, offsetof(AVIStreamHeader, dwScale), 0));
    ASSERT_EQ(movie.OpenFile(noRate.c_str()), 0);
    EXPECT_EQ(movie.OpenStreams(&window), -1) << "a stream without a frame rate cannot be timed";
    EXPECT_EQ(movie.decoder, nullptr);

    EXPECT_EQ(Open(MovieSpec{.width = 40000, .height = 40000, .bits = 32}), -1)
        << "a frame larger than any buffer is refused, not given a short one";
    EXPECT_EQ(movie.frameBuffer, nullptr);
}

TEST_F(MovieTest, SeekStepAndKeyFramesClampAndKeepTheirBookkeeping) {
    EXPECT_EQ(movie.IsKeyFrame(0), 0) << "no video stream";
    ASSERT_EQ(Open(MovieSpec{.frames = 40}), 0);
    EXPECT_EQ(movie.IsKeyFrame(15), 1);
    EXPECT_EQ(movie.IsKeyFrame(16), 0);
    movie.Seek(15);
    EXPECT_EQ(movie.IsKeyFrame(-1), 1) << "-1: the current position";
    movie.Seek(14);
    EXPECT_EQ(movie.IsKeyFrame(-1), 0);

    EXPECT_EQ(movie.Seek(1073741824), 39);
    EXPECT_EQ(movie.Seek(-5), 0);
    EXPECT_EQ(movie.decodedFrame, -1);
    EXPECT_EQ(movie.prevKeyFrame, -1);
    EXPECT_EQ(movie.nextKeyFrame, -1);

    movie.Seek(10);
    movie.decodedFrame = 9;
    movie.prevKeyFrame = 0;
    movie.nextKeyFrame = 15;
    EXPECT_EQ(movie.Step(-100), 0);
    EXPECT_EQ(movie.decodedFrame, 9) << "stepping onto the first frame leaves the bookkeeping";
    EXPECT_EQ(movie.prevKeyFrame, 0);
    EXPECT_EQ(movie.Step(-1), 0);
    movie.Seek(39);
    EXPECT_EQ(movie.Step(1), 39);
    EXPECT_EQ(movie.Step(0x7fffffff), 39) << "no wrap past the 32-bit range";
    EXPECT_EQ(movie.Step(-0x7fffffff - 1), 0);

    movie.playing = 1;
    EXPECT_EQ(movie.Seek(5), -1);
    EXPECT_EQ(movie.Step(1), -1);
    EXPECT_EQ(movie.position, 0);
    movie.playing = 0;
}

// Beyond the bare header only a whole colour table is taken: the driver
// sees it and the number of its colours; anything else beyond the 40 bytes
// is refused.
TEST_F(MovieTest, FormatsWithAColourTable) {
    struct Case {
        WORD bits;
        int stored;    // entries stored after the header
        DWORD clrUsed; // claimed
        LONG result;
        DWORD seen; // biClrUsed the driver sees
    };
    for (const Case& c : {Case{8, 256, 0, 0, 256},
                          {8, 256, 256, 0, 256},
                          {4, 16, 0, 0, 16},
                          {8, 20, 20, 0, 20},
                          {8, 40, 20, 0, 20},   // more stored than claimed: the claim counts
                          {8, 16, 256, -1, 0},  // claims more than is stored
                          {8, 16, 0, -1, 0},    // 0 claims 256
                          {4, 17, 17, -1, 0},   // more colours than 4 bits index
                          {8, 257, 257, -1, 0}, // larger than any table
                          {24, 16, 16, -1, 0},  // no table at 24 bits
                          {8, 0, 300, 0, 0}}) { // a bare header: the claim is cleared
        FakeCodec::Get().ClearCalls();
        const LONG result = Open(MovieSpec{.bits = c.bits, .colorTable = c.stored, .clrUsed = c.clrUsed});
        EXPECT_EQ(result, c.result) << c.bits << " bits, " << c.stored << " stored, " << c.clrUsed
                                    << " claimed";
        if (result != 0) {
            EXPECT_EQ(movie.decoder, nullptr);
            continue;
        }
        const auto queries = FakeCodec::Get().Calls(ICM_DECOMPRESS_QUERY);
        ASSERT_FALSE(queries.empty());
        EXPECT_EQ(queries.back().src.biClrUsed, c.seen) << c.stored << " stored";
        BITMAPINFOHEADER in{};
        movie.decoder->GetInputFormat(&in);
        EXPECT_EQ(in.biClrUsed, c.seen);
    }
}

TEST_F(MovieTest, DriversNeverSeeAColourTableTheFileOnlyClaims) {
    // The stored format is a bare header whose biClrUsed claims colours that
    // are not there; a driver that trusted it would read past the record.
    ASSERT_EQ(Open(MovieSpec{.clrUsed = 300}), 0);
    HDC dc = window.GetDC();
    ASSERT_EQ(movie.BeginDrawing(dc, -1), 0);
    movie.EndDrawing();
    window.ReleaseDC(dc);
    const auto queries = FakeCodec::Get().Calls(ICM_DECOMPRESS_QUERY);
    ASSERT_FALSE(queries.empty());
    for (const CodecCall& call : queries) {
        EXPECT_EQ(call.src.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(call.src.biClrUsed, 0u);
    }
    for (const CodecCall& call : FakeCodec::Get().Calls(ICM_DECOMPRESSEX_BEGIN))
        EXPECT_EQ(call.src.biClrUsed, 0u);
}
