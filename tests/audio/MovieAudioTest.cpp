// The movie's audio ring and clock on the null device, with the device's time
// moved by the test so that every refill and position is exact.
#include "engine/Movie.h"

#include "MovieSound.h"
#include "platform/mm/Mm.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <tuple>

namespace {

using cadmo::test::TestAviSpec;

class MovieAudioTest : public ::testing::Test, protected cadmo::test::MovieSound {
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
        LoadSound(dir.File("movie.avi"), spec);
    }
    void ExpectNothingHeld() {
        EXPECT_EQ(movie.waveOut, nullptr);
        EXPECT_EQ(movie.audioBaseTime, -1);
        for (const auto& buffer : movie.waveBuffers)
            EXPECT_EQ(buffer, nullptr);
    }
    // Blocks queued on the device, and the next block to read.
    std::pair<LONG, LONG> Ring() const { return {movie.ringQueued, movie.nextAudioBlock}; }
    DWORD DeviceSamples() {
        MMTIME t{};
        t.wType = TIME_SAMPLES;
        EXPECT_EQ(waveOutGetPosition(movie.waveOut, &t, sizeof t), MMSYSERR_NOERROR);
        return t.u.sample;
    }
    // Moves the device's time in steps no longer than a block, as real time
    // would pass, so that every refill lands before the device runs dry.
    void Advance(DWORD ms, DWORD step = 100) {
        for (; ms > 0; ms -= std::min(ms, step))
            WaveNullAdvanceClock(std::min(ms, step));
    }
    // A position the device repeated long ago, as a previous play can leave.
    static void StaleRepetition(LONG value) {
        lastClockValue = value;
        clockRepeatCount = 3;
        clockRepeatStart = timeGetTime() - 100000;
    }

    WaveNullOptions options;
    cadmo::test::TempDir dir;
};

// 22050 Hz, 16-bit stereo, suggested buffer size 8192: blocks of 32768 samples.
TestAviSpec Stereo22k(DWORD blocks, DWORD initialFrames = 0) {
    TestAviSpec spec;
    spec.video = false;
    spec.frames = 0;
    spec.audioSuggestedBufferSize = 8192;
    spec.audioSamples = blocks * 32768;
    spec.audioInitialFrames = initialFrames;
    return spec;
}

TEST_F(MovieAudioTest, BlocksComeFromTheSuggestedBufferAndThePrefillFromInitialFrames) {
    Load(Stereo22k(10));
    ASSERT_EQ(Play(0), 0);
    EXPECT_EQ(
        std::tuple(movie.sampleSize, movie.blockSamples, movie.lastAudioBlock, movie.audioBaseTime.load()),
        std::tuple(4, 32768, 10, 0));
    EXPECT_EQ(reinterpret_cast<WAVEHDR*>(movie.waveBuffers[0].get())->dwBufferLength, 131072u);
    EXPECT_EQ(Ring(), std::pair(7, 7));
    // Each returned buffer is replaced, so the depth holds until the blocks run out.
    Advance(1500);
    EXPECT_EQ(Ring(), std::pair(7, 8));
    movie.Stop();
    ExpectNothingHeld();
    EXPECT_EQ(callbackMovie, nullptr);

    // Initial frames raise the prefill, up to the ring's limit.
    Load(Stereo22k(12, 10));
    ASSERT_EQ(Play(0), 0);
    EXPECT_EQ(movie.ringQueued, 10);
    movie.Stop();
    Load(Stereo22k(12, 32));
    EXPECT_EQ(Play(0), -11);
    EXPECT_EQ(movie.waveOut, nullptr);
    EXPECT_EQ(movie.AudioClock(), -10); // the video falls back to the system clock
}

TEST_F(MovieAudioTest, UnplayableStreamsAndFailingDevicesLeaveNothingOpen) {
    TestAviSpec adpcm = Stereo22k(2);
    adpcm.formatTag = 0x4A4B; // a compressed format that nothing decodes
    adpcm.bitsPerSample = 4;
    adpcm.blockAlign = 2048;
    adpcm.audioSamples = 64;
    adpcm.extraFormatBytes = 32;
    // The library answers a suggested size of 0 with the largest chunk, so
    // only a stream without chunks still has none.
    TestAviSpec noSuggested = Stereo22k(0);
    noSuggested.audioHeaderPatches = {{offsetof(AVIStreamHeader, dwSuggestedBufferSize), 0}};
    TestAviSpec noSampleSize = Stereo22k(2);
    noSampleSize.audioHeaderPatches = {{offsetof(AVIStreamHeader, dwSampleSize), 0}};
    TestAviSpec hugeBlocks = Stereo22k(2);
    hugeBlocks.audioSuggestedBufferSize = 0x40000000;
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
                 {"blocks larger than memory allows", hugeBlocks, options, -12},
                 {"device busy", Stereo22k(8), busy, -13},
                 {"sixth buffer not prepared", Stereo22k(8), noMemory, -14}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options = c.device;
        Load(c.spec);
        EXPECT_EQ(Play(0), c.status);
        ExpectNothingHeld();
    }
}

