// The movie's audio ring and clock on the null device, with the device's time
// moved by the test so that every refill and position is exact.
#include "EngineTestSupport.h"
#include "platform/mm/Mm.h"

#include <fstream>
#include <sys/resource.h>
#include <thread>

namespace {

using cadmo::test::TestAviSpec;

class MovieAudioTest : public ::testing::Test, protected enginetest::MovieSound {
protected:
    void SetUp() override {
        WaveSetBackend(WaveBackend::Null);
        options.manualClock = true;
    }
    void TearDown() override {
        movie.Stop();
        WaveNullSetOptions(WaveNullOptions{});
    }
    // Opens the movie afresh (closing any before) with the current options.
    void Load(const TestAviSpec& spec) {
        WaveNullSetOptions(options);
        ASSERT_EQ(cadmo::test::WriteTestAvi(dir.File("movie.avi"), spec), AVIERR_OK);
        OpenSound(dir.File("movie.avi"));
    }
    void ExpectNothingHeld() {
        EXPECT_EQ(movie.waveOut, nullptr);
        EXPECT_EQ(movie.audioBaseTime, -1);
        for (const auto& buffer : movie.waveBuffers)
            EXPECT_EQ(buffer, nullptr);
    }
    // Blocks queued on the device, and the next block to read.
    std::pair<LONG, LONG> Ring() const { return {movie.ringQueued, movie.nextAudioBlock}; }
    // Moves the device's time in steps no longer than a block, as real time
    // would pass, so that every refill lands before the device runs dry.
    void Advance(DWORD ms, DWORD step = 100) {
        for (; ms > 0; ms -= std::min(ms, step))
            WaveNullAdvanceClock(std::min(ms, step));
    }

    WaveNullOptions options;
    cadmo::test::TempDir dir;
};

// PCM sound with one frame at 1000 a second, which makes a position a time in
// milliseconds, so that Play starts the sound at the sample of that time, as
// it does from a frame.
TestAviSpec Pcm(DWORD samples, WORD channels, WORD bits, DWORD rate, DWORD suggestedBufferSize) {
    return {.width = 4,
            .height = 4,
            .rate = 1000,
            .frames = 1,
            .sampleRate = rate,
            .channels = channels,
            .bitsPerSample = bits,
            .audioSamples = samples,
            .audioSuggestedBufferSize = suggestedBufferSize};
}

// 22050 Hz, 16-bit stereo, suggested buffer size 8192: blocks of 32768
// samples, 1486.08 ms each.
TestAviSpec Stereo22k(DWORD blocks, DWORD initialFrames = 0) {
    TestAviSpec spec = Pcm(blocks * 32768, 2, 16, 22050, 8192);
    spec.audioInitialFrames = initialFrames;
    return spec;
}

// Play goes on without sound when the sound cannot start (the video then
// follows the system clock); the sound's own start says why.
TEST_F(MovieAudioTest, UnplayableStreamsAndFailingDevicesLeaveNothingOpen) {
    TestAviSpec adpcm = Stereo22k(2);
    adpcm.formatTag = 0x4A4B; // a compressed format that nothing decodes
    // The library answers a suggested size of 0 with the largest chunk, so
    // only a stream without chunks still has none.
    TestAviSpec noSuggested = Stereo22k(0);
    noSuggested.video = false;
    noSuggested.frames = 0;
    noSuggested.audioHeaderPatches = {{offsetof(AVIStreamHeader, dwSuggestedBufferSize), 0}};
    TestAviSpec noSampleSize = Stereo22k(2);
    noSampleSize.audioHeaderPatches = {{offsetof(AVIStreamHeader, dwSampleSize), 0}};
    WaveNullOptions busy = options;
    busy.failOpen = true;
    WaveNullOptions noMemory = options;
    noMemory.failPrepareAfter = 5;
    const struct {
        const char* what;
        TestAviSpec spec;
        WaveNullOptions device;
        LONG status;
    } cases[] = {{"undecodable", adpcm, options, -12},
                 {"suggested buffer size 0", noSuggested, options, -12},
                 {"sample size 0", noSampleSize, options, -12},
                 {"blocks larger than memory allows", Pcm(2 * 32768, 2, 16, 22050, 0x40000000), options, -12},
                 {"initial frames beyond the ring", Stereo22k(12, 32), options, -11},
                 {"device busy", Stereo22k(8), busy, -13},
                 {"sixth buffer not prepared", Stereo22k(8), noMemory, -14}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options = c.device;
        Load(c.spec);
        EXPECT_EQ(movie.StartAudio(0), c.status);
        ExpectNothingHeld();
    }
}

TEST_F(MovieAudioTest, BuffersThatCannotBeAllocatedEndTheProgramWithStatus8) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator does not answer a limited address space with null";
#else
    // Blocks of 8 MB: the 32 buffers need 256 MB, far more than the child
    // may map. The movie has no owner window to show the message.
    Load(Pcm(1000, 2, 16, 22050, 0x80000));
    const auto playWithLittleMemory = [this] {
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = pages * 4096 + (64 << 20);
        const rlimit space{limit, limit};
        setrlimit(RLIMIT_AS, &space);
        movie.Play(nullptr);
    };
    EXPECT_EXIT(playWithLittleMemory(), ::testing::ExitedWithCode(8), "");
#endif
}

