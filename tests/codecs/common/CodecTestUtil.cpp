#include "CodecTestUtil.h"

#include "support/OpenedAvi.h"
#include "support/Process.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

extern "C" {
#include <libavutil/md5.h>
}

namespace cadmo::test {

bool ReadAviVideo(const std::string& path, AviVideo& out) {
    OpenedAvi avi(path);
    PAVISTREAM stream = avi.video;
    if (!stream)
        return false;
    AVISTREAMINFOA info{};
    AVIStreamInfoA(stream, &info, sizeof info);
    out.handler = info.fccHandler;
    LONG size = 0;
    AVIStreamReadFormat(stream, 0, nullptr, &size);
    out.format.assign(static_cast<std::size_t>(size) + 1024, 0);
    bool ok = size >= 40 && AVIStreamReadFormat(stream, 0, out.format.data(), &size) == 0;
    const LONG start = AVIStreamStart(stream);
    for (LONG i = start; ok && i < start + AVIStreamLength(stream); ++i) {
        LONG bytes = 0, samples = 0;
        AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, &samples);
        std::vector<BYTE> frame(static_cast<std::size_t>(bytes));
        if (bytes > 0)
            ok = AVIStreamRead(stream, i, 1, frame.data(), bytes, &bytes, &samples) == 0;
        out.frames.push_back(std::move(frame));
        out.keys.push_back(AVIStreamFindSample(stream, i, FIND_PREV | FIND_KEY) == i);
    }
    return ok;
}

OutputFrame MakeOutputFrame(LONG width, LONG height, WORD bitCount) {
    OutputFrame f;
    f.header.assign(40 + 256 * 4, 0);
    const std::size_t row = ((static_cast<std::size_t>(width) * bitCount + 31) / 32) * 4;
    const auto size = static_cast<DWORD>(row * static_cast<std::size_t>(std::abs(height)));
    f.Header() = BITMAPINFOHEADER{40, width, height, 1, bitCount, BI_RGB, size, 0, 0, 0, 0};
    f.bits.assign(size, 0xcd);
    return f;
}

LRESULT DecodeFrame(HIC hic, const AviVideo& video, std::size_t index, OutputFrame& out, DWORD flags) {
    std::vector<BYTE> format = video.format;
    auto* in = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    const std::vector<BYTE>& data = video.frames[index];
    in->biSizeImage = static_cast<DWORD>(data.size());
    LONG rows = std::abs(in->biHeight);
    return ICDecompressEx(hic, flags, in, const_cast<BYTE*>(data.data()), 0, 0, in->biWidth, rows,
                          &out.Header(), out.bits.data(), 0, 0, in->biWidth, rows);
}

std::vector<BYTE> TopDownRows(const OutputFrame& frame) {
    const auto& h = *reinterpret_cast<const BITMAPINFOHEADER*>(frame.header.data());
    std::size_t row = ((static_cast<std::size_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
    std::size_t used = static_cast<std::size_t>(h.biWidth) * h.biBitCount / 8;
    LONG rows = std::abs(h.biHeight);
    std::vector<BYTE> out;
    out.reserve(used * static_cast<std::size_t>(rows));
    for (LONG i = 0; i < rows; ++i) {
        LONG src = h.biHeight > 0 ? rows - 1 - i : i;
        const BYTE* p = frame.bits.data() + row * static_cast<std::size_t>(src);
        out.insert(out.end(), p, p + used);
    }
    return out;
}

std::string Md5Hex(const std::vector<BYTE>& bytes) {
    uint8_t digest[16];
    av_md5_sum(digest, bytes.data(), static_cast<int>(bytes.size()));
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : digest) {
        s += hex[b >> 4];
        s += hex[b & 15];
    }
    return s;
}

std::vector<std::string> FfmpegFrameHashes(const std::string& path, const std::string& pixfmt) {
    ProcessResult r =
        RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -map 0:v:0 -fps_mode passthrough " +
                   "-f framemd5 -pix_fmt " + pixfmt + " -");
    std::vector<std::string> hashes;
    if (r.exitCode != 0)
        return hashes;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t comma = line.rfind(',');
        if (comma == std::string::npos)
            continue;
        std::string md5 = line.substr(comma + 1);
        md5.erase(0, md5.find_first_not_of(' '));
        hashes.push_back(md5);
    }
    return hashes;
}

bool Ffmpeg(const std::string& arguments) {
    return RunCommand("ffmpeg -y -v error " + arguments).exitCode == 0;
}

} // namespace cadmo::test
