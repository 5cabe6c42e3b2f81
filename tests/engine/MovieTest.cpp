// Opening movies, positioning and key frames.

#include <cstddef>
#include <tuple>

#include "EngineTestSupport.h"
#include "video/VideoDecoder.h"

using namespace enginetest;
using cadmo::test::TestAviSpec;

using MovieTest = MovieFixture;

// The frame range counts from the stream's start; a movie without sound
// opens and plays silently.
TEST_F(MovieTest, StreamsFrameRangeAndBuffer) {
    TestAviSpec spec = FakeMovie(100);
    spec.start = 5;
    ASSERT_EQ(Open(spec), 0);
    EXPECT_EQ(movie.audioStream, nullptr);
    EXPECT_EQ(std::tuple(movie.firstFrame, movie.lastFrame, movie.position.load(), movie.decodedFrame.load()),
              std::tuple(5, 104, 5, 4));
    Draw(50);
    EXPECT_EQ(SurfaceGrey(*window.surface, 0, 0), 50) << "frame 50 is the stream's 46th";
}

TEST_F(MovieTest, RefusedStreams) {
    // A movie opened and stepped on before, as the window may have done.
    ASSERT_EQ(Open(FakeMovie(20)), 0);
    movie.position = 7;
    TestAviSpec noVideo = FakeMovie();
    noVideo.audio = true;
    noVideo.video = false;
    EXPECT_EQ(Open(noVideo), -1);
    EXPECT_EQ(movie.decoder, nullptr);
    EXPECT_NE(movie.aviFile, nullptr) << "the file stays attached until closed";
    EXPECT_EQ(std::tuple(movie.position.load(), movie.firstFrame, movie.lastFrame, movie.frameRate),
              std::tuple(0, 0, 0, 0.0f))
        << "the status bar shows no position of the movie before";

    TestAviSpec noCodec = FakeMovie();
    noCodec.compression = noCodec.handler = mmioFOURCC('n', 'o', 'n', 'e');
    EXPECT_EQ(Open(noCodec), -21) << "no codec decompresses it";
    EXPECT_EQ(movie.decoder, nullptr);
    EXPECT_EQ(movie.frameBuffer, nullptr);

    // A stored scale of 0 (the writer will not make one; patch the header).
    const std::string noRate = WriteMovie(FakeMovie(), dir.File("norate.avi"));
    ASSERT_TRUE(
        cadmo::test::PatchStreamHeader(noRate, streamtypeVIDEO, offsetof(AVIStreamHeader, dwScale), 0));
    movie.ReleaseFile();
    ASSERT_EQ(movie.OpenFile(noRate.c_str()), 0);
    EXPECT_EQ(movie.OpenStreams(&window), -1) << "a stream without a frame rate cannot be timed";
    EXPECT_EQ(movie.decoder, nullptr);

    TestAviSpec huge = FakeMovie();
    huge.width = huge.height = 40000;
    huge.bitCount = 32;
    EXPECT_EQ(Open(huge), -1) << "a frame larger than any buffer is refused, not given a short one";
    EXPECT_EQ(movie.frameBuffer, nullptr);
}

TEST_F(MovieTest, SeekStepAndKeyFramesClampAndKeepTheirBookkeeping) {
    EXPECT_EQ(movie.IsKeyFrame(0), 0) << "no video stream";
    ASSERT_EQ(Open(FakeMovie(40)), 0);
    EXPECT_EQ(std::pair(movie.IsKeyFrame(15), movie.IsKeyFrame(16)), std::pair(1, 0));
    movie.Seek(15);
    EXPECT_EQ(movie.IsKeyFrame(-1), 1) << "-1: the current position";
    movie.Seek(14);
    EXPECT_EQ(movie.IsKeyFrame(-1), 0);

    EXPECT_EQ(movie.Seek(1073741824), 39);
    EXPECT_EQ(movie.Seek(-5), 0);
    EXPECT_EQ(std::tuple(movie.decodedFrame.load(), movie.prevKeyFrame, movie.nextKeyFrame),
              std::tuple(-1, -1, -1));

    movie.Seek(10);
    EXPECT_EQ(movie.Step(-100), 0);
    movie.Seek(39);
    EXPECT_EQ(movie.Step(1), 39);
    EXPECT_EQ(movie.Step(0x7fffffff), 39) << "no wrap past the 32-bit range";
    EXPECT_EQ(movie.Step(-0x7fffffff - 1), 0);

    movie.playing = 1;
    EXPECT_EQ(std::tuple(movie.Seek(5), movie.Step(1), movie.position.load()), std::tuple(-1, -1, 0));
    movie.playing = 0;
}

// Beyond the bare header only a whole colour table is taken: the driver
// sees it and the number of its colours, in every message that carries the
// format; anything else beyond the 40 bytes is refused. A colour table the
// file only claims never reaches a driver, which would read past the record.
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
        SCOPED_TRACE(testing::Message()
                     << c.bits << " bits, " << c.stored << " stored, " << c.clrUsed << " claimed");
        TestAviSpec spec = FakeMovie();
        spec.bitCount = c.bits;
        spec.colors.resize(static_cast<std::size_t>(c.stored));
        spec.clrUsed = c.clrUsed;
        FakeCodec::Get().ClearCalls();
        ASSERT_EQ(Open(spec), c.result);
        if (c.result != 0) {
            EXPECT_EQ(movie.decoder, nullptr);
            continue;
        }
        Draw(0);
        std::vector<CodecCall> calls = FakeCodec::Get().Calls(ICM_DECOMPRESS_QUERY);
        for (const CodecCall& call : FakeCodec::Get().Calls(ICM_DECOMPRESSEX))
            calls.push_back(call);
        ASSERT_GE(calls.size(), 2u);
        for (const CodecCall& call : calls)
            EXPECT_EQ(std::pair(call.src.biSize, call.src.biClrUsed), std::pair(DWORD{40}, c.seen));
    }
}
