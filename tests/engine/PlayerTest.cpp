// The player's transport: flags, thread, device contexts and the commands
// the playback thread posts back to the window.

#include <tuple>

#include "EngineTestSupport.h"
#include "engine/Player.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

namespace {

class PlayerTest : public EngineTest, protected PlayerOnWindow {
protected:
    void Open(const cadmo::test::TestAviSpec& spec) {
        ASSERT_EQ(OpenMovie(&window, WriteMovie(spec, dir.File("movie.avi")).c_str()), 1);
    }
};

} // namespace

// Jumps by a tenth of the movie, held to the movie, and by seconds at the
// movie's own rate, which need not be a whole number of frames.
TEST_F(PlayerTest, JumpsByPercentAndSeconds) {
    const auto jump = [&](int frames, DWORD rate, DWORD scale, void (*by)(OwnerWindow*, LONG), LONG amount) {
        Open(FakeMovie(frames, 15, rate, scale));
        SeekToFrame(&window, 50);
        by(&window, amount);
        return theMovie->position.load();
    };
    EXPECT_EQ(jump(1000, 15, 1, JumpPercent, 0x7fffffff), 999);
    EXPECT_EQ(jump(100, 30000, 1001, JumpSeconds, -1), 20);
    EXPECT_EQ(jump(100, 25, 2, JumpSeconds, 1), 63) << "12.5 frames a second, rounded";
}

// Files that fail to open are the window tests' (they see the messages);
// here, what the window is told, and the playing thread a new movie ends.
TEST_F(PlayerTest, OpeningAndClosing) {
    const int fitsBefore = window.fitWindows;
    CloseMovie(&window);
    EXPECT_EQ(window.fitWindows, fitsBefore) << "closing nothing posts nothing";
    Open(FakeMovie(600));
    EXPECT_EQ(window.fitWindows, fitsBefore + 1);
    StartPlayback(&window);
    ASSERT_NE(playbackThreadHandle, nullptr);
    Open(FakeMovie(600));
    EXPECT_EQ(playbackThreadHandle, nullptr);
    EXPECT_EQ(playerPlaying, 0);
    StartPlayback(&window);
    EXPECT_NE(playbackThreadHandle, nullptr);
    EXPECT_EQ(playerPlaying, 1);
}

TEST_F(PlayerTest, PlaysToTheEndOnTheSystemClockThenStopsOrLoops) {
    Open(FakeMovie(12, 1, 60));
    StartPlayback(&window);
    ASSERT_TRUE(window.WaitForPosted(IDM_STOP));
    EXPECT_EQ(playerPlaying, 0) << "the thread clears the flag itself";
    EXPECT_EQ(SurfaceGrey(*window.surface, 0, 0), 11) << "the last frame is drawn before the end is seen";
    // A repaint before the posted Stop arrives must not take over the playing
    // context (TearDown checks that every context came back).
    HDC paint = window.GetDC();
    PaintMovie(paint);
    window.ReleaseDC(paint);
    EXPECT_EQ(window.TakePosted(), (std::vector<WORD>{IDM_STOP}));
    window.Dispatch(IDM_STOP);
    EXPECT_EQ(theMovie->playing, 0);
    EXPECT_EQ(theMovie->drawDC, nullptr);
    EXPECT_EQ(theMovie->skippedFrames, 0) << "the Stop command zeroes the count";

    loopPlayback = 1;
    StartPlayback(&window);
    ASSERT_TRUE(window.WaitForPosted(IDM_PLAY));
    EXPECT_EQ(window.TakePosted(), (std::vector<WORD>{IDM_STOP, IDM_REWIND, IDM_PLAY}));
    window.Dispatch(IDM_STOP);
    window.Dispatch(IDM_REWIND);
    EXPECT_EQ(theMovie->position, 0);
    window.Dispatch(IDM_PLAY);
    EXPECT_EQ(playerPlaying, 1);
    loopPlayback = 0;
    StopPlayback(&window);
}

TEST_F(PlayerTest, PauseResumeSeekAndStep) {
    Open(FakeMovie(600));
    StartPlayback(&window);
    PlaybackThread* thread = playbackThreadHandle.get();
    ASSERT_NE(thread, nullptr);
    PausePlayback(&window);
    EXPECT_EQ(std::pair(playerPaused.load(), playerPlaying.load()), std::pair(1, 0));
    EXPECT_EQ(theMovie->drawDC, nullptr);
    StartPlayback(&window);
    EXPECT_EQ(playbackThreadHandle.get(), thread) << "resuming creates no second thread";
    EXPECT_EQ(playerPlaying, 1);

    PausePlayback(&window);
    SeekToFrame(&window, 300);
    EXPECT_EQ(playerPlaying, 1) << "going to a frame while paused plays on from there";
    EXPECT_GE(theMovie->position, 300);

    StepPlayback(&window, 5);
    EXPECT_EQ(std::pair(playerPaused.load(), playerPlaying.load()), std::pair(0, 0)) << "a step stops";
}

// Either the codec refuses to begin or the window gives no device context.
TEST_F(PlayerTest, APlayThatCannotBeginDrawingIsRefusedAndLeavesThePlayerStopped) {
    Open(FakeMovie(600));
    for (bool noDC : {false, true}) {
        for (bool fromPause : {false, true}) {
            SCOPED_TRACE(testing::Message() << "no context " << noDC << ", resuming " << fromPause);
            if (fromPause) {
                StartPlayback(&window);
                PausePlayback(&window);
            }
            FakeCodec::Get().beginAnswer = noDC ? ICERR_OK : ICERR_BADFORMAT;
            window.noDC = noDC;
            StartPlayback(&window);
            // Stopped, not paused; the movie not playing; every context back.
            EXPECT_EQ(std::tuple(playerPlaying.load(), playerPaused.load(), theMovie->playing.load(),
                                 window.dcsOut),
                      std::tuple(0, 0, 0, 0));
            FakeCodec::Get().beginAnswer = ICERR_OK;
            window.noDC = false;
            StartPlayback(&window);
            EXPECT_EQ(playerPlaying, 1);
            StopPlayback(&window);
        }
    }
}

// The controls act on the Tavro codec alone (the decoder's test has the
// records); after a change a still frame is decoded afresh, whatever the codec.
TEST_F(PlayerTest, TheCodecControlsReachOnlyTheTavroCodec) {
    SetColorControls(1, 2, 3, FALSE); // no movie, no decoder
    for (FOURCC codec : {kFake, qx47::kHandler}) {
        cadmo::test::TestAviSpec spec = FakeMovie();
        spec.compression = spec.handler = codec;
        Open(spec);
        theMovie->decodedFrame = 5;
        FakeCodec::Get().ClearCalls();
        SetColorControls(1, 2, 3, FALSE);
        SetScalability(10, FALSE);
        SetAccessKey(1234);
        EXPECT_EQ(theMovie->decodedFrame, -1);
        EXPECT_EQ(FakeCodec::Get().Calls(ICM_SETSTATE).size(), codec == kFake ? 0u : 3u)
            << "colours, time budget, access key";
    }
}
