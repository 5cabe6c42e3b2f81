// Decoding and drawing speed of the libavcodec driver against the ffmpeg
// command line.
//
// For each codec a 640 x 480 file of kFrames frames is made with ffmpeg and
// played kLoops times over by each side. Ours: every frame goes through
// ICM_DECOMPRESSEX (the codec layer, driver chosen by ICLocate) into a
// 24-bit DIB section, then a 1:1 BitBlt into a 24-bit window surface and
// GdiFlush: the player's whole per-frame path after the file read (the
// compressed frames are read into memory first). Peer: `ffmpeg -threads 1
// -stream_loop N -i FILE -f null -`, timed from outside, so its figure also
// carries process start-up and file reading; both sides decode on one
// thread. Each side runs kRuns times and the best run counts.
//
// The ffmpeg tool cannot write MS RLE, so the rle8 sample is ffmpeg's 8-bit
// palettised picture run-length coded here (runs only, as simple encoders
// write it) and stored with our writer.
//
// Usage: cadmo-bench-codecs [cinepak|msvideo1|mjpeg|mpeg4|h264|h264-bf|huffyuv|rle8 ...]
#include "codecs/builtin/BuiltinCodecs.h"
#include "platform/avi/AviFile.h"
#include "platform/avi/AviWriter.h"
#include "platform/gdi/Gdi.h"
#include "platform/vfw/Vfw.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFrames = 100;
constexpr int kLoops = 4;
constexpr int kRuns = 3;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Movie {
    std::vector<BYTE> format;
    FOURCC handler = 0;
    std::vector<std::vector<BYTE>> frames;
};

bool ReadMovie(const std::string& path, Movie& movie) {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_READ, nullptr) != AVIERR_OK)
        return false;
    bool ok = AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK;
    if (ok) {
        AVISTREAMINFOA info{};
        AVIStreamInfoA(stream, &info, sizeof info);
        movie.handler = info.fccHandler;
        LONG size = 0;
        AVIStreamReadFormat(stream, 0, nullptr, &size);
        movie.format.assign(static_cast<std::size_t>(size) + 1024, 0);
        AVIStreamReadFormat(stream, 0, movie.format.data(), &size);
        for (LONG i = 0; i < AVIStreamLength(stream); ++i) {
            LONG bytes = 0, samples = 0;
            AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, &samples);
            std::vector<BYTE> frame(static_cast<std::size_t>(bytes));
            AVIStreamRead(stream, i, 1, frame.data(), bytes, &bytes, &samples);
            movie.frames.push_back(std::move(frame));
        }
        AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
    return ok && !movie.frames.empty();
}

// Rewrites a movie of 8-bit palettised frames (top-down, as ffmpeg stores
// them) as MS RLE 8 at `path`: per row, runs of up to 255 equal pixels, rows
// bottom-up, each ended by an end-of-line code and the last by end of bitmap.
bool WriteRle8(const Movie& raw, const std::string& path) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, raw.format.data(), sizeof h);
    if (h.biBitCount != 8 || h.biHeight >= 0)
        return false;
    const LONG rows = -h.biHeight;
    const std::size_t stride = (static_cast<std::size_t>(h.biWidth) + 3) & ~std::size_t{3};
    AviVideoStreamDesc desc;
    desc.rate = 25;
    desc.format = raw.format;
    desc.format.resize(sizeof h + 256 * sizeof(RGBQUAD));
    h.biHeight = rows;
    h.biCompression = BI_RLE8;
    h.biSizeImage = 0;
    h.biClrUsed = 256;
    std::memcpy(desc.format.data(), &h, sizeof h);
    AviWriter writer;
    int stream = -1;
    if (writer.Create(path) != AVIERR_OK || writer.AddVideoStream(desc, &stream) != AVIERR_OK)
        return false;
    std::vector<BYTE> rle;
    for (const auto& frame : raw.frames) {
        rle.clear();
        for (LONG r = rows - 1; r >= 0; --r) {
            const BYTE* row = frame.data() + stride * static_cast<std::size_t>(r);
            for (LONG x = 0; x < h.biWidth;) {
                LONG n = 1;
                while (x + n < h.biWidth && n < 255 && row[x + n] == row[x])
                    ++n;
                rle.push_back(static_cast<BYTE>(n));
                rle.push_back(row[x]);
                x += n;
            }
            rle.push_back(0);
            rle.push_back(r == 0 ? 1 : 0);
        }
        if (writer.WriteVideoFrame(stream, rle.data(), static_cast<DWORD>(rle.size()), true) != AVIERR_OK)
            return false;
    }
    return writer.Close() == AVIERR_OK;
}

