// A thousand random transport commands against a playing movie with sound,
// the way a user hammering the keyboard would issue them on the window
// thread, while the playback thread draws and the sound device's thread
// refills the ring; among them the Tavro controls, and reopening the movie.
// (Jumps take the seek's and the step's paths; damaged files are the file
// tests'.) Run under the thread sanitizer (label tsan) it catches races and
// lock-order faults; everywhere it catches deadlocks and crashes. Afterwards
// the movie must still play.

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "EngineTestSupport.h"
#include "engine/Player.h"
#include "platform/wave/WaveOut.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

class PlayerStressTest : public EngineTest, protected PlayerOnWindow {};

TEST_F(PlayerStressTest, RandomTransportCommandsWhilePlaying) {
    // The real-time silent device: its notifications come from a thread of
    // its own, as a sound card's do.
    WaveSetBackend(WaveBackend::Null);
    cadmo::test::TestAviSpec spec = FakeMovie(900, 30, 60);
    spec.audio = true;
    // The fake codec answers as the Tavro codec, so its controls are sent.
    spec.compression = spec.handler = qx47::kHandler;
    const std::string movie = WriteMovie(spec, dir.File("stress.avi"));
    ASSERT_EQ(OpenMovie(&window, movie.c_str()), 1);
    loopPlayback = 1;
    StartPlayback(&window);

    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    // What one key press does, chosen at random; playing is asked twice as often.
    const std::function<void()> commands[] = {
        [&] { StartPlayback(&window); },
        [&] { StartPlayback(&window); },
        [&] { StopPlayback(&window); },
        [&] { PausePlayback(&window); },
        [&] { SeekToFrame(&window, pick(1000) - 50); },
        [&] { StepPlayback(&window, pick(7) - 3); },
        [&] {
            // A display change as the shell makes it: stop, change, play on.
            const bool wasPlaying = playerPlaying || playerPaused;
            StopPlayback(&window);
            static const int depths[] = {8, 16, 24, 32};
            theMovie->SetDisplayFormat(pick(2) ? 1.0f : 2.0f, depths[pick(4)], 0, 0, 0);
            if (wasPlaying)
                StartPlayback(&window);
        },
        [&] {
            // Dragging the picture while the thread draws.
            RECT r{};
            theMovie->decoder->GetDecodeRect(&r);
            theMovie->decoder->QueryDecode(nullptr, r.left, r.top, 0, 0);
            theMovie->decoder->SetDecodeRect(r);
        },
        [&] {
            HDC dc = window.GetDC();
            PaintMovie(dc);
            window.ReleaseDC(dc);
        },
        [&] {
            // The control dialogs act without stopping anything.
            SetColorControls(pick(511) - 255, pick(511) - 255, pick(511) - 255, pick(8) == 0);
            SetScalability(pick(501), pick(8) == 0);
            SetAccessKey(pick(10000));
        },
        [&] {
            // The file opened again now and then, which ends any play.
            if (pick(10) != 0)
                return;
            ASSERT_EQ(OpenMovie(&window, movie.c_str()), 1);
            StartPlayback(&window);
        },
        [&] { window.Pump(); },
    };
    for (int i = 0; i < 1000; ++i) {
        commands[pick(static_cast<int>(std::size(commands)))]();
        if (pick(4) == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(pick(2000)));
    }
    window.Pump();

    // Still plays correctly: from the first frame of a fresh open (which ends
    // any play), frames advance and are drawn.
    ASSERT_EQ(OpenMovie(&window, movie.c_str()), 1);
    FakeCodec::Get().ClearCalls();
    StartPlayback(&window);
    ASSERT_EQ(playerPlaying, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    StopPlayback(&window);
    const auto decodes = FakeCodec::Get().Decodes();
    ASSERT_GE(decodes.size(), 3u);
    for (std::size_t i = 1; i < decodes.size(); ++i)
        EXPECT_GT(decodes[i].first, decodes[i - 1].first) << "frames go forward";
}
