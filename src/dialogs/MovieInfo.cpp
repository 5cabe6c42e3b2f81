#include "dialogs/MovieInfo.h"

#include "engine/Movie.h"
#include "platform/acm/Acm.h"
#include "platform/avi/AviFile.h"
#include "video/VideoDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

MovieInfo movieInfo;

namespace {

std::string Format(const char* format, auto... values) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return buffer;
}

// Length of the movie in seconds; 0 when the rate, scale or length cannot
// give one (a zero rate or scale would divide by zero).
double MediaSeconds(DWORD rate, DWORD scale, DWORD length) {
    if (rate == 0 || scale == 0)
        return 0.0;
    return static_cast<double>(length) / (static_cast<double>(rate) / static_cast<double>(scale));
}

// The stream's average bit rate from the bytes it holds and its duration:
// for sound whose header has no rate (variable-rate MP3 stores 0).
DWORD StreamBitsPerSecond(PAVISTREAM stream) {
    AVISTREAMINFOA info{};
    if (AVIStreamInfoA(stream, &info, sizeof info) != AVIERR_OK || info.dwRate == 0 || info.dwLength == 0)
        return 0;
    long double bytes = 0;
    if (info.dwSampleSize != 0) {
        bytes = static_cast<long double>(info.dwLength) * info.dwSampleSize;
    } else {
        const LONG end = static_cast<LONG>(info.dwStart + info.dwLength);
        for (LONG at = static_cast<LONG>(info.dwStart); at < end; ++at) {
            LONG size = 0;
            if (AVIStreamRead(stream, at, 1, nullptr, 0, &size, nullptr) == AVIERR_OK)
                bytes += size;
        }
    }
    const long double seconds = static_cast<long double>(info.dwLength) * info.dwScale / info.dwRate;
    const long double bits = bytes * 8 / seconds;
    return bits > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(bits + 0.5L);
}

} // namespace

