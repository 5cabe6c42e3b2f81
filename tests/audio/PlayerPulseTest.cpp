// The whole player with sound on a real PulseAudio server: when the server
// dies mid-play the movie plays on to its end on the system clock, and the
// player goes on working without sound.
#include "engine/Player.h"

#include "EngineTestSupport.h"
#include "PulseTest.h"
#include "Tones.h"
#include "codecs/builtin/BuiltinCodecs.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class PlayerPulseTest : public cadmo::test::PulseTest {
protected:
    void SetUp() override {
        PulseTest::SetUp();
        if (!Ready())
            return;
        // A listener keeps the null sink at a sound card's pace.
        ASSERT_TRUE(server.StartRecording(server.Dir() + "/listener.raw", kRate));
        RegisterBuiltinCodecs();
        cadmo::test::TestAviSpec spec;
        spec.handler = mmioFOURCC('D', 'I', 'B', ' ');
        spec.rate = 30;
        spec.frames = 90; // 3 s
        spec.sampleRate = kRate;
        spec.audioSuggestedBufferSize = 2048;
        spec.audioContent = cadmo::test::MakeTones({{1000, 3 * static_cast<int>(kRate)}}, kRate);
        path = dir.File("movie.avi");
        ASSERT_EQ(cadmo::test::WriteTestAvi(path, spec), AVIERR_OK);
        CreatePlayer(&window);
    }
    void TearDown() override {
        CloseMovie(&window);
        DestroyPlayer(&window);
        PulseTest::TearDown();
    }
    // Runs the posted commands until the playback thread posts Stop;
    // returns the time from now until then.
    Clock::duration PlayToTheEnd() {
        const auto start = Clock::now();
        for (int i = 0; i < 1000; ++i) {
            const auto posted = window.TakePosted();
            for (WORD id : posted)
                window.Dispatch(id);
            if (std::find(posted.begin(), posted.end(), IDM_STOP) != posted.end())
                return Clock::now() - start;
            std::this_thread::sleep_for(10ms);
        }
        ADD_FAILURE() << "the movie did not reach its end";
        return Clock::now() - start;
    }

    cadmo::test::TempDir dir;
    enginetest::FakeWindow window{24, 64, 64};
    std::string path;
};

TEST_F(PlayerPulseTest, ServerDeathMidPlayLeavesTheMovieRunningOnTheSystemClock) {
    ASSERT_EQ(OpenMovie(&window, path.c_str()), 1);
    StartPlayback(&window);
    ASSERT_NE(theMovie->waveOut, nullptr) << "the movie plays with sound";
    std::this_thread::sleep_for(800ms);
    server.Kill();
    const auto rest = PlayToTheEnd();
    // The remaining 2.2 s play at their own pace: neither frozen with the
    // sound nor run through at once.
    EXPECT_GT(rest, 1500ms);
    EXPECT_LT(rest, 3500ms);
    EXPECT_EQ(theMovie->position, theMovie->lastFrame);
    EXPECT_EQ(theMovie->waveOut, nullptr) << "the stop closed the device";

    // Still usable: from the start again, silently, to the end.
    SeekToFrame(&window, 0);
    StartPlayback(&window);
    EXPECT_EQ(theMovie->waveOut, nullptr);
    const auto again = PlayToTheEnd();
    EXPECT_GT(again, 2500ms);
    EXPECT_LT(again, 4500ms);
    EXPECT_EQ(theMovie->position, theMovie->lastFrame);
}

} // namespace
