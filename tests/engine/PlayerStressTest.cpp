// A thousand random transport commands against a playing movie, the way a
// user hammering the keyboard would issue them on the window thread, while
// the playback thread draws. Run under the thread sanitizer (label tsan) it
// catches races and lock-order faults; everywhere it catches deadlocks and
// crashes. Afterwards the movie must still play.

#include <chrono>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/Player.h"
#include "video/VideoDecoder.h"

using namespace enginetest;

TEST(PlayerStressTest, RandomTransportCommandsWhilePlaying) {
    FakeCodec::Install();
    FakeCodec::Get().Reset();
    FakeWindow window;
    CreatePlayer(&window);
    MovieSpec spec;
    spec.frames = 900;
    spec.rate = 60;
    spec.keyEvery = 30;
    ASSERT_EQ(OpenMovie(&window, WriteMovie(spec, "stress.avi").c_str()), 1);
    loopPlayback = 1;
    StartPlayback(&window);

    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int i = 0; i < 1000; ++i) {
        switch (pick(12)) {
        case 0:
        case 1:
            StartPlayback(&window);
            break;
        case 2:
            StopPlayback(&window);
            break;
        case 3:
            PausePlayback(&window);
            break;
        case 4:
            SeekToFrame(&window, pick(1000) - 50);
            break;
        case 5:
            StepPlayback(&window, pick(7) - 3);
            break;
        case 6:
            JumpPercent(&window, pick(2) ? 10 : -10);
            break;
        case 7:
            JumpSeconds(&window, pick(2) ? 1 : -1);
            break;
        case 8: {
            // A display change as the shell makes it: stop, change, play on.
            const bool wasPlaying = playerPlaying || playerPaused;
            StopPlayback(&window);
            static const int depths[] = {8, 16, 24, 32};
            theMovie->SetDisplayFormat(pick(2) ? 1.0f : 2.0f, depths[pick(4)], 0, 0, 0);
            if (wasPlaying)
                StartPlayback(&window);
            break;
        }
        case 9: {
            // Dragging the picture while the thread draws.
            RECT r{};
            theMovie->decoder->GetDecodeRect(&r);
            theMovie->decoder->QueryDecode(nullptr, r.left, r.top, 0, 0);
            theMovie->decoder->SetDecodeRect(r);
            break;
        }
        case 10: {
            HDC dc = window.GetDC();
            PaintMovie(dc);
            window.ReleaseDC(dc);
            break;
        }
        default:
            window.Pump();
            break;
        }
        if (pick(4) == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(pick(2000)));
    }
    window.Pump();

    // Still plays correctly: from a known frame, frames advance and are drawn.
    StopPlayback(&window);
    SeekToFrame(&window, 0);
    FakeCodec::Get().ClearCalls();
    StartPlayback(&window);
    ASSERT_EQ(playerPlaying, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    StopPlayback(&window);
    const auto decodes = FakeCodec::Get().Decodes();
    ASSERT_GE(decodes.size(), 3u);
    for (std::size_t i = 1; i < decodes.size(); ++i)
        EXPECT_GT(decodes[i].first, decodes[i - 1].first) << "frames go forward";
    EXPECT_GT(theMovie->position, 0);

    CloseMovie(&window);
    DestroyPlayer(&window);
    loopPlayback = 0;
    EXPECT_EQ(window.dcsOut, 0);
}
