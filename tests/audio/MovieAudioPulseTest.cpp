// The movie's sound through a real PulseAudio server that the test starts:
// what the sink hears is the file's sound, across a pause and a seek. (The
// server's death is the whole player's test.)
#include "engine/Movie.h"

#include "MovieSound.h"
#include "PulseTest.h"
#include "Tones.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

namespace {

using namespace std::chrono_literals;
using cadmo::test::Tone;

constexpr unsigned kRate = cadmo::test::kPulseRate;
constexpr LONG kBlock = 4096; // suggested buffer size 1024 x sample size 4

// 1.95 s of tones, a whole number of blocks, each tone a different length.
const std::vector<Tone> kTones = {
    {500, 4 * kBlock}, {1500, 3 * kBlock}, {1000, 5 * kBlock}, {2500, 3 * kBlock}, {2000, 6 * kBlock}};

double Ms(double samples) {
    return samples * 1000.0 / kRate;
}

class MovieAudioPulseTest : public cadmo::test::PulseTest, protected cadmo::test::MovieSound {
protected:
    void SetUp() override {
        PulseTest::SetUp();
        if (!Ready())
            return;
        cadmo::test::TestAviSpec spec;
        spec.video = false;
        spec.frames = 0;
        spec.sampleRate = kRate;
        spec.audioSuggestedBufferSize = 1024;
        spec.audioContent = cadmo::test::MakeTones(kTones, kRate);
        spec.audioSamples = total = static_cast<DWORD>(spec.audioContent.size() / 2);
        LoadSound(dir.File("tones.avi"), spec);
        raw = server.Dir() + "/heard.raw";
        ASSERT_TRUE(server.StartRecording(raw, kRate));
    }
    void TearDown() override {
        movie.Stop();
        PulseTest::TearDown();
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
    std::string raw;
    DWORD total = 0;
};

TEST_F(MovieAudioPulseTest, TheSinkHearsTheFilesSoundAcrossAPause) {
    ASSERT_EQ(Play(0), 0);
    std::this_thread::sleep_for(700ms);
    movie.Pause();
    const LONG atPause = movie.AudioClock();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(movie.AudioClock(), atPause) << "the clock stands while paused";
    Resume();
    WaitForTheEnd();
    EXPECT_NEAR(movie.AudioClock(), Ms(total), 25) << "the clock ends where the sound ends";
    movie.Stop();

    const auto parts = Heard();
    ASSERT_EQ(parts.size(), 2u) << "one silence, the pause";
    EXPECT_NEAR(Ms(parts[0].size() / 2), atPause, 60)
        << "what was heard before the pause is what the clock said";
    double heardMs = 0;
    std::vector<double> order;
    std::map<double, double> toneMs;
    for (const auto& part : parts) {
        const auto heard = cadmo::test::Listen(part, kRate);
        EXPECT_EQ(heard.gapsOver20Ms, 0) << "longest gap " << heard.longestGapMs << " ms";
        heardMs += heard.soundMs;
        for (double hz : cadmo::test::ToneOrder(heard))
            if (order.empty() || order.back() != hz)
                order.push_back(hz);
        for (const Tone& t : kTones)
            toneMs[t.hz] += cadmo::test::HeardMsOf(heard, t.hz);
    }
    EXPECT_EQ(order, (std::vector<double>{500, 1500, 1000, 2500, 2000}));
    EXPECT_NEAR(heardMs, Ms(total), 50);
    for (const Tone& t : kTones)
        EXPECT_NEAR(toneMs[t.hz], Ms(t.samples), 30) << t.hz << " Hz";
}

TEST_F(MovieAudioPulseTest, ASeekPlaysOnFromTheBlockOfTheNewPosition) {
    ASSERT_EQ(Play(0), 0);
    std::this_thread::sleep_for(500ms);
    movie.Stop();
    std::this_thread::sleep_for(300ms);
    // Into the 2500 Hz tone, mid-block: play resumes at that block's start.
    const LONG seekSample = 12 * kBlock + 1000;
    ASSERT_EQ(Play(seekSample), 0);
    WaitForTheEnd();
    movie.Stop();

    const auto parts = Heard();
    ASSERT_EQ(parts.size(), 2u);
    const auto before = cadmo::test::Listen(parts[0], kRate);
    const auto after = cadmo::test::Listen(parts[1], kRate);
    EXPECT_EQ(cadmo::test::ToneOrder(before)[0], 500);
    EXPECT_EQ(cadmo::test::ToneOrder(after), (std::vector<double>{2500, 2000}));
    EXPECT_NEAR(after.soundMs, Ms(total - 12 * kBlock), 50);
    EXPECT_EQ(after.gapsOver20Ms, 0);
}

// The same tones as MP3 (made by ffmpeg from the PCM file): a seek into the
// 2500 Hz tone plays on from there as decoded sound, whole, without a gap
// and without a click before it.
TEST_F(MovieAudioPulseTest, DecodedMp3PlaysOnFromASeek) {
    if (!cadmo::test::HaveProgram("ffmpeg"))
        GTEST_SKIP() << "no ffmpeg";
    const std::string mp3 = dir.File("tones-mp3.avi");
    ASSERT_EQ(cadmo::test::RunCommand("ffmpeg -y -v error -i " + dir.File("tones.avi") +
                                      " -c:a libmp3lame -b:a 192k " + mp3)
                  .exitCode,
              0);
    movie.CloseStreams();
    movie.ReleaseFile();
    ASSERT_EQ(movie.OpenFile(mp3.c_str()), 0);
    ASSERT_EQ(AVIFileGetStream(movie.aviFile, &movie.audioStream, streamtypeAUDIO, 0), AVIERR_OK);
    const LONG seekMs = static_cast<LONG>(Ms(12 * kBlock + 1000));
    ASSERT_EQ(Play(AVIStreamTimeToSample(movie.audioStream, seekMs)), 0);
    EXPECT_NE(movie.compressedSound, nullptr);
    WaitForTheEnd();
    movie.Stop();

    const auto parts = Heard();
    ASSERT_EQ(parts.size(), 1u) << "one sound, without a gap";
    const auto heard = cadmo::test::Listen(parts[0], kRate);
    EXPECT_EQ(cadmo::test::ToneOrder(heard), (std::vector<double>{2500, 2000}));
    // The encoder's delay (about 25 ms) moves the sound later in the stream.
    EXPECT_NEAR(heard.soundMs, Ms(total) - seekMs, 60);
    EXPECT_NEAR(cadmo::test::HeardMsOf(heard, 2500), Ms(15 * kBlock) - seekMs, 60);
    EXPECT_EQ(heard.gapsOver20Ms, 0);
}

} // namespace
