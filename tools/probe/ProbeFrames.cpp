// cadmo-probe --frames FILE [--depth 8|16|24|32] [--raw OUT]
//
// Decodes every frame of the first video stream through the codec layer, as
// the player would (the codec chosen by ICLocate, one ICM_DECOMPRESSEX per
// frame into a bottom-up frame of the chosen depth, 24 by default), and
// prints one line per frame:
//     <frame number> <md5 of the picture>
// or, when the codec refuses the frame,
//     <frame number> error <ICERR_* value>
// The md5 is taken over the picture's rows top to bottom with no padding,
// which are also the bytes --raw writes for each frame, so the file reads
// with `ffmpeg -f rawvideo -pix_fmt bgr24` (24), `bgr0` (32), `rgb555le`
// (16), or `gray` (8: palette indices; the palette is printed first as
// "palette" and 256 RRGGBB values). A refused frame repeats the previous
// picture in the raw file, so frame numbers stay aligned. At 24 bits the
// hashes equal those of `ffmpeg -i FILE -f framemd5 -pix_fmt bgr24`, which
// numbers the pictures of video with B-frames from its decoder's delay on.
//
// Exit status: 0 when every frame decoded, 1 when some frame failed, 2 when
// the file or its video cannot be opened or no codec accepts it.
#include "ProbeFrames.h"

#include "codecs/builtin/BuiltinCodecs.h"
#include "pixel/DibRules.h"
#include "platform/avi/AviFile.h"
#include "platform/vfw/Vfw.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
}

namespace {

int Usage() {
    std::fprintf(stderr, "usage: cadmo-probe --frames FILE [--depth 8|16|24|32] [--raw OUT]\n");
    return 2;
}

std::string Md5Hex(const std::vector<BYTE>& bytes) {
    uint8_t digest[16];
    av_md5_sum(digest, bytes.data(), static_cast<int>(bytes.size()));
    char text[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

// The stream and the file it keeps open, released in reverse order.
struct OpenVideo {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    ~OpenVideo() {
        if (stream)
            AVIStreamRelease(stream);
        if (file)
            AVIFileRelease(file);
        AVIFileExit();
    }
};

} // namespace

int RunFrames(int argc, char** argv) {
    const char* path = nullptr;
    const char* rawPath = nullptr;
    int depth = 24;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--depth") == 0 && i + 1 < argc) {
            depth = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--raw") == 0 && i + 1 < argc) {
            rawPath = argv[++i];
        } else if (argv[i][0] == '-' || path != nullptr) {
            return Usage();
        } else {
            path = argv[i];
        }
    }
    if (path == nullptr || (depth != 8 && depth != 16 && depth != 24 && depth != 32))
        return Usage();

    RegisterBuiltinCodecs();
    AVIFileInit();
    OpenVideo video;
    if (AVIFileOpenA(&video.file, path, OF_READ, nullptr) != AVIERR_OK ||
        AVIFileGetStream(video.file, &video.stream, streamtypeVIDEO, 0) != AVIERR_OK) {
        std::fprintf(stderr, "cadmo-probe: %s: no video stream\n", path);
        return 2;
    }
    AVISTREAMINFOA info{};
    AVIStreamInfoA(video.stream, &info, sizeof info);
    LONG formatSize = 0;
    AVIStreamReadFormat(video.stream, 0, nullptr, &formatSize);
    if (formatSize < static_cast<LONG>(sizeof(BITMAPINFOHEADER))) {
        std::fprintf(stderr, "cadmo-probe: %s: bad video format\n", path);
        return 2;
    }
    // Room for a colour table behind a format that claims one but is cut
    // short; the codec reads biSize and the table, never the file's size.
    std::vector<BYTE> format(static_cast<std::size_t>(formatSize) + 256 * sizeof(RGBQUAD), 0);
    AVIStreamReadFormat(video.stream, 0, format.data(), &formatSize);
    auto* in = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    if (in->biSize > static_cast<DWORD>(formatSize))
        in->biSize = static_cast<DWORD>(formatSize);

    HIC hic = ICLocate(ICTYPE_VIDEO, info.fccHandler, in, nullptr, ICMODE_DECOMPRESS);
    if (hic == nullptr) {
        std::fprintf(stderr, "cadmo-probe: %s: no codec accepts this video\n", path);
        return 2;
    }