// The clock reads the device's position from the start of the block the play
// began in, whatever the stored format's length or the unit the device
// answers in, and keeps rising where the position in ms no longer fits 32 bits.
// Every returned buffer is replaced, so the ring stays as deep as the
// prefill, which initial frames raise; Stop gives everything back.
TEST_F(MovieAudioTest, ClockStartsAtTheBlockAndReadsTheSameInBytesOrSamples) {
    TestAviSpec longer = Stereo22k(8);
    longer.extraFormatBytes = 22; // stored with extra bytes beyond the record
    TestAviSpec shorter = Stereo22k(8);
    shorter.shortPcmFormat = true;
    const struct {
        const char* what;
        TestAviSpec spec;
        UINT positionType;
        LONG fromMs;
        DWORD advanceMs;
        LONG base;  // the time of the block's first sample
        LONG clock; // after the advance
        LONG queued = 7;
    } cases[] = {
        {"in samples, from within block 2", Stereo22k(10), TIME_SAMPLES, 3879, 1234, 2973, 2973 + 1234},
        {"in bytes, from within block 2", Stereo22k(10), TIME_BYTES, 3879, 1234, 2973, 2973 + 1234},
        {"in ms, a unit the clock cannot use", Stereo22k(10), TIME_MS, 0, 100, 0, -1},
        {"a format longer than the record", longer, TIME_SAMPLES, 0, 200, 0, 200},
        {"the 16-byte format", shorter, TIME_SAMPLES, 0, 200, 0, 200},
        // One-second blocks of 8-bit mono.
        {"110 s at 44100 Hz", Pcm(44100 * 120, 1, 8, 44100, 44100), TIME_SAMPLES, 0, 110000, 0, 110000},
        {"initial frames", Stereo22k(12, 10), TIME_SAMPLES, 0, 1500, 0, 1500, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options.positionType = c.positionType;
        Load(c.spec);
        PlayAt(c.fromMs);
        EXPECT_EQ(movie.audioBaseTime, c.base);
        Advance(c.advanceMs, 500);
        EXPECT_EQ(movie.AudioClock(), c.clock);
        EXPECT_EQ(movie.ringQueued, c.queued) << "the ring is still full";
        movie.Stop();
        ExpectNothingHeld();
        EXPECT_EQ(callbackMovie, nullptr);
    }
}

TEST_F(MovieAudioTest, RepeatedPositionsAreCarriedOnByTheSystemClockButNeverAheadOfTheSound) {
    // A position the device repeated long ago, as a previous play can leave,
    // does not carry into this one.
    lastClockValue = 0;
    clockRepeatCount = 3;
    clockRepeatStart = timeGetTime() - 100000;
    options.positionStepMs = 500; // a coarse device
    Load(Stereo22k(10));
    PlayAt(0);
    EXPECT_EQ(movie.AudioClock(), 0);
    EXPECT_EQ(movie.AudioClock(), 0);
    Advance(600);
    EXPECT_EQ(movie.AudioClock(), 500);
    EXPECT_EQ(movie.AudioClock(), 500); // the first repetition adds nothing
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    // Read within one tick of the system clock, the carried part is exactly
    // the time since the repetition began.
    DWORD tick = 0;
    LONG smoothed = 0;
    do {
        tick = timeGetTime();
        smoothed = movie.AudioClock();
    } while (timeGetTime() != tick);
    EXPECT_GE(smoothed, 500 + 40);
    EXPECT_EQ(smoothed, 500 + static_cast<LONG>(tick - clockRepeatStart));
    Advance(500);
    EXPECT_EQ(movie.AudioClock(), 1000); // a new position ends the smoothing
    movie.Stop();

    // Before the first sound is heard the clock waits: no frame is shown
    // ahead of the sound.
    options.positionStepMs = 0;
    Load(Stereo22k(10));
    PlayAt(1487);
    EXPECT_EQ(movie.AudioClock(), 1487);
    EXPECT_EQ(movie.AudioClock(), 1487);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(movie.AudioClock(), 1487);
    Advance(10);
    EXPECT_EQ(movie.AudioClock(), 1487 + 10);
    movie.Stop();

    // Nothing to hear (the play starts in the final partial block): the
    // clock runs on at once, so the video is not held.
    Load(Pcm(2 * 32768 + 1000, 2, 16, 22050, 8192));
    PlayAt(2973);
    EXPECT_EQ(movie.ringQueued, 0);
    const LONG end = movie.AudioClock();
    EXPECT_EQ(movie.AudioClock(), end);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(movie.AudioClock(), end + 30);
}

TEST_F(MovieAudioTest, APauseWhileTheSystemClockCarriesTheAudioClockNeitherCountsNorStepsBack) {
    // After the sound has run out the position stands for good (a coarse
    // device standing between its updates takes the same path). The clock
    // then runs on the system clock, and a pause must stop it there without
    // taking it back.
    Load(Stereo22k(2));
    PlayAt(0);
    Advance(4000);
    const LONG standing = movie.AudioClock();
    EXPECT_EQ(movie.AudioClock(), standing);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const LONG before = movie.AudioClock();
    const DWORD beforeAt = timeGetTime();
    ASSERT_GE(before, standing + 40);
    movie.Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const LONG whilePaused = movie.AudioClock();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(movie.AudioClock(), whilePaused) << "the clock stands while paused";
    Resume();
    const LONG after = movie.AudioClock();
    const auto notPaused = static_cast<LONG>(timeGetTime() - beforeAt) - 200;
    EXPECT_GE(whilePaused, before);
    EXPECT_GE(after, whilePaused);
    EXPECT_LE(after, before + notPaused + 1) << "the paused time was counted";
}

TEST_F(MovieAudioTest, ABufferReturnedAsThePauseBeginsIsStillReplaced) {
    // The device returns its first buffer while the pause is under way, just
    // before the device itself is paused: after the movie is marked paused,
    // and between the two stores that mark it (no longer playing, not yet
    // paused), where a buffer ignored would leave the ring one short for good.
    for (const LONG pausedFlag : {1, 0}) {
        SCOPED_TRACE(pausedFlag);
        Load(Stereo22k(12));
        PlayAt(0);
        Advance(1400);
        movie.playing = 0;
        movie.paused = pausedFlag;
        Advance(200);
        movie.paused = 1;
        movie.PauseAudio();
        EXPECT_EQ(Ring(), std::pair(7, 8));
        // The position holds through the pause and the clock goes on from it.
        Advance(5000);
        EXPECT_EQ(std::pair(movie.AudioClock(), Ring()), std::pair(1600, std::pair(7, 8)));
        Resume();
        Advance(7 * 1487);
        EXPECT_EQ(Ring(), std::pair(7 - 3, 12)) << "only the blocks that remain (to 11) are queued";
        EXPECT_EQ(movie.AudioClock(), 1600 + 7 * 1487);
        movie.Stop();
    }
}

} // namespace
