// Choosing the frame for the clock: key-frame catch-up, skipping, repaints.
// The clock is the test's; every frame's data names its own number, so the
// fake codec's log shows exactly which frames were decoded and how.

#include <algorithm>

#include "EngineTestSupport.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

using Decodes = std::vector<std::pair<LONG, DWORD>>;
constexpr DWORD kHurry = ICDECOMPRESS_HURRYUP;

class SchedulerTest : public MovieFixture {
protected:
    void TearDown() override { StopPlay(); }
    void Play() {
        dc = window.GetDC();
        startTime = clock.system;
        ASSERT_EQ(movie.Play(dc), 0);
    }
    void StopPlay() {
        movie.Stop();
        if (dc)
            window.ReleaseDC(dc);
        dc = nullptr;
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
    Decodes RepaintAt(LONG f) {
        movie.Seek(f);
        Draw(-1);
        return TakeDecodes();
    }
    // Frames `from` to `to` decoded in turn, none in a hurry.
    static Decodes Run(LONG from, LONG to) {
        Decodes run;
        for (LONG f = from; f <= to; ++f)
            run.emplace_back(f, 0);
        return run;
    }

    HDC dc = nullptr;
    DWORD startTime = 0;
};

} // namespace

// A play whose clock runs late: the due frame is drawn when it is a key
// frame or the next after the decoded one (the one between decoded in a
// hurry), caught up from the previous key frame when that is no farther than
// the next, and otherwise skipped until the next key frame. The position
// follows the clock whether or not a frame is drawn; drawing the start frame
// counts against the start position in the skipped count.
TEST_F(SchedulerTest, LateFramesAreCaughtUpFromTheNearerKeyFrameOrSkipped) {
    const struct {
        const char* what;
        int keyEvery;
        std::vector<LONG> due;     // the frames the clock reaches, in order
        std::vector<LONG> decoded; // the frames decoded, in order
        std::vector<LONG> hurried; // those of them decoded in a hurry, undrawn
        LONG skipped;
    } runs[] = {
        // 12 and 14 lie nearer key frame 15 than 0: nothing is drawn until 15.
        {"the next key frame is nearer", 15, {0, 1, 2, 3, 12, 14, 15}, {0, 1, 2, 3, 15}, {}, 10},
        // Frame 3 again is not decoded again; 13 (back 13, ahead 2) is
        // skipped; the clock then goes back to 12 within the play.
        {"the previous key frame is nearer",
         15,
         {0, 1, 2, 3, 3, 6, 7, 9, 10, 13, 12},
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
         {4, 5, 8, 11},
         3},
        {"every frame a key frame", 1, {0, 4, 5}, {0, 4, 5}, {}, 2},
        // Key frames equally near: caught up, not skipped.
        {"key frames 0 and 10 around 5", 10, {0, 5}, {0, 1, 2, 3, 4, 5}, {1, 2, 3, 4}, 3},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.what);
        ASSERT_EQ(Open(FakeMovie(30, run.keyEvery)), 0);
        Play();
        for (LONG due : run.due) {
            ASSERT_EQ(ShowAt(due), 0) << due;
            EXPECT_EQ(movie.position, due);
        }
        Decodes expected;
        for (LONG f : run.decoded)
            expected.emplace_back(f, std::count(run.hurried.begin(), run.hurried.end(), f) ? kHurry : 0);
        EXPECT_EQ(FakeCodec::Get().Decodes(), expected);
        EXPECT_EQ(movie.skippedFrames, run.skipped);
        // Catch-up frames go to the hidden buffer, never over the shown picture.
        for (const CodecCall& c : FakeCodec::Get().Calls(ICM_DECOMPRESSEX))
            EXPECT_EQ(c.rec.lpDst,
                      (c.flags & kHurry) ? movie.decoder->pixelBuffer.get() : movie.decoder->dibBits);
        FakeCodec::Get().ClearCalls();
        StopPlay();
    }
}

TEST_F(SchedulerTest, RepaintsDecodeFromTheKeyFrame) {
    Open(FakeMovie(60));
    EXPECT_EQ(RepaintAt(9), Run(0, 9));
    EXPECT_EQ(RepaintAt(9), Run(0, 9)) << "the same frame again: decoded afresh from its key frame";
    // Backwards: from the key frame at or before the new position.
    RepaintAt(22);
    EXPECT_EQ(RepaintAt(18), Run(15, 18));
    // The cached key frame (15) now lies beyond the position: 0 comes first.
    EXPECT_EQ(RepaintAt(1), Run(0, 1));
    EXPECT_EQ(movie.skippedFrames, 0) << "repaints count nothing";
    // Another movie, opened as the player does after a close: the key frames
    // cached around 35 of the first (30 and 45) mean nothing in the second.
    RepaintAt(35);
    Open(FakeMovie(60, 40));
    EXPECT_EQ(RepaintAt(35), Run(0, 35));
}