// Frames per second through the codec layer and the blit, best of kRuns;
// negative on failure.
double OurFps(Movie& movie) {
    auto* in = reinterpret_cast<BITMAPINFOHEADER*>(movie.format.data());
    HIC hic = ICLocate(ICTYPE_VIDEO, movie.handler, in, nullptr, ICMODE_DECOMPRESS);
    if (hic == nullptr)
        return -1;
    auto surface = std::make_shared<WindowSurface>(kWidth, kHeight, 24);
    HWND window = reinterpret_cast<HWND>(0x1234);
    RegisterWindowSurface(window, surface);
    HDC windowDC = GetDC(window);
    HDC memoryDC = CreateCompatibleDC(windowDC);
    std::vector<BYTE> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    *out = BITMAPINFOHEADER{40, kWidth, kHeight, 1, 24, BI_RGB, kWidth * kHeight * 3, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(windowDC, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS,
                                       &bits, nullptr, 0);
    HGDIOBJ saved = SelectObject(memoryDC, section);
    double best = -1;
    if (section != nullptr && bits != nullptr &&
        ICDecompressExBegin(hic, 0, in, nullptr, 0, 0, kWidth, kHeight, out, nullptr, 0, 0, kWidth,
                            kHeight) == ICERR_OK) {
        // A codec with a reorder delay is fed as the player feeds it: the
        // delay asked after each frame, the first pictures of a pass not
        // drawn, empty end-of-stream frames after the last, and a flush
        // before the next pass starts again from the first frame.
        LRESULT delay = 0;
        BYTE empty = 0;
        for (int run = 0; run < kRuns; ++run) {
            auto start = Clock::now();
            bool ok = true;
            for (int loop = 0; loop < kLoops; ++loop) {
                if (delay > 0)
                    ICSendMessage(hic, ICM_DECOMPRESS_FLUSH, 0, 0);
                for (std::size_t i = 0; i < movie.frames.size() + static_cast<std::size_t>(delay); ++i) {
                    const bool past = i >= movie.frames.size();
                    in->biSizeImage = past ? 0 : static_cast<DWORD>(movie.frames[i].size());
                    const LRESULT r = ICDecompressEx(hic, past ? ICDECOMPRESS_ENDOFSTREAM : 0, in,
                                                     past ? &empty : movie.frames[i].data(), 0, 0, kWidth,
                                                     kHeight, out, bits, 0, 0, kWidth, kHeight);
                    delay = std::max(delay, ICSendMessage(hic, ICM_DECOMPRESS_GET_DELAY, 0, 0));
                    if (r == ICERR_DONTDRAW && i < static_cast<std::size_t>(delay))
                        continue;
                    ok = ok && r == ICERR_OK;
                    ok = ok && BitBlt(windowDC, 0, 0, kWidth, kHeight, memoryDC, 0, 0, SRCCOPY);
                    GdiFlush();
                }
            }
            double fps = kLoops * movie.frames.size() / Seconds(start);
            if (ok && fps > best)
                best = fps;
        }
    }
    SelectObject(memoryDC, saved);
    DeleteDC(memoryDC);
    DeleteObject(section);
    ReleaseDC(window, windowDC);
    RegisterWindowSurface(window, nullptr);
    ICClose(hic);
    return best;
}

double FfmpegFps(const std::string& path, int frames) {
    double best = -1;
    // Looping an H.264 file with B-frames makes the null muxer complain of
    // every timestamp at the error level; only a failure's status counts.
    const std::string command = "ffmpeg -v fatal -threads 1 -stream_loop " + std::to_string(kLoops - 1) +
                                " -i '" + path + "' -f null - </dev/null";
    for (int run = 0; run < kRuns; ++run) {
        auto start = Clock::now();
        if (std::system(command.c_str()) != 0)
            return -1;
        double fps = kLoops * frames / Seconds(start);
        if (fps > best)
            best = fps;
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    struct Codec {
        const char* name;
        const char* options;
    } codecs[] = {
        {"cinepak", "-c:v cinepak"},
        {"msvideo1", "-c:v msvideo1"},
        {"mjpeg", "-c:v mjpeg -q:v 3"},
        {"mpeg4", "-c:v mpeg4 -q:v 3 -g 30"},
        {"h264", "-c:v libx264 -bf 0 -g 30 -pix_fmt yuv420p"},
        {"h264-bf", "-c:v libx264 -bf 3 -g 30 -pix_fmt yuv420p"},
        {"huffyuv", "-c:v huffyuv"},
        {"rle8", "-c:v rawvideo -pix_fmt pal8"}, // then coded here
    };
    char folder[] = "/tmp/cadmo-bench-codecs-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    RegisterBuiltinCodecs();
    AVIFileInit();
    std::printf("%-10s %8s %12s %12s %7s\n", "codec", "frames", "cadmo fps", "ffmpeg fps", "ratio");
    std::fflush(stdout);
    int status = 0;
    for (const Codec& c : codecs) {
        // Codec names on the command line pick some; none runs all.
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i)
            wanted = wanted || std::string(argv[i]) == c.name;
        if (!wanted)
            continue;
        const std::string path = std::string(folder) + "/" + c.name + ".avi";
        const std::string make = "ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v " +
                                 std::to_string(kFrames) + " " + c.options + " '" + path + "' </dev/null";
        Movie movie;
        bool made = std::system(make.c_str()) == 0 && ReadMovie(path, movie);
        if (made && std::string(c.name) == "rle8") {
            made = WriteRle8(movie, path);
            movie = Movie{};
            made = made && ReadMovie(path, movie);
        }
        if (!made) {
            std::printf("%-10s could not make or read the sample\n", c.name);
            status = 1;
            continue;
        }
        double ours = OurFps(movie);
        double theirs = FfmpegFps(path, static_cast<int>(movie.frames.size()));
        std::printf("%-10s %8zu %12.1f %12.1f %7.2f\n", c.name, kLoops * movie.frames.size(), ours, theirs,
                    theirs > 0 ? ours / theirs : 0.0);
        std::fflush(stdout);
        std::remove(path.c_str());
    }
    AVIFileExit();
    rmdir(folder);
    return status;
}
