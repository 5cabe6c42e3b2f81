// The movie's sound through a real PulseAudio server that the test starts:
// what the sink hears is the file's sound, across a pause and a seek; and when the server dies mid-play the
// whole player plays on to the end on the system clock.
#include "engine/Player.h"

#include "EngineTestSupport.h"
#include "PulseTest.h"
#include "Tones.h"
#include "codecs/builtin/BuiltinCodecs.h"

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using cadmo::test::Tone;
using Clock = std::chrono::steady_clock;

constexpr unsigned kRate = cadmo::test::kPulseRate;
constexpr LONG kBlock = 4096; // suggested buffer size 1024 x sample size 4

// 1.95 s of tones, a whole number of blocks, each tone a different length.
const std::vector<Tone> kTones = {
    {500, 4 * kBlock}, {1500, 3 * kBlock}, {1000, 5 * kBlock}, {2500, 3 * kBlock}, {2000, 6 * kBlock}};
// Frame 34 of the 30 a second starts at 1134 ms, within block 12: the
// 2500 Hz tone from the block's start.
constexpr LONG kSeekFrame = 34;

double Ms(double samples) {
    return samples * 1000.0 / kRate;
}

// The tones with two seconds of uncompressed video that the player can draw,
// opened as the movie's sound alone; and the player with the engine's test
// window and the built-in codecs, for the tests that play the whole movie.
class MovieAudioPulseTest : public cadmo::test::PulseTest,
                            protected enginetest::MovieSound,
                            protected enginetest::PlayerOnWindow {
protected:
    MovieAudioPulseTest() : PlayerOnWindow(24, 64, 64) {}
    void SetUp() override {
        PulseTest::SetUp();
        if (!Ready())
            return;
        RegisterBuiltinCodecs();
        cadmo::test::TestAviSpec spec;
        spec.handler = mmioFOURCC('D', 'I', 'B', ' ');
        spec.rate = 30;
        spec.frames = 60;
        spec.sampleRate = kRate;
        spec.audioSuggestedBufferSize = 1024;
        spec.audioContent = cadmo::test::MakeTones(kTones, kRate);
        spec.audioSamples = total = static_cast<DWORD>(spec.audioContent.size() / 2);
        path = dir.File("tones.avi");
        ASSERT_EQ(cadmo::test::WriteTestAvi(path, spec), AVIERR_OK);
        OpenSound(path);
        // The recording also keeps the null sink at a sound card's pace.
        raw = server.Dir() + "/heard.raw";
        ASSERT_TRUE(server.StartRecording(raw, kRate));
    }
    void TearDown() override {
        movie.Stop();
        PulseTest::TearDown();
    }
    // Waits until the playback thread posts Stop at the last frame, after
    // between `least` and `most` from now, then runs the Stop.
    void PlayToTheEnd(Clock::duration least, Clock::duration most) {
        const auto start = Clock::now();
        EXPECT_TRUE(window.WaitForPosted(IDM_STOP)) << "the movie did not reach its end";
        const auto took = Clock::now() - start;
        EXPECT_GT(took, least);
        EXPECT_LT(took, most);
        EXPECT_EQ(theMovie->position, theMovie->lastFrame);
        window.Pump();
    }
    // Waits until the device's position has stood still for a while: the
    // last block has been heard. (The ring's counters belong to the device's
    // notification thread; the position may be read from any thread.)
    void WaitForTheEnd() {
        DWORD last = 0;
        int still = 0;
        for (int i = 0; i < 1000 && still < 30; ++i) {
            std::this_thread::sleep_for(10ms);
            MMTIME t{};
            t.wType = TIME_SAMPLES;
            ASSERT_EQ(waveOutGetPosition(movie.waveOut, &t, sizeof t), MMSYSERR_NOERROR);
            still = t.u.sample == last && last > 0 ? still + 1 : 0;
            last = t.u.sample;
        }
        ASSERT_EQ(still, 30) << "the sound did not come to its end";
    }
    std::vector<std::vector<std::int16_t>> Heard() {
        server.StopRecording();
        return cadmo::test::SplitAtSilences(cadmo::test::ReadRawFile(raw), kRate, 100);
    }

    cadmo::test::TempDir dir;
    std::string path, raw;
    DWORD total = 0;
};

TEST_F(MovieAudioPulseTest, TheSinkHearsTheFilesSoundAcrossAPauseAndASeek) {
    PlayAt(0);
    std::this_thread::sleep_for(700ms);
    movie.Pause();
    const LONG atPause = movie.AudioClock();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(movie.AudioClock(), atPause) << "the clock stands while paused";
    Resume();
    WaitForTheEnd();
    EXPECT_NEAR(movie.AudioClock(), Ms(total), 25) << "the clock ends where the sound ends";
    movie.Stop();
    std::this_thread::sleep_for(300ms);
    PlayAt(kSeekFrame);
    WaitForTheEnd();
    movie.Stop();

    const auto parts = Heard();
    ASSERT_EQ(parts.size(), 3u) << "two silences: the pause, and before the seek";
    EXPECT_NEAR(Ms(parts[0].size() / 2), atPause, 60)
        << "what was heard before the pause is what the clock said";
    // The two parts around the pause, joined, are the whole sound.
    std::vector<std::int16_t> played = parts[0];
    played.insert(played.end(), parts[1].begin(), parts[1].end());
    const auto heard = cadmo::test::Listen(played, kRate);
    EXPECT_EQ(heard.gapsOver20Ms, 0) << "longest gap " << heard.longestGapMs << " ms";
    EXPECT_EQ(cadmo::test::ToneOrder(heard), (std::vector<double>{500, 1500, 1000, 2500, 2000}));
    EXPECT_NEAR(heard.soundMs, Ms(total), 50);
    for (const Tone& t : kTones)
        EXPECT_NEAR(cadmo::test::HeardMsOf(heard, t.hz), Ms(t.samples), 30) << t.hz << " Hz";

    // The seek plays on from the start of the block of the new position.
    const auto after = cadmo::test::Listen(parts[2], kRate);
    EXPECT_EQ(cadmo::test::ToneOrder(after), (std::vector<double>{2500, 2000}));
    EXPECT_NEAR(after.soundMs, Ms(total - 12 * kBlock), 50);
    EXPECT_EQ(after.gapsOver20Ms, 0);
}

// The same tones through the whole player.
using PlayerPulseTest = MovieAudioPulseTest;

TEST_F(PlayerPulseTest, ServerDeathMidPlayLeavesTheMovieRunningOnTheSystemClock) {
    ASSERT_EQ(OpenMovie(&window, path.c_str()), 1);
    StartPlayback(&window);
    ASSERT_NE(theMovie->waveOut, nullptr) << "the movie plays with sound";
    std::this_thread::sleep_for(500ms);
    server.Kill();
    // The remaining 1.5 s play at their own pace: neither frozen with the
    // sound nor run through at once.
    PlayToTheEnd(1000ms, 3000ms);
    EXPECT_EQ(theMovie->waveOut, nullptr) << "the stop closed the device";

    // Still usable: from the start again, silently, to the end.
    SeekToFrame(&window, 0);
    StartPlayback(&window);
    EXPECT_EQ(theMovie->waveOut, nullptr);
    PlayToTheEnd(1500ms, 3500ms);
}

} // namespace
