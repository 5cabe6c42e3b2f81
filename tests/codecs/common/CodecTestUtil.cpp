#include "CodecTestUtil.h"

#include "pixel/DibRules.h"
#include "support/OpenedAvi.h"
#include "support/Process.h"
#include "support/TestAvi.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

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
    const auto size = static_cast<DWORD>(DibStride(width, bitCount) * std::abs(height));
    f.Header() = BITMAPINFOHEADER{40, width, height, 1, bitCount, BI_RGB, size, 0, 0, 0, 0};
    f.bits.assign(size, 0xcd);
    return f;
}

LRESULT DecodeFrame(HIC hic, const AviVideo& video, std::size_t index, OutputFrame& out, DWORD flags) {
    std::vector<BYTE> format = video.format;
    auto* in = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    static const std::vector<BYTE> kPastTheEnd(1);
    const bool past = index >= video.frames.size();
    const std::vector<BYTE>& data = past ? kPastTheEnd : video.frames[index];
    in->biSizeImage = past ? 0 : static_cast<DWORD>(data.size());
    if (past)
        flags |= ICDECOMPRESS_ENDOFSTREAM;
    LONG rows = std::abs(in->biHeight);
    return ICDecompressEx(hic, flags, in, const_cast<BYTE*>(data.data()), 0, 0, in->biWidth, rows,
                          &out.Header(), out.bits.data(), 0, 0, in->biWidth, rows);
}

std::vector<BYTE> TopDownRows(const OutputFrame& frame) {
    const auto& h = *reinterpret_cast<const BITMAPINFOHEADER*>(frame.header.data());
    const LONG rows = std::abs(h.biHeight);
    const std::size_t row = frame.bits.size() / static_cast<std::size_t>(rows); // as MakeOutputFrame made it
    const std::size_t used = static_cast<std::size_t>(h.biWidth) * h.biBitCount / 8;
    std::vector<BYTE> out;
    out.reserve(used * static_cast<std::size_t>(rows));
    for (LONG i = 0; i < rows; ++i) {
        LONG src = h.biHeight > 0 ? rows - 1 - i : i;
        const BYTE* p = frame.bits.data() + row * static_cast<std::size_t>(src);
        out.insert(out.end(), p, p + used);
    }
    return out;
}

std::vector<std::string> FfmpegFrameHashes(const std::string& path, const std::string& pixfmt) {
    ProcessResult r =
        RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -map 0:v:0 -fps_mode passthrough " +
                   "-f framemd5 -pix_fmt " + pixfmt + " -");
    std::vector<std::string> hashes;
    if (r.exitCode != 0)
        return hashes;
    // Lines are "stream, dts, pts, duration, size, md5". A decoder that
    // reorders numbers its first picture with its delay, and a frame it
    // drops leaves a gap, which shows the picture before it.
    std::istringstream lines(r.out);
    std::string line;
    long long first = -1, pts = 0;
    char md5[33];
    while (std::getline(lines, line)) {
        if (line[0] == '#' || std::sscanf(line.c_str(), "%*d, %*d, %lld, %*d, %*d, %32s", &pts, md5) != 2)
            continue;
        if (first < 0)
            first = pts;
        const long long index = pts - first;
        if (index < static_cast<long long>(hashes.size()) || index > 100000)
            return {}; // not in order: not a file these tests make
        while (!hashes.empty() && static_cast<long long>(hashes.size()) < index)
            hashes.push_back(hashes.back());
        hashes.push_back(md5);
    }
    return hashes;
}

namespace {

// The offset of the first picture start code (00 00 01 B6) in a chunk, or -1.
long FindPicture(const std::vector<BYTE>& chunk) {
    for (std::size_t i = 0; i + 4 < chunk.size(); ++i)
        if (chunk[i] == 0 && chunk[i + 1] == 0 && chunk[i + 2] == 1 && chunk[i + 3] == 0xb6)
            return static_cast<long>(i);
    return -1;
}

bool IsBPicture(const std::vector<BYTE>& chunk) {
    const long at = FindPicture(chunk);
    return at >= 0 && (chunk[static_cast<std::size_t>(at) + 4] >> 6) == 2;
}

} // namespace

bool WritePackedBFrames(const AviVideo& video, const std::string& path) {
    std::vector<std::vector<BYTE>> chunks = video.frames;
    // A not-coded P picture with a 4-bit time increment, as encoders wrote.
    const std::vector<BYTE> placeholder{0x00, 0x00, 0x01, 0xb6, 0x50, 0x9f};
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
        if (IsBPicture(chunks[i]) || !IsBPicture(chunks[i + 1]))
            continue;
        chunks[i].insert(chunks[i].end(), chunks[i + 1].begin(), chunks[i + 1].end());
        chunks[i + 1] = placeholder;
        ++i;
    }
    const long first = chunks.empty() ? -1 : FindPicture(chunks[0]);
    if (first < 0)
        return false;
    const std::string mark = "DivX999b000p";
    std::vector<BYTE> userData{0x00, 0x00, 0x01, 0xb2};
    userData.insert(userData.end(), mark.begin(), mark.end());
    chunks[0].insert(chunks[0].begin() + first, userData.begin(), userData.end());

    const BITMAPINFOHEADER& h = video.Header();
    TestAviSpec spec;
    spec.width = h.biWidth;
    spec.height = h.biHeight;
    spec.bitCount = h.biBitCount;
    spec.compression = h.biCompression;
    spec.handler = video.handler;
    spec.frames = static_cast<int>(chunks.size());
    spec.keys = video.keys;
    spec.audio = false;
    spec.frameData = [&](int f) { return chunks[static_cast<std::size_t>(f)]; };
    return WriteTestAvi(path, spec) == AVIERR_OK;
}

bool Ffmpeg(const std::string& arguments) {
    return RunCommand("ffmpeg -y -v error " + arguments).exitCode == 0;
}

} // namespace cadmo::test
