// Opening a 2 GB OpenDML file: 60 000 video frames (25 fps, 40 minutes) with
// 16-bit stereo audio. Times AVIFileOpenA plus the stream information the
// player asks for, beside `ffprobe -show_streams` on the same file, and prints
// what the index costs per entry. The file is written to a temporary folder
// (or the one given as the first argument) and deleted afterwards.
//
//   cadmo-bench-avi-open [DIR]
#include "platform/avi/AviFile.h"
#include "platform/avi/AviWriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 60000;
constexpr DWORD kFrameBytes = 28000;
constexpr int kRuns = 7;

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool WriteFile(const std::string& path) {
    AviWriter w;
    if (w.Create(path) != AVIERR_OK)
        return false;
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = 720;
    bi.biHeight = 576;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = mmioFOURCC('X', 'V', 'I', 'D');
    bi.biSizeImage = 720 * 576 * 3;
    AviVideoStreamDesc v;
    v.handler = bi.biCompression;
    v.format.resize(sizeof bi);
    std::memcpy(v.format.data(), &bi, sizeof bi);
    v.rate = 25;
    WAVEFORMATEX wf{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    AviAudioStreamDesc a;
    a.format.resize(sizeof wf);
    std::memcpy(a.format.data(), &wf, sizeof wf);
    int video = -1, audio = -1;
    if (w.AddVideoStream(v, &video) != AVIERR_OK || w.AddAudioStream(a, &audio) != AVIERR_OK)
        return false;
    std::vector<BYTE> frame(kFrameBytes, 0x5a), sound(44100 / 25 * 4, 0);
    for (int f = 0; f < kFrames; ++f) {
        if (w.WriteVideoFrame(video, frame.data(), kFrameBytes, f % 250 == 0) != AVIERR_OK ||
            w.WriteAudio(audio, sound.data(), static_cast<DWORD>(sound.size())) != AVIERR_OK)
            return false;
    }
    return w.Close() == AVIERR_OK;
}

// What the player does on open: the file, its first video and audio streams,
// their information and formats.
bool OpenLikeThePlayer(const std::string& path, std::uint64_t* indexBytes, std::uint64_t* entries) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK)
        return false;
    AVIFILEINFOA fi{};
    AVIFileInfoA(file, &fi, sizeof fi);
    *indexBytes = *entries = 0;
    for (DWORD type : {streamtypeVIDEO, streamtypeAUDIO}) {
        PAVISTREAM s = nullptr;
        if (AVIFileGetStream(file, &s, type, 0) != AVIERR_OK)
            continue;
        AVISTREAMINFOA si{};
        AVIStreamInfoA(s, &si, sizeof si);
        LONG size = 0;
        AVIStreamReadFormat(s, 0, nullptr, &size);
        std::vector<BYTE> format(static_cast<std::size_t>(size));
        AVIStreamReadFormat(s, 0, format.data(), &size);
        *indexBytes += AVIStreamIndexBytes(s);
        *entries += static_cast<std::uint64_t>(AVIStreamChunkCount(s));
        AVIStreamRelease(s);
    }
    AVIFileRelease(file);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string pattern = base + "/cadmo-bench-avi-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "cannot create a folder in %s\n", base.c_str());
        return 1;
    }
    const std::string dir = pattern;
    const std::string path = dir + "/big.avi";
    auto cleanup = [&] { std::filesystem::remove_all(dir); };

    std::printf("Writing %d frames + audio to %s ...\n", kFrames, path.c_str());
    const auto w0 = Clock::now();
    if (!WriteFile(path)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        cleanup();
        return 1;
    }
    const double writeSeconds = std::chrono::duration<double>(Clock::now() - w0).count();
    std::printf("File: %.2f GB written in %.1f s\n", std::filesystem::file_size(path) / 1e9, writeSeconds);

    AVIFileInit();
    std::vector<double> ours, theirs;
    std::uint64_t indexBytes = 0, entries = 0;
    const bool haveFfprobe = std::system("command -v ffprobe >/dev/null 2>&1") == 0;
    const std::string ffprobe = "ffprobe -v error -show_streams '" + path + "' >/dev/null 2>&1";
    for (int run = 0; run < kRuns; ++run) {
        const auto t0 = Clock::now();
        if (!OpenLikeThePlayer(path, &indexBytes, &entries)) {
            std::fprintf(stderr, "cannot open %s\n", path.c_str());
            cleanup();
            return 1;
        }
        ours.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        if (haveFfprobe) {
            const auto t1 = Clock::now();
            if (std::system(ffprobe.c_str()) != 0)
                std::fprintf(stderr, "ffprobe failed\n");
            theirs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t1).count());
        }
    }
    AVIFileExit();
    cleanup();

    std::printf("AVIFileOpenA + stream info:  median %7.1f ms  (min %.1f, max %.1f, %d runs)\n", Median(ours),
                *std::min_element(ours.begin(), ours.end()), *std::max_element(ours.begin(), ours.end()),
                kRuns);
    if (haveFfprobe)
        std::printf("ffprobe -show_streams:       median %7.1f ms  (min %.1f, max %.1f, %d runs)\n",
                    Median(theirs), *std::min_element(theirs.begin(), theirs.end()),
                    *std::max_element(theirs.begin(), theirs.end()), kRuns);
    else
        std::printf("ffprobe -show_streams:       not installed\n");
    std::printf("Index: %llu entries, %llu bytes, %.2f bytes per entry\n",
                static_cast<unsigned long long>(entries), static_cast<unsigned long long>(indexBytes),
                entries ? static_cast<double>(indexBytes) / static_cast<double>(entries) : 0.0);
    return 0;
}