    const LONG width = in->biWidth;
    const auto height = static_cast<LONG>(DibRows(in->biHeight));
    std::vector<BYTE> outFormat(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(outFormat.data());
    out->biSize = sizeof *out;
    out->biWidth = width;
    out->biHeight = height;
    out->biPlanes = 1;
    out->biBitCount = static_cast<WORD>(depth);
    out->biCompression = BI_RGB;
    const auto rowBytes = static_cast<std::size_t>(DibStride(width, depth));
    const std::size_t usedBytes = static_cast<std::size_t>(width) * depth / 8;
    out->biSizeImage = static_cast<DWORD>(rowBytes * static_cast<std::size_t>(height));

    LRESULT r =
        ICDecompressExBegin(hic, 0, in, nullptr, 0, 0, width, height, out, nullptr, 0, 0, width, height);
    if (r != ICERR_OK) {
        std::fprintf(stderr, "cadmo-probe: %s: the codec refuses %d-bit output (%ld)\n", path, depth,
                     static_cast<long>(r));
        ICClose(hic);
        return 2;
    }
    if (depth == 8) {
        ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, reinterpret_cast<DWORD_PTR>(in),
                      reinterpret_cast<DWORD_PTR>(out));
        const auto* colors = reinterpret_cast<const RGBQUAD*>(outFormat.data() + sizeof *out);
        std::printf("palette");
        for (int i = 0; i < 256; ++i)
            std::printf(" %02x%02x%02x", colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue);
        std::printf("\n");
    }

    std::FILE* raw = nullptr;
    if (rawPath != nullptr && (raw = std::fopen(rawPath, "wb")) == nullptr) {
        std::fprintf(stderr, "cadmo-probe: cannot write %s\n", rawPath);
        ICClose(hic);
        return 2;
    }

    std::vector<BYTE> frame;
    std::vector<BYTE> pixels(out->biSizeImage, 0);
    std::vector<BYTE> rows(usedBytes * static_cast<std::size_t>(height));
    int failures = 0;
    const LONG first = AVIStreamStart(video.stream);
    const LONG count = AVIStreamLength(video.stream);
    // One chunk to the codec; past the last, the empty end-of-stream frame
    // that drains a codec with a reorder delay.
    BYTE empty = 0;
    auto feed = [&](long long chunk, DWORD flags) -> LRESULT {
        if (chunk >= static_cast<long long>(first) + count) {
            in->biSizeImage = 0;
            return ICDecompressEx(hic, flags | ICDECOMPRESS_ENDOFSTREAM, in, &empty, 0, 0, width, height, out,
                                  pixels.data(), 0, 0, width, height);
        }
        const LONG at = static_cast<LONG>(chunk);
        LONG bytes = 0, samples = 0;
        if (AVIStreamRead(video.stream, at, 1, nullptr, 0, &bytes, &samples) != AVIERR_OK || bytes < 0)
            return ICERR_ERROR;
        frame.resize(static_cast<std::size_t>(bytes) + 1);
        if (bytes > 0 &&
            AVIStreamRead(video.stream, at, 1, frame.data(), bytes, &bytes, &samples) != AVIERR_OK)
            return ICERR_ERROR;
        in->biSizeImage = static_cast<DWORD>(bytes);
        return ICDecompressEx(hic, flags, in, frame.data(), 0, 0, width, height, out, pixels.data(), 0, 0,
                              width, height);
    };
    // As the player does, frame n comes from chunk n + the codec's reorder
    // delay (Vfw.h), asked again after every chunk.
    LRESULT delay = 0;
    long long fed = first;
    for (LONG n = first; n < first + count; ++n) {
        r = ICERR_ERROR;
        while (fed <= n + delay) {
            r = feed(fed, fed < n + delay ? ICDECOMPRESS_HURRYUP : 0);
            ++fed;
            const LRESULT d = ICSendMessage(hic, ICM_DECOMPRESS_GET_DELAY, 0, 0);
            if (d > delay)
                delay = d < 16 ? d : 16;
        }
        for (LONG y = 0; y < height; ++y)
            std::memcpy(rows.data() + usedBytes * static_cast<std::size_t>(y),
                        pixels.data() + rowBytes * static_cast<std::size_t>(height - 1 - y), usedBytes);
        if (r == ICERR_OK) {
            std::printf("%ld %s\n", static_cast<long>(n), Md5Hex(rows).c_str());
        } else {
            std::printf("%ld error %ld\n", static_cast<long>(n), static_cast<long>(r));
            ++failures;
        }
        if (raw != nullptr && std::fwrite(rows.data(), 1, rows.size(), raw) != rows.size()) {
            std::fprintf(stderr, "cadmo-probe: write error on %s\n", rawPath);
            std::fclose(raw);
            ICClose(hic);
            return 2;
        }
    }
    if (raw != nullptr && std::fclose(raw) != 0) {
        std::fprintf(stderr, "cadmo-probe: write error on %s\n", rawPath);
        ICClose(hic);
        return 2;
    }
    ICClose(hic);
    return failures == 0 ? 0 : 1;
}
