// Choosing the frame for the clock: key-frame catch-up, skipping, repaints.
// The clock is the test's; every frame's data names its own number, so the
// fake codec's log shows exactly which frames were decoded and how.

#include "EngineTestSupport.h"
#include "engine/Movie.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

using Decodes = std::vector<std::pair<LONG, DWORD>>;
constexpr DWORD kHurry = ICDECOMPRESS_HURRYUP;

class SchedulerTest : public EngineTest {
protected:
    void TearDown() override {
        movie.Stop();
        if (dc)
            window.ReleaseDC(dc);
    }
    void Open(const MovieSpec& spec) {
        ASSERT_EQ(movie.OpenFile(WriteMovie(spec, "movie.avi").c_str()), 0);
        ASSERT_EQ(movie.OpenStreams(&window), 0);
        movie.SetClock(&clock);
    }
    void Play() {
        dc = window.GetDC();
        startTime = clock.system;
        ASSERT_EQ(movie.Play(dc), 0);
    }
    // Sets the clock to the moment frame `f` is due and runs one step.
    LONG ShowAt(LONG f) {
        clock.system = startTime + static_cast<DWORD>(movie.FrameToTime(f) - movie.FrameToTime(0));
        return movie.ShowFrame();
    }
    Decodes TakeDecodes() {
        Decodes d = FakeCodec::Get().Decodes();
        FakeCodec::Get().ClearCalls();
        return d;
    }
    void PlayThrough3() {
        Open(MovieSpec{});
        Play();
        for (LONG f = 0; f <= 3; ++f)
            ASSERT_EQ(ShowAt(f), 0);
        EXPECT_EQ(TakeDecodes(), (Decodes{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));
        EXPECT_EQ(movie.skippedFrames, -1) << "drawing the start frame counts against the start position";
    }
    Decodes RepaintAt(LONG f) {
        movie.Seek(f);
        HDC paint = window.GetDC();
        EXPECT_EQ(movie.BeginDrawing(paint, -1), 0);
        EXPECT_EQ(movie.ShowFrame(), 0);
        movie.EndDrawing();
        window.ReleaseDC(paint);
        return TakeDecodes();
    }

    FakeWindow window;
    FakeClock clock;
    Movie movie;
    HDC dc = nullptr;
    DWORD startTime = 0;
};

} // namespace

// Key frames every 15; plays drawn from frame 0 through 3, then late.
TEST_F(SchedulerTest, LateFramesAreCaughtUpFromTheNearerKeyFrameOrSkipped) {
    PlayThrough3();
    // 3 -> 12: key frame 15 is nearer than 0, so 12 is not drawn at all.
    EXPECT_EQ(ShowAt(12), 0);
    EXPECT_EQ(movie.position, 12);
    EXPECT_EQ(ShowAt(14), 0);
    EXPECT_TRUE(TakeDecodes().empty());
    // 15 is a key frame: drawn directly, everything since 3 counted as skipped.
    EXPECT_EQ(ShowAt(15), 0);
    EXPECT_EQ(TakeDecodes(), (Decodes{{15, 0}}));
    EXPECT_EQ(movie.skippedFrames, -1 + 11);
    EXPECT_EQ(movie.decodedFrame, 15);
}

TEST_F(SchedulerTest, NearerPreviousKeyFrameDecodesTheGapWithoutDrawing) {
    PlayThrough3();
    clock.system += 10; // still frame 3: the frame on screen is not decoded again
    EXPECT_EQ(movie.ShowFrame(), 0);
    EXPECT_TRUE(TakeDecodes().empty());
    // 3 -> 6: the previous key frame (0) is nearer than the next (15).
    EXPECT_EQ(ShowAt(6), 0);
    EXPECT_EQ(TakeDecodes(), (Decodes{{4, kHurry}, {5, kHurry}, {6, 0}}));
    EXPECT_EQ(movie.skippedFrames, -1 + 2);
    // Decoded 7 due 9: the one frame between is decoded in a hurry.
    ShowAt(7);
    TakeDecodes();
    EXPECT_EQ(ShowAt(9), 0);
    EXPECT_EQ(TakeDecodes(), (Decodes{{8, kHurry}, {9, 0}}));
    EXPECT_EQ(movie.skippedFrames, -1 + 2 + 1);
    // Catch-up frames go to the hidden buffer, never over the shown picture.
    ShowAt(10);
    ShowAt(13); // back 13, ahead 2: skipped
    EXPECT_EQ(ShowAt(12), 0) << "a clock going back within a play";
    for (const CodecCall& c : FakeCodec::Get().Calls(ICM_DECOMPRESSEX))
        EXPECT_EQ(c.rec.lpDst,
                  (c.flags & kHurry) ? movie.decoder->pixelBuffer.get() : movie.decoder->dibBits);
}

