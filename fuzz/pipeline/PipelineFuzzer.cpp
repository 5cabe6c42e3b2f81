// A movie's whole way below the window, from the file's bytes: the AVI
// library opens it, the first video stream's frames go through whichever
// codec ICLocate finds for it (uncompressed, libavcodec or the Tavro library
// beside the program) at 8, 16, 24 and 32 bits, and the first audio stream is
// read in the blocks the sound ring asks for and, when it is compressed,
// decoded from the start and from the middle as after a seek. The glue between the file, the
// codec messages and libavcodec is what this target is for.
#include "../FuzzFile.h"
#include "audio/CompressedSound.h"
#include "codecs/builtin/BuiltinCodecs.h"
#include "platform/avi/AviFile.h"
#include "platform/vfw/Vfw.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Bounds that keep one input fast; pictures and streams past them are real
// but tell the fuzzer nothing new.
constexpr LONG kMaxFrames = 48;
constexpr long long kMaxPixels = 1 << 20;
constexpr LONG kMaxAudioBlocks = 64;

// The stream's format at the start, with room for a colour table that a
// short format claims, as the player keeps it.
std::vector<BYTE> ReadFormat(PAVISTREAM s, LONG* size) {
    *size = 0;
    AVIStreamReadFormat(s, AVIStreamStart(s), nullptr, size);
    if (*size <= 0 || *size > (1 << 20))
        return {};
    std::vector<BYTE> format(static_cast<std::size_t>(*size) + 256 * sizeof(RGBQUAD), 0);
    if (AVIStreamReadFormat(s, AVIStreamStart(s), format.data(), size) != AVIERR_OK)
        return {};
    return format;
}

void DecodeAtDepth(HIC hic, BITMAPINFOHEADER* in, PAVISTREAM s, WORD depth) {
    const LONG width = in->biWidth;
    const LONG height = std::labs(in->biHeight);
    std::vector<BYTE> outFormat(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(outFormat.data());
    out->biSize = sizeof *out;
    out->biWidth = width;
    out->biHeight = height;
    out->biPlanes = 1;
    out->biBitCount = depth;
    out->biCompression = BI_RGB;
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * depth + 31) / 32) * 4;
    out->biSizeImage = static_cast<DWORD>(rowBytes * static_cast<std::size_t>(height));
    if (ICDecompressExQuery(hic, 0, in, nullptr, 0, 0, width, height, out, nullptr, 0, 0, width, height) !=
        ICERR_OK)
        return;
    if (ICDecompressExBegin(hic, 0, in, nullptr, 0, 0, width, height, out, nullptr, 0, 0, width, height) !=
        ICERR_OK)
        return;
    if (depth == 8)
        ICSendMessage(hic, ICM_DECOMPRESS_GET_PALETTE, reinterpret_cast<DWORD_PTR>(in),
                      reinterpret_cast<DWORD_PTR>(out));
    std::vector<BYTE> pixels(out->biSizeImage);
    std::vector<BYTE> frame;
    // Stepped in 64 bits: a stream may end on the last frame number there is.
    const long long first = AVIStreamStart(s);
    const long long last = std::min<long long>(AVIStreamEnd(s), first + kMaxFrames);
    for (long long frameNumber = first; frameNumber < last; ++frameNumber) {
        const auto n = static_cast<LONG>(frameNumber);
        LONG bytes = 0, samples = 0;
        if (AVIStreamRead(s, n, 1, nullptr, 0, &bytes, &samples) != AVIERR_OK || bytes < 0)
            continue;
        frame.assign(static_cast<std::size_t>(bytes), 0);
        if (bytes > 0 && AVIStreamRead(s, n, 1, frame.data(), bytes, &bytes, &samples) != AVIERR_OK)
            continue;
        in->biSizeImage = static_cast<DWORD>(bytes);
        // Every other frame in a hurry, as the player decodes frames it
        // will not show.
        const DWORD flags = (n & 1) ? ICDECOMPRESS_HURRYUP : 0;
        ICDecompressEx(hic, flags, in, frame.data(), 0, 0, width, height, out, pixels.data(), 0, 0, width,
                       height);
    }
    ICSendMessage(hic, ICM_DECOMPRESSEX_END, 0, 0);
}