TEST_F(SchedulerTest, SystemClockWithoutAudioIncludingPastTwoToTheThirtyOne) {
    // The system clock counts from boot; after 24.8 days it no longer fits a
    // signed start time, and at 49.7 days it wraps. Time must still run.
    ASSERT_EQ(Open(FakeMovie(30, 15, 10)), 0);
    for (DWORD boot : {1000u, 0x80000000u + 123, 0xffffff00u}) {
        SCOPED_TRACE(boot);
        movie.Seek(0);
        clock.system = boot;
        Play();
        EXPECT_GE(movie.playStartTime, 0);
        // 10 a second: frame 5 at 500 ms; the clock is clamped to the last frame.
        for (auto [ms, frame] : {std::pair<DWORD, LONG>{499, 4}, {500, 5}, {1000000, 29}}) {
            clock.system = startTime + ms;
            EXPECT_EQ(movie.ShowFrame(), 0);
            EXPECT_EQ(movie.position, frame) << ms << " ms";
        }
        StopPlay();
    }
    // With sound, its clock leads while it has a value; unreadable, the
    // system clock takes over again.
    movie.Seek(0);
    Play();
    clock.audio = movie.FrameToTime(7);
    movie.ShowFrame();
    EXPECT_EQ(movie.position, 7);
    clock.audio = -14;
    ShowAt(9);
    EXPECT_EQ(movie.position, 9);
}

// Looking ahead, the frame due within the lead is decoded at once but reaches
// the screen only when it is due; one already due is shown at once; and a
// play that stops with a frame held back shows it, as the position says.
TEST_F(SchedulerTest, FramesDecodedAheadAreShownWhenDue) {
    ASSERT_EQ(Open(FakeMovie()), 0);
    Play();
    ASSERT_EQ(ShowAt(0), 0);
    const auto screen = [&] { return SurfaceGrey(*window.surface, 0, 0); };
    const auto aheadOf = [&](LONG f, LONG ms) {
        clock.system = startTime + static_cast<DWORD>(movie.FrameDueTime(f) - ms);
        return movie.ShowFrame(5);
    };
    ASSERT_EQ(aheadOf(1, 4), 0);
    EXPECT_EQ(movie.position, 1);
    // The playing thread waits for the next frame's due time: the first
    // millisecond of frame 2 (15 a second: not a whole millisecond apart).
    EXPECT_EQ(movie.TimeToFrame(movie.NextFrameDueTime()), 2);
    EXPECT_EQ(movie.TimeToFrame(movie.NextFrameDueTime() - 1), 1);
    EXPECT_EQ(TakeDecodes(), (Decodes{{0, 0}, {1, 0}}));
    EXPECT_EQ(screen(), 0) << "decoded 4 ms before it is due";
    ASSERT_TRUE(movie.FramePending());
    EXPECT_EQ(movie.PendingDueTime(), movie.FrameDueTime(1));
    EXPECT_EQ(movie.PresentFrame(), 0);
    EXPECT_EQ(screen(), 1);
    EXPECT_FALSE(movie.FramePending());

    ASSERT_EQ(aheadOf(2, 0), 0);
    EXPECT_EQ(screen(), 2) << "due now: no waiting";
    EXPECT_FALSE(movie.FramePending());

    ASSERT_EQ(aheadOf(3, 2), 0);
    EXPECT_EQ(screen(), 2);
    StopPlay();
    EXPECT_EQ(screen(), 3) << "the held-back frame is shown when the play stops";
    EXPECT_FALSE(movie.FramePending());
}

// A codec with a reorder delay gets each frame's picture from the chunk that
// many frames on: the chunks before it in a run are fed in a hurry, undrawn;
// past the last chunk empty end-of-stream frames drain it; a jump flushes it
// first. A delay larger than the movie (or than any codec has) is held to
// 16 frames and ends in drains, never in a hang.
TEST_F(SchedulerTest, ReorderDelayFeedsChunksAheadAndDrainsPastTheEnd) {
    constexpr DWORD kEnd = ICDECOMPRESS_ENDOFSTREAM;
    FakeCodec::Get().delayAnswer = 2;
    const cadmo::test::TestAviSpec spec = FakeMovie(5, 3);
    ASSERT_EQ(Open(spec), 0);
    Play();
    ASSERT_EQ(ShowAt(0), 0);
    EXPECT_EQ(TakeDecodes(), (Decodes{{0, 0}, {1, kHurry}, {2, 0}})) << "the delay is learnt from the first";
    for (LONG f = 1; f <= 4; ++f)
        ASSERT_EQ(ShowAt(f), 0);
    EXPECT_EQ(TakeDecodes(), (Decodes{{3, 0}, {4, 0}, {-1, kEnd}, {-1, kEnd}}));
    StopPlay();
    FakeCodec::Get().ClearCalls();
    movie.Seek(3);
    Draw(-1);
    EXPECT_EQ(FakeCodec::Get().Calls(ICM_DECOMPRESS_FLUSH).size(), 1u);
    EXPECT_EQ(TakeDecodes(), (Decodes{{3, kHurry}, {4, kHurry}, {-1, kEnd}}));

    FakeCodec::Get().delayAnswer = 0x7fffffff;
    ASSERT_EQ(Open(spec), 0);
    const Decodes fed = RepaintAt(0);
    ASSERT_EQ(fed.size(), 17u);
    EXPECT_EQ(fed.back(), (std::pair<LONG, DWORD>{-1, kEnd}));
}