TEST_F(SchedulerTest, EveryFrameAKeyFrameDrawsTheDueFrameDirectly) {
    Open(MovieSpec{.keyEvery = 1});
    Play();
    ShowAt(0);
    EXPECT_EQ(ShowAt(4), 0);
    EXPECT_EQ(ShowAt(5), 0);
    EXPECT_EQ(TakeDecodes(), (Decodes{{0, 0}, {4, 0}, {5, 0}}));
    EXPECT_EQ(movie.skippedFrames, -1 + 3);
}

TEST_F(SchedulerTest, RepaintsDecodeFromTheKeyFrame) {
    Open(MovieSpec{.frames = 60});
    const Decodes fromKey{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 0}};
    EXPECT_EQ(RepaintAt(9), fromKey);
    EXPECT_EQ(RepaintAt(9), fromKey) << "the same frame again: decoded afresh from its key frame";
    // Backwards: from the key frame at or before the new position.
    RepaintAt(22);
    EXPECT_EQ(RepaintAt(18), (Decodes{{15, 0}, {16, 0}, {17, 0}, {18, 0}}));
    // The cached key frame (15) now lies beyond the position: 0 comes first.
    EXPECT_EQ(RepaintAt(1), (Decodes{{0, 0}, {1, 0}}));
    EXPECT_EQ(movie.skippedFrames, 0) << "repaints count nothing";
    // Another movie, opened as the player does after a close: the key frames
    // cached around 35 of the first (30 and 45) mean nothing in the second.
    RepaintAt(35);
    movie.CloseStreams();
    movie.ReleaseFile();
    Open(MovieSpec{.frames = 60, .keyEvery = 40});
    Decodes fromZero;
    for (LONG f = 0; f <= 35; ++f)
        fromZero.push_back({f, 0});
    EXPECT_EQ(RepaintAt(35), fromZero);
}

TEST_F(SchedulerTest, SystemClockWithoutAudioIncludingPastTwoToTheThirtyOne) {
    // The system clock counts from boot; after 24.8 days it no longer fits a
    // signed start time, and at 49.7 days it wraps. Time must still run.
    Open(MovieSpec{.rate = 10});
    for (DWORD boot : {1000u, 0x80000000u + 123, 0xffffff00u}) {
        SCOPED_TRACE(boot);
        movie.Seek(0);
        clock.system = boot;
        Play();
        EXPECT_GE(movie.playStartTime, 0);
        clock.system = startTime + 499;
        EXPECT_EQ(movie.ShowFrame(), 0);
        EXPECT_EQ(movie.position, 4);
        clock.system = startTime + 500;
        movie.ShowFrame();
        EXPECT_EQ(movie.position, 5) << "10 fps: frame 5 at 500 ms";
        clock.system = startTime + 1000000;
        movie.ShowFrame();
        EXPECT_EQ(movie.position, movie.lastFrame) << "the clock is clamped to the last frame";
        movie.Stop();
        window.ReleaseDC(dc);
        dc = nullptr;
    }
}

TEST_F(SchedulerTest, AudioClockLeadsWhenItHasAValue) {
    Open(MovieSpec{});
    Play();
    clock.audio = movie.FrameToTime(7);
    movie.ShowFrame();
    EXPECT_EQ(movie.position, 7);
    clock.audio = -14; // position unreadable: back to the system clock
    ShowAt(9);
    EXPECT_EQ(movie.position, 9);
}