std::string TruncateUtf8(const std::string& text, size_t limit) {
    if (text.size() <= limit)
        return text;
    size_t cut = limit;
    // Step back over continuation bytes so the cut lands before a lead byte.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

std::string FormatMediaLength(DWORD rate, DWORD scale, DWORD length) {
    const double seconds = MediaSeconds(rate, scale, length);
    const double wholeMinutes = std::floor(seconds / 60.0);
    // The remainder is what is left after taking whole minutes away, which
    // for the lengths a movie has is the same as subtracting 60 repeatedly.
    double remainder = seconds - wholeMinutes * 60.0;
    double minutes = wholeMinutes;
    if (remainder >= 60.0) {
        remainder -= 60.0;
        minutes += 1.0;
    }
    // Half a thousandth is added before formatting, which rounds once more:
    // an exact 0 shows as 0.001. This is how lengths have always been shown.
    if (minutes != 0.0) {
        const int shownMinutes = minutes > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                                           : static_cast<int>(minutes);
        return Format("%d min., %.3f sec.", shownMinutes, remainder + 0.0005);
    }
    return Format("%.3f sec.", remainder + 0.0005);
}

std::string FormatAudioFormat(const WAVEFORMATEX* format) {
    if (format == nullptr)
        return "No Audio";
    return Format("PCM, %d Hz, %d Bit, %s", static_cast<int>(format->nSamplesPerSec),
                  static_cast<int>(format->wBitsPerSample), format->nChannels == 2 ? "Stereo" : "Mono");
}

std::string FormatCompressedAudio(const WAVEFORMATEX& format, DWORD bitsPerSecond) {
    ACMFORMATTAGDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = format.wFormatTag;
    const std::string name = acmFormatTagDetailsA(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG) == 0
                                 ? std::string(details.szFormatTag)
                                 : Format("Format 0x%04X", static_cast<unsigned>(format.wFormatTag));
    const std::string channels = format.nChannels == 1 ? std::string("Mono")
                                 : format.nChannels == 2
                                     ? std::string("Stereo")
                                     : Format("%d Channels", static_cast<int>(format.nChannels));
    return Format("%s, %d Hz, %u kbit/s, %s", name.c_str(), static_cast<int>(format.nSamplesPerSec),
                  static_cast<unsigned>((bitsPerSecond + 500ull) / 1000u), channels.c_str());
}

std::string FormatVideoSize(DWORD width, DWORD height) {
    return Format("%d x %d Pixels", static_cast<int>(width), static_cast<int>(height));
}

std::string FormatFrameCount(LONG firstFrame, LONG lastFrame) {
    const long long count = static_cast<long long>(lastFrame) - firstFrame + 1;
    return Format("%lld Frames", count);
}

std::string FormatFrameRate(float framesPerSecond) {
    return Format("%.3f Frames/Sec", static_cast<double>(framesPerSecond));
}

std::string FormatCodecText(FOURCC codec) {
    const auto byte = [codec](int i) { return static_cast<int>((codec >> (8 * i)) & 0xFF); };
    return Format("%c%c%c%c", byte(0), byte(1), byte(2), byte(3));
}

std::string FormatDataRate(LONG fileSizeKB, DWORD rate, DWORD scale, DWORD length) {
    if (rate == 0 || scale == 0 || length == 0)
        return "0 KB/sec.";
    const double kbPerSecond = static_cast<double>(fileSizeKB) * static_cast<double>(rate) /
                               static_cast<double>(scale) / static_cast<double>(length);
    const double rounded = std::trunc(kbPerSecond + 0.5);
    const double limit = std::numeric_limits<int>::max();
    return Format("%d KB/sec.", static_cast<int>(rounded > limit ? limit : rounded));
}

void BuildMovieInfo(const std::string& windowTitle, const Movie* movie, LONG fileSizeKB, MovieInfo& info) {
    if (movie == nullptr || !movie->decoder)
        return;
    MovieInfo built;
    built.codec = movie->decoder->handler;
    built.fileName = TruncateUtf8(windowTitle, movieInfoTextLimit);

    AVIFILEINFOA fileInfo{};
    if (movie->aviFile == nullptr || AVIFileInfoA(movie->aviFile, &fileInfo, sizeof fileInfo) != 0)
        fileInfo = AVIFILEINFOA{};
    built.mediaLength = FormatMediaLength(fileInfo.dwRate, fileInfo.dwScale, fileInfo.dwLength);

    built.audioFormat = FormatAudioFormat(nullptr);
    if (movie->audioStream != nullptr) {
        LONG size = 0;
        if (AVIStreamReadFormat(movie->audioStream, 0, nullptr, &size) == 0 && size > 0) {
            // Room for at least a whole WAVEFORMATEX, so a short PCMWAVEFORMAT
            // block reads as one with a zero cbSize.
            std::vector<BYTE> format(std::max<size_t>(static_cast<size_t>(size), sizeof(WAVEFORMATEX)), 0);
            if (AVIStreamReadFormat(movie->audioStream, 0, format.data(), &size) == 0 &&
                static_cast<size_t>(size) >= sizeof(PCMWAVEFORMAT)) {
                WAVEFORMATEX wave{};
                std::memcpy(&wave, format.data(), sizeof wave);
                if (wave.wFormatTag == WAVE_FORMAT_PCM) {
                    built.audioFormat = FormatAudioFormat(&wave);
                } else {
                    const DWORD rate = wave.nAvgBytesPerSec != 0
                                           ? static_cast<DWORD>(std::min<std::uint64_t>(
                                                 wave.nAvgBytesPerSec * 8ull, 0xFFFFFFFFu))
                                           : StreamBitsPerSecond(movie->audioStream);
                    built.audioFormat = FormatCompressedAudio(wave, rate);
                }
            }
        }
    }

    built.videoSize = FormatVideoSize(fileInfo.dwWidth, fileInfo.dwHeight);
    built.frameCount = FormatFrameCount(movie->firstFrame, movie->lastFrame);
    built.frameRate = FormatFrameRate(movie->frameRate);
    built.codecText = FormatCodecText(built.codec);
    built.dataRate = FormatDataRate(fileSizeKB, fileInfo.dwRate, fileInfo.dwScale, fileInfo.dwLength);
    info = std::move(built);
}