TEST_F(MovieAudioTest, BuffersThatCannotBeAllocatedEndTheProgramWithStatus8) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator does not answer a limited address space with null";
#else
    // Blocks of 8 MB: the 32 buffers need 256 MB, far more than the child
    // may map. The movie has no owner window to show the message.
    TestAviSpec spec = Stereo22k(0);
    spec.audioSuggestedBufferSize = 0x80000;
    spec.audioSamples = 1000;
    Load(spec);
    const auto playWithLittleMemory = [this] {
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = pages * 4096 + (64 << 20);
        const rlimit space{limit, limit};
        setrlimit(RLIMIT_AS, &space);
        Play(0);
    };
    EXPECT_EXIT(playWithLittleMemory(), ::testing::ExitedWithCode(8), "");
#endif
}

TEST_F(MovieAudioTest, StoredFormatsOfEveryLengthPlay) {
    TestAviSpec longer = Stereo22k(8);
    longer.extraFormatBytes = 22; // stored with extra bytes beyond the record
    TestAviSpec shorter = Stereo22k(8);
    shorter.shortPcmFormat = true;
    TestAviSpec mono8 = Stereo22k(8);
    mono8.channels = 1;
    mono8.bitsPerSample = 8;
    mono8.audioSamples = 8 * 8192;
    for (const TestAviSpec* spec : {&longer, &shorter, &mono8}) {
        Load(*spec);
        ASSERT_EQ(Play(0), 0);
        Advance(200);
        EXPECT_EQ(movie.AudioClock(), 200);
        movie.Stop();
    }
}

TEST_F(MovieAudioTest, EachRemainingWholeBlockPlaysOnceAndTheFinalPartialOneStaysSilent) {
    TestAviSpec partial = Stereo22k(3);
    partial.audioSamples += 16384;
    // From near the end of ten blocks; from the start of three and a half.
    const struct {
        TestAviSpec spec;
        LONG from;
        LONG blocks;
    } cases[] = {{Stereo22k(10), 8 * 32768 + 1000, 2}, {partial, 0, 3}};
    for (const auto& c : cases) {
        Load(c.spec);
        ASSERT_EQ(Play(c.from), 0);
        EXPECT_EQ(movie.ringQueued, c.blocks);
        Advance(10000);
        EXPECT_EQ(movie.ringQueued, 0);
        EXPECT_EQ(DeviceSamples(), static_cast<DWORD>(c.blocks) * 32768u);
        movie.Stop();
    }
}

TEST_F(MovieAudioTest, ClockStartsAtTheBlockAndReadsTheSameInBytesOrSamples) {
    Load(Stereo22k(10));
    for (UINT type : {TIME_SAMPLES, TIME_BYTES}) {
        options.positionType = type;
        WaveNullSetOptions(options);
        ASSERT_EQ(Play(2 * 32768 + 20000), 0);
        const LONG blockStart = AVIStreamSampleToTime(movie.audioStream, 2 * 32768);
        EXPECT_EQ(movie.audioBaseTime, blockStart);
        EXPECT_EQ(movie.AudioClock(), blockStart);
        Advance(1234);
        EXPECT_EQ(movie.AudioClock(), blockStart + 1234) << type;
        movie.Stop();
    }
    options.positionType = TIME_MS; // a unit the clock cannot use
    WaveNullSetOptions(options);
    ASSERT_EQ(Play(0), 0);
    Advance(100);
    EXPECT_EQ(movie.AudioClock(), -1);
}

TEST_F(MovieAudioTest, RepeatedPositionsAreCarriedOnByTheSystemClockButNeverAheadOfTheSound) {
    options.positionStepMs = 500; // a coarse device
    Load(Stereo22k(10));
    ASSERT_EQ(Play(0), 0);
    Advance(600);
    EXPECT_EQ(movie.AudioClock(), 500);
    EXPECT_EQ(movie.AudioClock(), 500); // the first repetition adds nothing
    const DWORD start = timeGetTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const LONG smoothed = movie.AudioClock();
    EXPECT_GE(smoothed, 500 + 40);
    EXPECT_LE(smoothed, 500 + static_cast<LONG>(timeGetTime() - start) + 1);
    Advance(500);
    EXPECT_EQ(movie.AudioClock(), 1000); // a new position ends the smoothing
    movie.Stop();

    // Before the first sound is heard the clock waits: no frame is shown
    // ahead of the sound.
    options.positionStepMs = 0;
    Load(Stereo22k(10));
    ASSERT_EQ(Play(32768), 0);
    const LONG first = movie.audioBaseTime;
    EXPECT_EQ(movie.AudioClock(), first);
    EXPECT_EQ(movie.AudioClock(), first);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(movie.AudioClock(), first);
    Advance(10);
    EXPECT_EQ(movie.AudioClock(), first + 10);
    movie.Stop();

    // Nothing to hear (the play starts in the final partial block): the
    // clock runs on at once, so the video is not held.
    TestAviSpec spec = Stereo22k(2);
    spec.audioSamples += 1000;
    Load(spec);
    ASSERT_EQ(Play(2 * 32768 + 10), 0);
    EXPECT_EQ(movie.ringQueued, 0);
    const LONG end = movie.AudioClock();
    EXPECT_EQ(movie.AudioClock(), end);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(movie.AudioClock(), end + 30);
}

