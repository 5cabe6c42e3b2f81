// How closely the video follows the sound: plays a 640x480, 30 fps movie with
// 44.1 kHz stereo PCM through the whole engine (player, playback thread,
// decoder, audio ring) and measures, for every frame shown, how late it
// reached the window surface relative to the moment the audio clock made it
// due; the drift of the audio clock against the sound device (for the null
// device that is the system clock; for the PulseAudio null sink, the pace at
// which its listener receives the sound); and the frames skipped.
//
// Usage: cadmo-bench-avsync [--seconds=N] [--audio=null|pulse|all] [--sound=pcm|mp3]
// --sound=mp3 has the ffmpeg command line turn the sound into 128 kbit/s MP3
// (the picture copied as it is), so the ring plays decoded sound. Without
// -avoid_negative_ts disabled the muxer would shift the picture by an empty
// frame to make room for the encoder's delay.
// The pulse run uses a private PulseAudio server with a null sink (started
// and stopped here), so it measures the server's real timing without a sound
// card. There is no peer tool to run beside it: players that could play the
// same file do not report these figures.
#include "codecs/builtin/BuiltinCodecs.h"
#include "engine/Movie.h"
#include "engine/MovieClock.h"
#include "engine/OwnerWindow.h"
#include "engine/Player.h"
#include "platform/avi/AviWriter.h"
#include "platform/gdi/Gdi.h"
#include "platform/mm/Mm.h"
#include "platform/wave/WaveOut.h"

#include "BenchWindow.h"
#include "PulseServer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr LONG kWidth = 640;
constexpr LONG kHeight = 480;
constexpr DWORD kFps = 30;
constexpr DWORD kRate = 44100;

// Watches the play: the scheduler's clock readings pass through it (the
// failed ones are counted), and each picture that reaches the window surface
// is timed against the audio clock at that moment (the surface reports it on
// the playback thread, inside the frame step, where `position` is the frame
// shown).
class ProbeClock : public MovieClock {
public:
    DWORD SystemTime() override { return timeGetTime(); }
    LONG AudioTime(Movie& movie) override {
        const LONG now = movie.AudioClock();
        if (now < 0)
            ++clockFailures;
        return now;
    }
    void Shown(Movie& movie) {
        const DWORD before = timeGetTime();
        const LONG now = movie.AudioClock();
        const DWORD after = timeGetTime();
        const LONG frame = movie.position;
        if (!movie.playing || frame == lastFrame_ || frame < 0 || now < 0)
            return;
        lastFrame_ = frame;
        lateness.push_back(now - movie.FrameDueTime(frame));
        // Only readings not interrupted between the two clocks count.
        if (after - before <= 1)
            offsets.emplace_back(before / 1000.0, now - (before + after) / 2.0);
        ++drawn;
    }
    std::vector<LONG> lateness;
    long drawn = 0;
    long clockFailures = 0;
    // (system time in s, audio clock minus system clock in ms) at each frame.
    std::vector<std::pair<double, double>> offsets;

private:
    LONG lastFrame_ = -1;
};

// The change over the play of a quantity sampled at times t (s): the slope
// of the least-squares line through the samples, times the span. A straight
// fit, rather than the first and last samples, so that the start's settling
// and each reading's millisecond rounding weigh little.
double ChangeOver(const std::vector<std::pair<double, double>>& samples) {
    if (samples.size() < 2)
        return 0.0;
    double st = 0, sv = 0;
    for (const auto& [t, v] : samples) {
        st += t;
        sv += v;
    }
    const double n = static_cast<double>(samples.size());
    const double mt = st / n, mv = sv / n;
    double stt = 0, stv = 0;
    for (const auto& [t, v] : samples) {
        stt += (t - mt) * (t - mt);
        stv += (t - mt) * (v - mv);
    }
    if (stt <= 0)
        return 0.0;
    return stv / stt * (samples.back().first - samples.front().first);
}

