// The cost of playing in a real window: the player and ffplay play the same
// 640x480, 30 fps MPEG-4 movie with 44.1 kHz stereo PCM sound, one after the
// other, on one private X server (Xvfb, 1024x768 at 24 bits), and the CPU
// time each process used (user plus system, from wait4) is divided by the
// movie's length. The player runs as
//   cadmo --audio=null --play --quit-after=MS FILE
// and ffplay as
//   ffplay -autoexit -loglevel error FILE
// with SDL_RENDER_DRIVER=software, so that neither draws through a GPU the
// virtual server lacks, and SDL_AUDIODRIVER=dummy, the counterpart of the
// player's null sound device (consumed in real time, heard nowhere). The X
// server's own time is not counted for either.
//
// Usage: cadmo-bench-window [--seconds=N] [--runs=N]   (default 20 s, 1 run)
#include "support/Process.h"
#include "support/XServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using cadmo::test::ChildProcess;

namespace {

bool MakeMovie(const std::string& path, int seconds) {
    const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=640x480:rate=30 "
                            "-f lavfi -i sine=frequency=440:sample_rate=44100 -c:a pcm_s16le -ac 2 -t " +
                            std::to_string(seconds) + " -c:v mpeg4 -q:v 5 -bf 0 -g 30 '" + path + "'";
    return std::system(cmd.c_str()) == 0;
}

// The folder this program was started from, where the player is built too.
std::string OwnDir() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

struct Result {
    double cpu = -1; // CPU seconds; negative when the program failed
    double wall = 0;
};

Result Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, int timeoutMs,
           const std::string& log) {
    const auto start = std::chrono::steady_clock::now();
    ChildProcess child(argv, env, log, log);
    const std::optional<int> status = child.Wait(timeoutMs);
    Result r;
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status && *status == 0)
        r.cpu = child.CpuSeconds();
    return r;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 20;
    int runs = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            seconds = std::max(1, std::atoi(argv[i] + 10));
        else if (std::strncmp(argv[i], "--runs=", 7) == 0)
            runs = std::max(1, std::atoi(argv[i] + 7));
        else {
            std::fprintf(stderr, "usage: %s [--seconds=N] [--runs=N]\n", argv[0]);
            return 2;
        }
    }
    const std::string player = OwnDir() + "/cadmo";
    if (access(player.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "the player is not built beside this program (%s)\n", player.c_str());
        return 1;
    }
    for (const char* tool : {"ffmpeg", "ffplay", "Xvfb"}) {
        const std::string probe = std::string("command -v ") + tool + " > /dev/null";
        if (std::system(probe.c_str()) != 0) {
            std::fprintf(stderr, "%s is needed\n", tool);
            return 1;
        }
    }
    char templ[] = "/tmp/cadmo-bench-window-XXXXXX";
    if (!mkdtemp(templ))
        return 1;
    const std::string dir = templ;
    const std::string movie = dir + "/window.avi";
    const std::string log = dir + "/programs.log";
    if (!MakeMovie(movie, seconds)) {
        std::fprintf(stderr, "ffmpeg could not make the movie\n");
        std::filesystem::remove_all(dir);
        return 1;
    }
    std::unique_ptr<ChildProcess> xserver;
    std::string display;
    for (int attempt = 0; attempt < 3 && display.empty(); ++attempt)
        display = cadmo::test::StartXvfb(xserver);
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        std::filesystem::remove_all(dir);
        return 1;
    }

    // Half a second past the end, so that the whole movie is played and its
    // end reached before the program quits.
    const int quitAfter = seconds * 1000 + 500;
    const int timeoutMs = seconds * 1000 + 60000;
    std::printf("%d s 640x480 30 fps MPEG-4 + 16-bit stereo PCM, on Xvfb %s (1024x768x24)\n", seconds,
                display.c_str());
    int status = 0;
    for (int run = 1; run <= runs; ++run) {
        const Result ours =
            Run({player, "--audio=null", "--play", "--quit-after=" + std::to_string(quitAfter), movie},
                {{"DISPLAY", display}, {"QT_QPA_PLATFORM", "xcb"}, {"XDG_RUNTIME_DIR", dir}}, timeoutMs, log);
        const Result peer = Run({"ffplay", "-autoexit", "-loglevel", "error", movie},
                                {{"DISPLAY", display},
                                 {"SDL_RENDER_DRIVER", "software"},
                                 {"SDL_AUDIODRIVER", "dummy"},
                                 {"XDG_RUNTIME_DIR", dir}},
                                timeoutMs, log);
        if (ours.cpu < 0 || peer.cpu < 0) {
            std::fprintf(stderr, "run %d: %s failed; its output:\n", run, ours.cpu < 0 ? "cadmo" : "ffplay");
            std::system(("cat '" + log + "' >&2").c_str());
            status = 1;
            break;
        }
        std::printf("run %d: cadmo %.3f CPU-s per media second (%.2f CPU-s, %.1f s wall)   |   ffplay %.3f "
                    "(%.2f CPU-s, %.1f s wall)   ratio %.2f   (target <= 0.05 and <= 0.40)\n",
                    run, ours.cpu / seconds, ours.cpu, ours.wall, peer.cpu / seconds, peer.cpu, peer.wall,
                    ours.cpu / peer.cpu);
        std::fflush(stdout);
    }
    xserver.reset();
    std::filesystem::remove_all(dir);
    return status;
}