TEST_F(MovieAudioTest, AStaleRepetitionDoesNotCarryIntoTheNextPlay) {
    Load(Stereo22k(10));
    StaleRepetition(0);
    ASSERT_EQ(Play(0), 0);
    EXPECT_EQ(movie.AudioClock(), 0);
    EXPECT_EQ(movie.AudioClock(), 0);
    Advance(300);
    EXPECT_EQ(movie.AudioClock(), 300);
}

TEST_F(MovieAudioTest, APauseWhileTheSystemClockCarriesTheAudioClockNeitherCountsNorStepsBack) {
    // After the sound has run out the position stands for good; a coarse
    // device stands between its updates. Either way the clock runs on the
    // system clock, and a pause must stop it there without taking it back.
    const struct {
        const char* what;
        TestAviSpec spec;
        DWORD positionStepMs;
        DWORD played;
    } cases[] = {{"sound ended", Stereo22k(2), 0, 4000}, {"coarse device", Stereo22k(10), 500, 600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options.positionStepMs = c.positionStepMs;
        Load(c.spec);
        ASSERT_EQ(Play(0), 0);
        Advance(c.played);
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
        movie.Stop();
    }
}

TEST_F(MovieAudioTest, ClockKeepsRisingPastNinetyEightSecondsAt44100) {
    TestAviSpec spec = Stereo22k(0);
    spec.sampleRate = 44100;
    spec.channels = 1;
    spec.bitsPerSample = 8;
    spec.audioSuggestedBufferSize = 44100; // one-second blocks
    spec.audioSamples = 44100 * 120;
    Load(spec);
    ASSERT_EQ(Play(0), 0);
    for (int second = 1; second <= 110; ++second) {
        Advance(1000, 500);
        ASSERT_EQ(movie.AudioClock(), second * 1000) << "after " << second << " s";
    }
    EXPECT_EQ(movie.ringQueued, 7);
}

TEST_F(MovieAudioTest, PauseHoldsThePositionAndResumeContinuesFromIt) {
    Load(Stereo22k(10));
    ASSERT_EQ(Play(0), 0);
    Advance(700);
    movie.Pause();
    const LONG paused = movie.AudioClock();
    EXPECT_EQ(paused, 700);
    Advance(5000);
    EXPECT_EQ(movie.AudioClock(), paused);
    Resume();
    Advance(250);
    EXPECT_EQ(movie.AudioClock(), paused + 250);
}

TEST_F(MovieAudioTest, ABufferReturnedAsThePauseBeginsIsStillReplaced) {
    // The device returns its first buffer while the pause is under way, just
    // before the device itself is paused: after the movie is marked paused,
    // and between the two stores that mark it (no longer playing, not yet
    // paused), where a buffer ignored would leave the ring one short for good.
    for (const LONG pausedFlag : {1, 0}) {
        SCOPED_TRACE(pausedFlag);
        Load(Stereo22k(12));
        ASSERT_EQ(Play(0), 0);
        Advance(1400);
        movie.playing = 0;
        movie.paused = pausedFlag;
        Advance(200);
        movie.paused = 1;
        movie.PauseAudio();
        EXPECT_EQ(Ring(), std::pair(7, 8));
        Resume();
        Advance(7 * 1487);
        EXPECT_EQ(Ring(), std::pair(7 - 3, 12)) << "only the blocks that remain (to 11) are queued";
        movie.Stop();
    }
}

TEST_F(MovieAudioTest, ReopeningWhileRunningTakesTheBuffersBackFirst) {
    Load(Stereo22k(10));
    ASSERT_EQ(Play(0), 0);
    Advance(300);
    // A second start without a stop: the old device still holds 7 buffers.
    ASSERT_EQ(movie.StartAudio(32768 * 3), 0);
    EXPECT_EQ(Ring(), std::pair(7, 10));
    Advance(300);
    EXPECT_EQ(movie.AudioClock(), AVIStreamSampleToTime(movie.audioStream, 32768 * 3) + 300);
}

} // namespace