bool WriteMovie(const std::string& path, int seconds) {
    AviWriter writer;
    if (writer.Create(path) != AVIERR_OK)
        return false;
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = kWidth;
    bih.biHeight = kHeight;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    bih.biSizeImage = kWidth * kHeight * 3;
    AviVideoStreamDesc v;
    v.handler = mmioFOURCC('D', 'I', 'B', ' ');
    v.format.assign(reinterpret_cast<BYTE*>(&bih), reinterpret_cast<BYTE*>(&bih) + sizeof bih);
    v.rate = kFps;
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 2;
    wfx.nSamplesPerSec = kRate;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 4;
    wfx.nAvgBytesPerSec = kRate * 4;
    AviAudioStreamDesc a;
    a.format.assign(reinterpret_cast<BYTE*>(&wfx), reinterpret_cast<BYTE*>(&wfx) + sizeof wfx);
    int vs = -1, as = -1;
    if (writer.AddVideoStream(v, &vs) != AVIERR_OK || writer.AddAudioStream(a, &as) != AVIERR_OK)
        return false;
    std::vector<BYTE> frame(bih.biSizeImage);
    const int frames = seconds * static_cast<int>(kFps);
    std::uint64_t samplesWritten = 0;
    double phase = 0;
    // `count` stereo samples of a 440 Hz tone, continuing the phase.
    auto writeTone = [&](DWORD count) {
        std::vector<std::int16_t> pcm;
        for (DWORD i = 0; i < count; ++i) {
            const auto s = static_cast<std::int16_t>(8000 * std::sin(phase));
            phase += 2 * M_PI * 440 / kRate;
            pcm.push_back(s);
            pcm.push_back(s);
        }
        return writer.WriteAudio(as, pcm.data(), static_cast<DWORD>(pcm.size() * 2)) == AVIERR_OK;
    };
    for (int f = 0; f < frames; ++f) {
        // A moving bar, so that every frame differs.
        std::memset(frame.data(), 0x30, frame.size());
        const int x = (f * 8) % kWidth;
        for (int y = 0; y < kHeight; ++y)
            std::memset(&frame[(y * kWidth + x) * 3], 0xE0, std::min<int>(24, kWidth - x) * 3);
        if (writer.WriteVideoFrame(vs, frame.data(), static_cast<DWORD>(frame.size()), true) != AVIERR_OK)
            return false;
        const std::uint64_t until = (static_cast<std::uint64_t>(f) + 1) * kRate / kFps;
        if (!writeTone(static_cast<DWORD>(until - samplesWritten)))
            return false;
        samplesWritten = until;
    }
    // One more second of sound than picture, so that the audio clock runs to
    // the last frame: the tail shorter than one audio block is never played,
    // and after the sound the clock is carried on by the system clock. Written
    // in chunks of a frame's length, so that the largest chunk, which sets the
    // block size, stays that of a frame.
    for (DWORD f = 0; f < kFps; ++f)
        if (!writeTone(kRate / kFps))
            return false;
    return writer.Close() == AVIERR_OK;
}

LONG Percentile(std::vector<LONG> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end(), [](LONG a, LONG b) { return std::labs(a) < std::labs(b); });
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(std::ceil(p * v.size())) - 1);
    return std::labs(v[i]);
}

