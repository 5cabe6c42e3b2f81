// The demo movie generator: the movie it writes has the promised shape, the
// picture is stored bottom-up (bars at the top of the screen) and moves, and
// the sound carries its click at each second.
#include "support/OpenedAvi.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace cadmo::test;

TEST(Demo, GeneratedMovieHasPictureAndSound) {
    TempDir dir;
    const std::string path = dir.File("demo.avi");
    ASSERT_EQ(RunCommand(ShellQuote(BinDir() + "cadmo-demo-gen") + " " + ShellQuote(path)).exitCode, 0);

    OpenedAvi avi(path);
    ASSERT_TRUE(avi.video && avi.audio);
    PAVISTREAM video = avi.video, audio = avi.audio;
    AVISTREAMINFOA vi{}, ai{};
    AVIStreamInfoA(video, &vi, sizeof vi);
    AVIStreamInfoA(audio, &ai, sizeof ai);
    EXPECT_EQ(vi.rcFrame.right, 640);
    EXPECT_EQ(vi.rcFrame.bottom, 480);
    EXPECT_EQ(static_cast<double>(vi.dwLength) * vi.dwScale / vi.dwRate, 10.0);
    EXPECT_EQ(ai.dwLength, 441000u); // ten seconds at 44100 Hz

    std::vector<BYTE> a(640 * 480 * 3), b(a.size());
    LONG bytes = 0;
    ASSERT_EQ(AVIStreamRead(video, 0, 1, a.data(), static_cast<LONG>(a.size()), &bytes, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIStreamRead(video, 30, 1, b.data(), static_cast<LONG>(b.size()), &bytes, nullptr), AVIERR_OK);
    // The last stored row is the top of the picture: the first bar is light grey.
    const BYTE* top = &a[479 * 1920 + 80 * 3]; // right of the box, which starts in the corner
    EXPECT_EQ(top[0], 192);
    EXPECT_EQ(top[1], 192);
    EXPECT_EQ(top[2], 192);
    EXPECT_NE(a, b);

    // The click: the first 5 ms of a second are louder than the plain tone.
    std::vector<std::int16_t> sound(44100 * 2);
    ASSERT_EQ(AVIStreamRead(audio, 44100, 44100, sound.data(), static_cast<LONG>(sound.size() * 2), &bytes,
                            nullptr),
              AVIERR_OK);
    int loudest = 0;
    for (int i = 0; i < 220 * 2; ++i)
        loudest = std::max(loudest, std::abs(static_cast<int>(sound[static_cast<std::size_t>(i)])));
    EXPECT_GT(loudest, 0.5 * 32767);
    int tone = 0;
    for (std::size_t i = 4000; i < sound.size(); ++i)
        tone = std::max(tone, std::abs(static_cast<int>(sound[i])));
    EXPECT_LT(tone, 0.31 * 32767);
}