void Video(PAVISTREAM s) {
    AVISTREAMINFOA info{};
    AVIStreamInfoA(s, &info, sizeof info);
    LONG size = 0;
    std::vector<BYTE> format = ReadFormat(s, &size);
    if (size < static_cast<LONG>(sizeof(BITMAPINFOHEADER)))
        return;
    auto* in = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    if (in->biSize > static_cast<DWORD>(size))
        in->biSize = static_cast<DWORD>(size);
    const long long pixels = static_cast<long long>(in->biWidth) * std::llabs(in->biHeight);
    if (in->biWidth <= 0 || pixels <= 0 || pixels > kMaxPixels)
        return;
    HIC hic = ICLocate(ICTYPE_VIDEO, info.fccHandler, in, nullptr, ICMODE_DECOMPRESS);
    if (!hic)
        return;
    for (WORD depth : {24, 8, 16, 32})
        DecodeAtDepth(hic, in, s, depth);
    ICClose(hic);
}

void DecodeSound(PAVISTREAM s) {
    AVISTREAMINFOA info{};
    AVIStreamInfoA(s, &info, sizeof info);
    CompressedSound sound;
    WAVEFORMATEX pcm{};
    if (!sound.Open(s, info, pcm))
        return;
    std::vector<BYTE> block(pcm.nBlockAlign * 4096u);
    const LONG start = AVIStreamStart(s);
    const LONG end = AVIStreamEnd(s);
    for (LONG from : {start, static_cast<LONG>(start + (static_cast<long long>(end) - start) / 2)}) {
        sound.Start(from);
        for (int i = 0; i < 4; ++i)
            if (sound.Fill(block.data(), static_cast<LONG>(block.size())) < static_cast<LONG>(block.size()))
                break;
    }
}

void Audio(PAVISTREAM s) {
    LONG size = 0;
    std::vector<BYTE> format = ReadFormat(s, &size);
    if (size < 14)
        return;
    const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(format.data());
    const LONG align = wave->nBlockAlign > 0 ? wave->nBlockAlign : 1;
    // Blocks of about a tenth of a second, the ring's size, from the start
    // and from the middle, as after a seek.
    const LONG blocks = std::max<LONG>(
        1, std::min<LONG>(kMaxAudioBlocks, static_cast<LONG>(wave->nAvgBytesPerSec / 10 / align)));
    std::vector<BYTE> buffer(static_cast<std::size_t>(blocks) * static_cast<std::size_t>(align));
    const LONG start = AVIStreamStart(s);
    const LONG end = AVIStreamEnd(s);
    for (LONG from : {start, static_cast<LONG>(start + (static_cast<long long>(end) - start) / 2)}) {
        LONG pos = from;
        for (int i = 0; i < 8 && pos < end; ++i) {
            LONG bytes = 0, samples = 0;
            if (AVIStreamRead(s, pos, blocks, buffer.data(), static_cast<LONG>(buffer.size()), &bytes,
                              &samples) != AVIERR_OK ||
                samples <= 0)
                break;
            pos += samples;
        }
    }
    if (wave->wFormatTag != WAVE_FORMAT_PCM)
        DecodeSound(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = [] {
        // Damaged streams make libavcodec say so for every frame; the
        // fuzzer only wants to hear of crashes.
        av_log_set_level(AV_LOG_QUIET);
        RegisterBuiltinCodecs();
        return true;
    }();
    (void)registered;
    const FuzzFile input(data, size);
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, input.Path(), OF_SHARE_DENY_WRITE, nullptr) != AVIERR_OK)
        return 0;
    PAVISTREAM s = nullptr;
    if (AVIFileGetStream(file, &s, streamtypeVIDEO, 0) == AVIERR_OK) {
        Video(s);
        AVIStreamRelease(s);
    }
    if (AVIFileGetStream(file, &s, streamtypeAUDIO, 0) == AVIERR_OK) {
        Audio(s);
        AVIStreamRelease(s);
    }
    AVIFileRelease(file);
    return 0;
}
