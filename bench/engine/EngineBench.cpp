// Playback cost and timing of the whole engine, headless (decode + draw into
// a window surface, no window), on movies the ffmpeg tool makes:
//   P3  CPU seconds of the process per media second, 640x480 30 fps, 30 s;
//   P4  time drawn minus time due of every frame (p50/p99/max) and frames
//       skipped, on the system clock and on the null audio device's clock;
//   P5  SeekToFrame to random frames of a movie with a key frame every 300
//       frames, then one paint: median, beside ffmpeg -ss T -i FILE
//       -frames:v 1 -f null - for the same times.
// Usage: cadmo-bench-engine [seconds]   (default 30)

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchWindow.h"
#include "codecs/builtin/BuiltinCodecs.h"
#include "engine/Player.h"
#include "platform/gdi/Gdi.h"
#include "platform/mm/Mm.h"
#include "platform/wave/WaveOut.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5));
    return v[i];
}

bool MakeMovie(const std::string& path, int seconds, int gop, bool audio) {
    std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=640x480:rate=30 ";
    if (audio)
        cmd += "-f lavfi -i sine=frequency=440:sample_rate=44100 -c:a pcm_s16le -ac 2 ";
    cmd += "-t " + std::to_string(seconds) + " -c:v mpeg4 -q:v 5 -bf 0 -g " + std::to_string(gop) + " '" +
           path + "'";
    return std::system(cmd.c_str()) == 0;
}

double RunMs(const std::string& cmd) {
    const auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0)
        return -1.0;
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Plays the movie to its end and prints P3 (when asked) and P4.
void PlayAndMeasure(BenchWindow& window, const std::string& path, const char* label, bool cpu) {
    if (!OpenMovie(&window, path.c_str()))
        return;
    theMovie->SetDisplayFormat(1.0f, 24, 0, 0, 0);
    SeekToFrame(&window, 0);

    // The surface reports each blit on the drawing thread, inside the frame
    // step, where `position` is the frame being drawn.
    std::vector<double> drawnMs(static_cast<std::size_t>(theMovie->lastFrame + 1), -1.0);
    window.surface->SetChangedCallback([&](const RECT&) {
        const LONG f = theMovie->position;
        if (f >= 0 && f < static_cast<LONG>(drawnMs.size()) && drawnMs[f] < 0)
            drawnMs[f] = std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
    });

    window.ClearPosted();
    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    const DWORD before = timeGetTime();
    StartPlayback(&window);
    const bool audio = theMovie->waveOut != nullptr;
    // The start of the play in the steady clock's milliseconds (both clocks
    // are the monotonic clock; the player keeps the start in 31 bits).
    const DWORD start = (before & 0x80000000u) | static_cast<DWORD>(theMovie->playStartTime);
    const LONG startStream = theMovie->playStartStreamTime;
    while (!window.StopPosted())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // The count starts at -1: drawing the start frame itself counts against
    // the start position. Frames really passed over are one more.
    const LONG skipped = theMovie->skippedFrames;
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    const double cpuUsed = CpuSeconds() - cpu0;
    const double media = (theMovie->FrameToTime(theMovie->lastFrame + 1) - theMovie->FrameToTime(0)) / 1000.0;
    window.surface->SetChangedCallback(nullptr);
    std::vector<double> late;
    for (LONG f = 1; f < static_cast<LONG>(drawnMs.size()); ++f) {
        if (drawnMs[f] < 0)
            continue;
        // With audio the clock is the device's; its start is the stream time
        // of the first block, close to the system start.
        const double due = start + static_cast<double>(theMovie->FrameToTime(f) - startStream);
        late.push_back(drawnMs[f] - due);
    }
    StopPlayback(&window);
    if (cpu)
        std::printf("P3  %-28s %.3f CPU-s per media second (%.2f CPU-s over %.1f s media, %.1f s wall)\n",
                    label, cpuUsed / media, cpuUsed, media, wall);
    std::printf("P4  %-28s drawn-due p50 %.2f ms  p99 %.2f ms  max %.2f ms  min %.2f ms  frames drawn %zu  "
                "skipped %d%s\n",
                label, Percentile(late, 0.5), Percentile(late, 0.99), Percentile(late, 1.0),
                Percentile(late, 0.0), late.size() + 1, skipped + 1,
                audio ? "" : (theMovie->audioStream ? "  (audio device not open)" : ""));
    CloseMovie(&window);
}

void SeekBench(BenchWindow& window, const std::string& path) {
    if (!OpenMovie(&window, path.c_str()))
        return;
    theMovie->SetDisplayFormat(1.0f, 24, 0, 0, 0);
    std::mt19937 rng(2026);
    const LONG frames = theMovie->lastFrame + 1;
    std::vector<double> ours;
    std::vector<double> peer;
    for (int i = 0; i < 25; ++i) {
        const LONG f = static_cast<LONG>(rng() % static_cast<unsigned>(frames));
        const auto t0 = Clock::now();
        SeekToFrame(&window, f);
        HDC dc = window.GetDC();
        PaintMovie(dc);
        window.ReleaseDC(dc);
        ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        char t[32];
        std::snprintf(t, sizeof t, "%.4f", f / 30.0);
        peer.push_back(RunMs(std::string("ffmpeg -loglevel error -ss ") + t + " -i '" + path +
                             "' -frames:v 1 -f null - "));
    }
    std::printf("P5  seek + paint (key every 300)  median %.1f ms  max %.1f ms   |   ffmpeg -ss T -i FILE "
                "-frames:v 1 -f null -: median %.1f ms  max %.1f ms  (25 random frames)\n",
                Percentile(ours, 0.5), Percentile(ours, 1.0), Percentile(peer, 0.5), Percentile(peer, 1.0));
    CloseMovie(&window);
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
        std::fprintf(stderr, "the ffmpeg tool is needed to make the test movies\n");
        return 1;
    }
    RegisterBuiltinCodecs();
    WaveSetBackend(WaveBackend::Null);
    const auto dir =
        std::filesystem::temp_directory_path() / ("cadmo-bench-engine-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string silent = (dir / "silent.avi").string();
    const std::string sound = (dir / "sound.avi").string();
    const std::string sparse = (dir / "sparse.avi").string();
    if (!MakeMovie(silent, seconds, 30, false) || !MakeMovie(sound, seconds, 30, true) ||
        !MakeMovie(sparse, 30, 300, false)) {
        std::fprintf(stderr, "ffmpeg could not make the movies\n");
        return 1;
    }

    BenchWindow window;
    CreatePlayer(&window);
    std::printf(
        "640x480 30 fps MPEG-4 part 2 (key every 30), %d s, decoded to 24 bits into a 640x480 surface\n",
        seconds);
    PlayAndMeasure(window, silent, "system clock", true);
    PlayAndMeasure(window, sound, "null audio device clock", true);
    SeekBench(window, sparse);
    DestroyPlayer(&window);
    std::filesystem::remove_all(dir);
    return 0;
}
