// cadmo-demo-gen FILE: writes the demo movie that the build ships in
// bin/demo/demo.avi, so that a fresh checkout has something to play without
// any binary in the repository.
//
// 640 x 480, 15 frames per second, 10 seconds, uncompressed 24-bit bottom-up
// frames: colour bars, a box that bounces around the picture, the frame number
// in large digits and a bar that fills as the movie plays. The sound is a
// 440 Hz tone, 44.1 kHz 16-bit stereo, with a click at the start of every
// second, so that picture and sound can be checked for sync by eye and ear.
#include "platform/avi/AviWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFps = 15;
constexpr int kFrames = 10 * kFps;
constexpr int kSampleRate = 44100;
constexpr int kStride = kWidth * 3; // 1920: already a multiple of 4

struct Rgb {
    BYTE r, g, b;
};

class Picture {
public:
    Picture() : m_pixels(static_cast<std::size_t>(kStride) * kHeight) {}

    // Coordinates from the top left; rows are stored bottom-up.
    void Fill(int x0, int y0, int x1, int y1, Rgb c) {
        for (int y = std::max(y0, 0); y < std::min(y1, kHeight); ++y) {
            BYTE* row = &m_pixels[static_cast<std::size_t>(kHeight - 1 - y) * kStride];
            for (int x = std::max(x0, 0); x < std::min(x1, kWidth); ++x) {
                row[x * 3] = c.b;
                row[x * 3 + 1] = c.g;
                row[x * 3 + 2] = c.r;
            }
        }
    }

    // A seven-segment digit, `s` pixels per segment unit.
    void Digit(int x, int y, int digit, int s, Rgb c) {
        static const BYTE segments[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};
        const BYTE m = segments[digit % 10];
        const int w = 4 * s, h = 7 * s, t = s;
        if (m & 0x01)
            Fill(x, y, x + w, y + t, c); // top
        if (m & 0x02)
            Fill(x + w - t, y, x + w, y + h / 2 + t / 2, c); // top right
        if (m & 0x04)
            Fill(x + w - t, y + h / 2, x + w, y + h, c); // bottom right
        if (m & 0x08)
            Fill(x, y + h - t, x + w, y + h, c); // bottom
        if (m & 0x10)
            Fill(x, y + h / 2, x + t, y + h, c); // bottom left
        if (m & 0x20)
            Fill(x, y, x + t, y + h / 2 + t / 2, c); // top left
        if (m & 0x40)
            Fill(x, y + h / 2 - t / 2, x + w, y + h / 2 + t / 2, c); // middle
    }

    const std::vector<BYTE>& Pixels() const { return m_pixels; }

private:
    std::vector<BYTE> m_pixels;
};

void DrawFrame(Picture& p, int frame) {
    static const Rgb bars[7] = {{192, 192, 192}, {192, 192, 0}, {0, 192, 192}, {0, 192, 0},
                                {192, 0, 192},   {192, 0, 0},   {0, 0, 192}};
    for (int i = 0; i < 7; ++i)
        p.Fill(i * kWidth / 7, 0, (i + 1) * kWidth / 7, 320, bars[i]);
    p.Fill(0, 320, kWidth, kHeight, {16, 16, 16});

    // The box bounces between the edges, 8 pixels a frame across, 5 down.
    auto bounce = [](int t, int range) {
        const int period = 2 * range;
        const int v = t % period;
        return v < range ? v : period - v;
    };
    const int bx = bounce(frame * 8, kWidth - 64);
    const int by = bounce(frame * 5, 320 - 64);
    p.Fill(bx, by, bx + 64, by + 64, {255, 255, 255});
    p.Fill(bx + 8, by + 8, bx + 56, by + 56, {255, 64, 0});

    // Frame number, three digits, and the second within the movie.
    const Rgb white{240, 240, 240};
    p.Digit(40, 350, frame / 100, 10, white);
    p.Digit(100, 350, frame / 10, 10, white);
    p.Digit(160, 350, frame, 10, white);
    p.Digit(300, 350, frame / kFps, 10, {255, 200, 0});
    // Progress bar along the bottom edge.
    p.Fill(0, 460, kWidth, 470, {64, 64, 64});
    p.Fill(0, 460, (frame + 1) * kWidth / kFrames, 470, {0, 200, 255});
    // Flash a corner on the frame where the click sounds.
    if (frame % kFps == 0)
        p.Fill(kWidth - 60, 350, kWidth - 20, 390, {255, 255, 255});
}