TEST_F(SchedulerTest, NothingIsDrawnOutsideADrawingCycle) {
    Open(MovieSpec{});
    EXPECT_EQ(movie.ShowFrame(), -23);
    EXPECT_EQ(movie.BeginDrawing(nullptr, -1), -22);
    EXPECT_EQ(movie.EndDrawing(), -22);
    FakeCodec::Get().beginAnswer = ICERR_BADFORMAT;
    dc = window.GetDC();
    EXPECT_EQ(movie.BeginDrawing(dc, -1), -21);
    EXPECT_EQ(movie.drawDC, nullptr) << "a failed begin ends drawing again";
    EXPECT_EQ(movie.ShowFrame(), -23);
    EXPECT_TRUE(TakeDecodes().empty());
}

TEST_F(SchedulerTest, NextFrameDueTimeIsTheFirstMillisecondOfTheNextFrame) {
    for (auto [rate, scale] : {std::pair<DWORD, DWORD>{15, 1}, {30000, 1001}, {25, 1}, {10, 1}, {24, 1}}) {
        Open(MovieSpec{.rate = rate, .scale = scale, .frames = 40});
        for (LONG f = 0; f < 39; ++f) {
            movie.position = f;
            const LONG due = movie.NextFrameDueTime();
            EXPECT_EQ(movie.TimeToFrame(due), f + 1) << rate << "/" << scale << " frame " << f;
            EXPECT_EQ(movie.TimeToFrame(due - 1), f) << rate << "/" << scale << " frame " << f;
        }
        movie.CloseStreams();
        movie.ReleaseFile();
    }
}

// A codec with a reorder delay gets each frame's picture from the chunk that
// many frames on: the chunks before it in a run are fed in a hurry, undrawn;
// past the last chunk empty end-of-stream frames drain it; a jump flushes it
// first. A delay larger than the movie (or than any codec has) is held to
// 16 frames and ends in drains, never in a hang.
TEST_F(SchedulerTest, ReorderDelayFeedsChunksAheadAndDrainsPastTheEnd) {
    constexpr DWORD kEnd = ICDECOMPRESS_ENDOFSTREAM;
    FakeCodec::Get().delayAnswer = 2;
    MovieSpec spec;
    spec.frames = 5;
    spec.keyEvery = 3;
    Open(spec);
    Play();
    ASSERT_EQ(ShowAt(0), 0);
    EXPECT_EQ(TakeDecodes(), (Decodes{{0, 0}, {1, kHurry}, {2, 0}})) << "the delay is learnt from the first";
    for (LONG f = 1; f <= 4; ++f)
        ASSERT_EQ(ShowAt(f), 0);
    EXPECT_EQ(TakeDecodes(), (Decodes{{3, 0}, {4, 0}, {-1, kEnd}, {-1, kEnd}}));
    movie.Stop();
    FakeCodec::Get().ClearCalls();
    movie.Seek(3);
    HDC paint = window.GetDC();
    ASSERT_EQ(movie.BeginDrawing(paint, -1), 0);
    ASSERT_EQ(movie.ShowFrame(), 0);
    movie.EndDrawing();
    EXPECT_EQ(FakeCodec::Get().Calls(ICM_DECOMPRESS_FLUSH).size(), 1u);
    EXPECT_EQ(TakeDecodes(), (Decodes{{3, kHurry}, {4, kHurry}, {-1, kEnd}}));

    FakeCodec::Get().delayAnswer = 0x7fffffff;
    Movie huge;
    ASSERT_EQ(huge.OpenFile(WriteMovie(spec, "huge.avi").c_str()), 0);
    ASSERT_EQ(huge.OpenStreams(&window), 0);
    ASSERT_EQ(huge.BeginDrawing(paint, -1), 0);
    ASSERT_EQ(huge.ShowFrame(), 0);
    const Decodes fed = TakeDecodes();
    ASSERT_EQ(fed.size(), 17u);
    EXPECT_EQ(fed.back(), (std::pair<LONG, DWORD>{-1, kEnd}));
    huge.EndDrawing();
    window.ReleaseDC(paint);
}