// `recording` is the raw file the sink's listener writes (empty for none):
// its growth is the sink's own pace, against which the audio clock's drift
// is judged, since the video follows the device and not the system clock.
bool Run(const char* label, const std::string& path, const std::string& recording) {
    BenchWindow window;
    CreatePlayer(&window);
    if (!OpenMovie(&window, path.c_str())) {
        std::fprintf(stderr, "%s: the movie did not open\n", label);
        DestroyPlayer(&window);
        return false;
    }
    // The shell sets the display's depth on each movie it opens; the window
    // here is a 24-bit one, so the picture is decoded at 24 bits.
    theMovie->SetDisplayFormat(1.0f, 24, 0, 0, 0);
    ProbeClock probe;
    theMovie->SetClock(&probe);
    window.surface->SetChangedCallback([&](const RECT&) { probe.Shown(*theMovie); });
    const LONG frames = theMovie->lastFrame - theMovie->firstFrame + 1;
    const auto start = std::chrono::steady_clock::now();
    // (system time in s, ms of sound the listener has received minus system ms)
    std::vector<std::pair<double, double>> sink;
    StartPlayback(&window);
    const bool audio = theMovie->waveOut != nullptr;
    while (!window.StopPosted()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::error_code error;
        const auto bytes = recording.empty() ? 0 : std::filesystem::file_size(recording, error);
        const DWORD now = timeGetTime();
        if (!recording.empty() && !error && bytes > 0)
            sink.emplace_back(now / 1000.0, bytes * 1000.0 / (kRate * 4) - now);
    }
    // The engine's own count, which starts at -1 for the first frame drawn.
    const long skipped = theMovie->skippedFrames + 1;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    window.surface->SetChangedCallback(nullptr);
    StopPlayback(&window);
    theMovie->SetClock(nullptr);
    CloseMovie(&window);
    DestroyPlayer(&window);

    std::printf("%-6s %s, %ld of %ld frames drawn in %.1f s\n", label,
                audio ? "audio clock" : "NO AUDIO (system clock)", probe.drawn, static_cast<long>(frames),
                wall);
    std::printf("       |shown - due|: p50 %ld ms, p99 %ld ms, max %ld ms   (target p99 <= 2 ms)\n",
                static_cast<long>(Percentile(probe.lateness, 0.50)),
                static_cast<long>(Percentile(probe.lateness, 0.99)),
                static_cast<long>(Percentile(probe.lateness, 1.0)));
    const double clockDrift = ChangeOver(probe.offsets);
    std::printf("       the audio clock against the system clock over the play: %+.1f ms\n", clockDrift);
    if (!sink.empty()) {
        const double sinkDrift = ChangeOver(sink);
        std::printf("       the sound device's own pace against the system clock (its listener): %+.1f ms\n",
                    sinkDrift);
        std::printf(
            "       drift of the audio clock against the sound device: %+.1f ms   (target |drift| <= 1 "
            "ms)\n",
            clockDrift - sinkDrift);
    } else {
        std::printf("       (the device's clock is the system clock: target |drift| <= 1 ms)\n");
    }
    std::printf("       frames skipped: %ld   (target 0); clock readings that failed: %ld\n", skipped,
                probe.clockFailures);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    std::string which = "all";
    std::string sound = "pcm";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            seconds = std::max(1, std::atoi(argv[i] + 10));
        else if (std::strncmp(argv[i], "--sound=", 8) == 0 &&
                 (std::strcmp(argv[i] + 8, "pcm") == 0 || std::strcmp(argv[i] + 8, "mp3") == 0))
            sound = argv[i] + 8;
        else if (std::strncmp(argv[i], "--audio=", 8) == 0)
            which = argv[i] + 8;
        else {
            std::fprintf(stderr, "usage: %s [--seconds=N] [--audio=null|pulse|all] [--sound=pcm|mp3]\n",
                         argv[0]);
            return 2;
        }
    }
    char templ[] = "/tmp/cadmo-avsync-XXXXXX";
    if (!mkdtemp(templ))
        return 1;
    const std::string dir = templ;
    std::string path = dir + "/avsync.avi";
    std::printf("A/V sync: %ld x %ld DIB, %u fps, %u Hz stereo %s, %d s\n", static_cast<long>(kWidth),
                static_cast<long>(kHeight), kFps, kRate, sound == "mp3" ? "MP3 128 kbit/s" : "16-bit PCM",
                seconds);
    if (!WriteMovie(path, seconds)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    if (sound == "mp3") {
        const std::string mp3 = dir + "/avsync-mp3.avi";
        const std::string command = "ffmpeg -y -v error -i " + path +
                                    " -c:v copy -c:a libmp3lame -b:a 128k -avoid_negative_ts disabled " + mp3;
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "ffmpeg could not make the MP3 movie\n");
            std::filesystem::remove_all(dir);
            return 1;
        }
        std::filesystem::remove(path);
        path = mp3;
    }
    RegisterBuiltinCodecs();
    int status = 0;
    if (which == "null" || which == "all") {
        WaveSetBackend(WaveBackend::Null);
        status |= Run("null", path, "") ? 0 : 1;
    }
    if (which == "pulse" || which == "all") {
        cadmo::test::PulseServer server;
        if (!server.Start(kRate)) {
            std::printf("pulse  skipped: %s\n", server.Error().c_str());
        } else if (const std::string listener = server.Dir() + "/listener.raw";
                   !server.StartRecording(listener, kRate)) {
            std::printf("pulse  skipped: %s\n", server.Error().c_str());
        } else {
            // A null sink with no listener sleeps in blocks of up to 2 s and
            // takes that long to notice a new stream; a listener at 10 ms
            // keeps it at the pace of a sound card.
            WaveSetBackend(WaveBackend::Pulse);
            status |= Run("pulse", path, listener) ? 0 : 1;
        }
    }
    std::filesystem::remove_all(dir);
    return status;
}
