// The demo movie generator: the movie it writes has the promised shape, the
// picture is stored bottom-up (bars at the top of the screen) and moves, and
// the sound carries its click at each second.
#include "support/OpenedAvi.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

using namespace cadmo::test;

TEST(Demo, GeneratedMovieHasPictureAndSound) {
    TempDir dir;
    const std::string path = dir.File("demo.avi");
    ASSERT_EQ(RunCommand(ShellQuote(BinDir() + "cadmo-demo-gen") + " " + ShellQuote(path)).exitCode, 0);

    OpenedAvi avi(path);
    ASSERT_TRUE(avi.video && avi.audio);
    AVISTREAMINFOA vi{}, ai{};
    AVIStreamInfoA(avi.video, &vi, sizeof vi);
    AVIStreamInfoA(avi.audio, &ai, sizeof ai);
    // 640 x 480, ten seconds of pictures and of sound at 44100 Hz.
    EXPECT_EQ(std::tuple(vi.rcFrame.right, vi.rcFrame.bottom, ai.dwLength), std::tuple(640, 480, 441000u));
    EXPECT_EQ(static_cast<double>(vi.dwLength) * vi.dwScale / vi.dwRate, 10.0);

    std::vector<BYTE> a(640 * 480 * 3), b(a.size());
    ASSERT_EQ(AVIStreamRead(avi.video, 0, 1, a.data(), static_cast<LONG>(a.size()), nullptr, nullptr),
              AVIERR_OK);
    ASSERT_EQ(AVIStreamRead(avi.video, 30, 1, b.data(), static_cast<LONG>(b.size()), nullptr, nullptr),
              AVIERR_OK);
    // The last stored row is the top of the picture: the first bar is light
    // grey (right of the box, which starts in the corner).
    const BYTE* top = &a[479 * 1920 + 80 * 3];
    EXPECT_EQ(std::tuple(top[0], top[1], top[2]), std::tuple(192, 192, 192));
    EXPECT_NE(a, b);

    // The click: the first 5 ms of a second are louder than the plain tone.
    std::vector<std::int16_t> sound(44100 * 2);
    ASSERT_EQ(AVIStreamRead(avi.audio, 44100, 44100, sound.data(), static_cast<LONG>(sound.size() * 2),
                            nullptr, nullptr),
              AVIERR_OK);
    const auto loudest = [&](std::size_t from, std::size_t to) {
        const auto [low, high] = std::minmax_element(sound.begin() + from, sound.begin() + to);
        return std::max(-*low, +*high);
    };
    EXPECT_GT(loudest(0, 220 * 2), 0.5 * 32767);
    EXPECT_LT(loudest(4000, sound.size()), 0.31 * 32767);
}