// Stereo 16-bit samples [from, to) of the sound track.
std::vector<BYTE> Sound(long from, long to) {
    std::vector<BYTE> out(static_cast<std::size_t>(to - from) * 4);
    const double pi = 3.14159265358979323846;
    for (long n = from; n < to; ++n) {
        double v = 0.3 * std::sin(2 * pi * 440.0 * static_cast<double>(n) / kSampleRate);
        const long intoSecond = n % kSampleRate;
        if (intoSecond < 220) // a 5 ms click: a decaying 2 kHz burst
            v += 0.6 * std::exp(-intoSecond / 40.0) *
                 std::sin(2 * pi * 2000.0 * static_cast<double>(intoSecond) / kSampleRate);
        const auto s = static_cast<std::int16_t>(std::lround(std::max(-1.0, std::min(1.0, v)) * 32767));
        for (int ch = 0; ch < 2; ++ch)
            std::memcpy(&out[static_cast<std::size_t>(n - from) * 4 + static_cast<std::size_t>(ch) * 2], &s,
                        2);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cadmo-demo-gen FILE\n");
        return 2;
    }
    // Written under a temporary name and renamed, so an interrupted build
    // never leaves a half-written movie behind.
    const std::string path = argv[1];
    const std::string temp = path + ".part";

    AviWriter w;
    HRESULT hr = w.Create(temp);
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = kWidth;
    bi.biHeight = kHeight;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    bi.biSizeImage = kStride * kHeight;
    AviVideoStreamDesc v;
    v.format.resize(sizeof bi);
    std::memcpy(v.format.data(), &bi, sizeof bi);
    v.rate = kFps;
    v.scale = 1;
    v.name = "Cadmo demo picture";
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 2;
    wf.nSamplesPerSec = kSampleRate;
    wf.wBitsPerSample = 16;
    wf.nBlockAlign = 4;
    wf.nAvgBytesPerSec = kSampleRate * 4;
    AviAudioStreamDesc a;
    a.format.resize(sizeof wf);
    std::memcpy(a.format.data(), &wf, sizeof wf);
    a.name = "Cadmo demo tone";
    int video = -1, audio = -1;
    if (hr == AVIERR_OK)
        hr = w.AddVideoStream(v, &video);
    if (hr == AVIERR_OK)
        hr = w.AddAudioStream(a, &audio);

    Picture picture;
    for (int f = 0; f < kFrames && hr == AVIERR_OK; ++f) {
        DrawFrame(picture, f);
        hr = w.WriteVideoFrame(video, picture.Pixels().data(), static_cast<DWORD>(picture.Pixels().size()),
                               true);
        const long from = static_cast<long>(f) * kSampleRate / kFps;
        const long to = static_cast<long>(f + 1) * kSampleRate / kFps;
        const std::vector<BYTE> sound = Sound(from, to);
        if (hr == AVIERR_OK)
            hr = w.WriteAudio(audio, sound.data(), static_cast<DWORD>(sound.size()));
    }
    const HRESULT closed = w.Close();
    if (hr == AVIERR_OK)
        hr = closed;
    if (hr != AVIERR_OK || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        std::fprintf(stderr, "cadmo-demo-gen: cannot write %s (error 0x%08x)\n", path.c_str(),
                     static_cast<unsigned>(hr));
        return 1;
    }
    return 0;
}
