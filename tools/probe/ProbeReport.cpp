#include "ProbeReport.h"

#include <cinttypes>
#include <cstring>

namespace {

// A FourCC as its four characters, with unprintable bytes as '.'.
std::string FourCC(DWORD f) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((f >> (8 * i)) & 0xff);
        s += c >= 32 && c < 127 ? c : '.';
    }
    return s;
}

std::string Compression(DWORD c) {
    switch (c) {
    case BI_RGB:
        return "BI_RGB";
    case BI_RLE8:
        return "BI_RLE8";
    case BI_RLE4:
        return "BI_RLE4";
    case BI_BITFIELDS:
        return "BI_BITFIELDS";
    default:
        return FourCC(c);
    }
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 32 || u >= 127) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

double Seconds(const AVISTREAMINFOA& i) {
    return static_cast<double>(i.dwLength) * i.dwScale / i.dwRate;
}

std::string MainFlags(DWORD f) {
    std::string s;
    const std::pair<DWORD, const char*> names[] = {{0x10, "HASINDEX"},          {0x20, "MUSTUSEINDEX"},
                                                   {0x100, "ISINTERLEAVED"},    {0x800, "TRUSTCKTYPE"},
                                                   {0x10000, "WASCAPTUREFILE"}, {0x20000, "COPYRIGHTED"}};
    for (const auto& [bit, name] : names)
        if (f & bit)
            s += std::string(s.empty() ? "" : " ") + name;
    return s.empty() ? "none" : s;
}

bool IsVideo(const std::vector<BYTE>& format, DWORD type) {
    return type == streamtypeVIDEO && format.size() >= sizeof(BITMAPINFOHEADER);
}
bool IsAudio(const std::vector<BYTE>& format, DWORD type) {
    return type == streamtypeAUDIO && format.size() >= sizeof(PCMWAVEFORMAT);
}

} // namespace

std::string ProbeReport::DescribeError(HRESULT hr) {
    struct Known {
        HRESULT code;
        const char* name;
        const char* text;
    };
    static const Known known[] = {
        {AVIERR_FILEOPEN, "AVIERR_FILEOPEN", "cannot open the file"},
        {AVIERR_FILEREAD, "AVIERR_FILEREAD", "cannot read the file (empty, cut short or an I/O error)"},
        {AVIERR_BADFORMAT, "AVIERR_BADFORMAT", "not an AVI file, or its headers are damaged"},
        {AVIERR_MEMORY, "AVIERR_MEMORY", "not enough memory"},
        {AVIERR_USERABORT, "AVIERR_USERABORT", "cancelled"},
        {AVIERR_READONLY, "AVIERR_READONLY", "read-only"},
        {AVIERR_UNSUPPORTED, "AVIERR_UNSUPPORTED", "unsupported"},
        {AVIERR_BADPARAM, "AVIERR_BADPARAM", "bad parameter"},
    };
    for (const Known& k : known)
        if (k.code == hr)
            return std::string(k.text) + " (" + k.name + ")";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "error 0x%08" PRIx32, static_cast<std::uint32_t>(hr));
    return buffer;
}

HRESULT ProbeReport::Load(const std::string& path, bool withIndex) {
    m_path = path;
    m_withIndex = withIndex;
    PAVIFILE file = nullptr;
    HRESULT hr = AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr);
    if (hr != AVIERR_OK)
        return hr;
    AVIFileGetDetails(file, &m_details);
    AVIFileInfoA(file, &m_info, sizeof m_info);
    PAVISTREAM s = nullptr;
    for (LONG i = 0; AVIFileGetStream(file, &s, 0, i) == AVIERR_OK; ++i) {
        Stream st;
        AVIStreamInfoA(s, &st.info, sizeof st.info);
        LONG size = 0;
        AVIStreamReadFormat(s, 0, nullptr, &size);
        st.format.resize(static_cast<std::size_t>(size));
        AVIStreamReadFormat(s, 0, st.format.data(), &size);
        st.chunks = AVIStreamChunkCount(s);
        st.indexBytes = AVIStreamIndexBytes(s);
        for (LONG c = 0; c < st.chunks; ++c) {
            AVICHUNKINFO ci{};
            AVIStreamChunkInfo(s, c, &ci);
            st.keyChunks += ci.fKeyFrame ? 1 : 0;
            if (withIndex)
                st.samples.push_back({ci.lFirstSample, ci.qwOffset, ci.dwSize, ci.fKeyFrame != 0});
        }
        m_streams.push_back(std::move(st));
        AVIStreamRelease(s);
    }
    AVIFileRelease(file);
    return AVIERR_OK;
}

void ProbeReport::PrintText(std::FILE* out) const {
    const AVIFILEDETAILS& d = m_details;
    std::fprintf(out, "File: %s\n", m_path.c_str());
    std::fprintf(out, "Size: %" PRIu64 " bytes\n", d.qwFileSize);
    std::fprintf(out, "Format: %s, %u RIFF list%s\n", d.fOpenDml ? "AVI 2.0 (OpenDML)" : "AVI 1.0",
                 d.dwRiffCount, d.dwRiffCount == 1 ? "" : "s");
    std::fprintf(out, "Index: %s\n",
                 d.fIndexRebuilt ? "rebuilt by scanning the data (the file's index is missing or damaged)"
                 : d.fOpenDml    ? "OpenDML (indx/ix##)"
                 : d.fIdx1RelativeToMovi ? "idx1, offsets relative to movi"
                                         : "idx1, offsets relative to the file");
    std::fprintf(out, "Main header:\n");
    std::fprintf(out, "  Microseconds per frame: %u\n", d.dwMicroSecPerFrame);
    std::fprintf(out, "  Max bytes per second: %u\n", d.dwMaxBytesPerSec);
    std::fprintf(out, "  Padding granularity: %u\n", d.dwPaddingGranularity);
    std::fprintf(out, "  Flags: 0x%08x (%s)\n", d.dwFlags, MainFlags(d.dwFlags).c_str());
    std::fprintf(out, "  Total frames: %u\n", d.dwTotalFrames);
    std::fprintf(out, "  Initial frames: %u\n", d.dwInitialFrames);
    std::fprintf(out, "  Streams: %u (%zu usable)\n", d.dwStreams, m_streams.size());
    std::fprintf(out, "  Suggested buffer size: %u\n", d.dwSuggestedBufferSize);
    std::fprintf(out, "  Size: %u x %u\n", d.dwWidth, d.dwHeight);

    for (std::size_t n = 0; n < m_streams.size(); ++n) {
        const Stream& st = m_streams[n];
        const AVISTREAMINFOA& i = st.info;
        std::fprintf(out, "Stream %zu: %s\n", n, FourCC(i.fccType).c_str());
        std::fprintf(out, "  Handler: '%s' (0x%08x)\n", FourCC(i.fccHandler).c_str(), i.fccHandler);
        std::fprintf(out, "  Rate/scale: %u/%u = %.3f per second\n", i.dwRate, i.dwScale,
                     static_cast<double>(i.dwRate) / i.dwScale);
        std::fprintf(out, "  Start: %u\n", i.dwStart);
        std::fprintf(out, "  Length: %u\n", i.dwLength);
        std::fprintf(out, "  Duration: %.3f s\n", Seconds(i));
        std::fprintf(out, "  Initial frames: %u\n", i.dwInitialFrames);
        std::fprintf(out, "  Suggested buffer size: %u\n", i.dwSuggestedBufferSize);
        std::fprintf(out, "  Sample size: %u\n", i.dwSampleSize);
        std::fprintf(out, "  Quality: %d\n", static_cast<int>(i.dwQuality));
        std::fprintf(out, "  Frame: %d,%d,%d,%d\n", i.rcFrame.left, i.rcFrame.top, i.rcFrame.right,
                     i.rcFrame.bottom);
        if (i.szName[0])
            std::fprintf(out, "  Name: %s\n", i.szName);
        std::fprintf(out, "  Chunks: %d (%d key)\n", st.chunks, st.keyChunks);
        std::fprintf(out, "  Index memory: %" PRIu64 " bytes\n", st.indexBytes);
        if (IsVideo(st.format, i.fccType)) {
            BITMAPINFOHEADER bi;
            std::memcpy(&bi, st.format.data(), sizeof bi);
            std::fprintf(out, "  Format: bitmap header, %zu bytes\n", st.format.size());
            std::fprintf(out, "    Size: %d x %d (%s)\n", bi.biWidth, bi.biHeight,
                         bi.biHeight < 0 ? "top-down" : "bottom-up");
            std::fprintf(out, "    Planes: %u\n", bi.biPlanes);
            std::fprintf(out, "    Bit count: %u\n", bi.biBitCount);
            std::fprintf(out, "    Compression: %s (0x%08x)\n", Compression(bi.biCompression).c_str(),
                         bi.biCompression);
            std::fprintf(out, "    Image size: %u\n", bi.biSizeImage);
            std::fprintf(out, "    Pixels per metre: %d x %d\n", bi.biXPelsPerMeter, bi.biYPelsPerMeter);
            std::fprintf(out, "    Colours used: %u, important: %u\n", bi.biClrUsed, bi.biClrImportant);
        } else if (IsAudio(st.format, i.fccType)) {
            WAVEFORMATEX wf{};
            std::memcpy(&wf, st.format.data(), std::min(st.format.size(), sizeof wf));
            std::fprintf(out, "  Format: wave format, %zu bytes\n", st.format.size());
            std::fprintf(out, "    Format tag: %u%s\n", wf.wFormatTag,
                         wf.wFormatTag == WAVE_FORMAT_PCM ? " (PCM)" : "");
            std::fprintf(out, "    Channels: %u\n", wf.nChannels);
            std::fprintf(out, "    Samples per second: %u\n", wf.nSamplesPerSec);
            std::fprintf(out, "    Average bytes per second: %u\n", wf.nAvgBytesPerSec);
            std::fprintf(out, "    Block align: %u\n", wf.nBlockAlign);
            std::fprintf(out, "    Bits per sample: %u\n", wf.wBitsPerSample);
            if (st.format.size() >= sizeof(WAVEFORMATEX))
                std::fprintf(out, "    Extra size: %u\n", wf.cbSize);
        } else {
            std::fprintf(out, "  Format: %zu bytes\n", st.format.size());
        }
    }
    if (!m_withIndex)
        return;
    for (std::size_t n = 0; n < m_streams.size(); ++n) {
        std::fprintf(out, "Index of stream %zu:\n", n);
        for (const Sample& s : m_streams[n].samples)
            std::fprintf(out, "  %d %" PRIu64 " %u %s\n", s.sample, s.offset, s.size, s.key ? "key" : "-");
    }
}

void ProbeReport::PrintJson(std::FILE* out) const {
    const AVIFILEDETAILS& d = m_details;
    std::fprintf(out, "{\n  \"file\": %s,\n", JsonString(m_path).c_str());
    std::fprintf(out, "  \"size\": %" PRIu64 ",\n", d.qwFileSize);
    std::fprintf(out, "  \"openDml\": %s,\n  \"riffLists\": %u,\n", d.fOpenDml ? "true" : "false",
                 d.dwRiffCount);
    std::fprintf(out, "  \"indexRebuilt\": %s,\n", d.fIndexRebuilt ? "true" : "false");
    std::fprintf(out, "  \"idx1RelativeTo\": \"%s\",\n", d.fIdx1RelativeToMovi ? "movi" : "file");
    std::fprintf(out,
                 "  \"main\": {\"microSecPerFrame\": %u, \"maxBytesPerSec\": %u, \"paddingGranularity\": %u, "
                 "\"flags\": %u, \"totalFrames\": %u, \"initialFrames\": %u, \"streams\": %u, "
                 "\"suggestedBufferSize\": %u, \"width\": %u, \"height\": %u},\n",
                 d.dwMicroSecPerFrame, d.dwMaxBytesPerSec, d.dwPaddingGranularity, d.dwFlags, d.dwTotalFrames,
                 d.dwInitialFrames, d.dwStreams, d.dwSuggestedBufferSize, d.dwWidth, d.dwHeight);
    std::fprintf(out, "  \"streams\": [");
    for (std::size_t n = 0; n < m_streams.size(); ++n) {
        const Stream& st = m_streams[n];
        const AVISTREAMINFOA& i = st.info;
        std::fprintf(out, "%s\n    {\"stream\": %zu, \"type\": %s, \"handler\": %s, \"handlerCode\": %u,\n",
                     n ? "," : "", n, JsonString(FourCC(i.fccType)).c_str(),
                     JsonString(FourCC(i.fccHandler)).c_str(), i.fccHandler);
        std::fprintf(
            out,
            "     \"rate\": %u, \"scale\": %u, \"ratePerSecond\": %.6f, \"start\": %u, \"length\": %u, "
            "\"duration\": %.6f,\n",
            i.dwRate, i.dwScale, static_cast<double>(i.dwRate) / i.dwScale, i.dwStart, i.dwLength,
            Seconds(i));
        std::fprintf(
            out,
            "     \"initialFrames\": %u, \"suggestedBufferSize\": %u, \"sampleSize\": %u, \"quality\": %d, "
            "\"frame\": [%d, %d, %d, %d], \"name\": %s, \"chunks\": %d, \"keyChunks\": %d, "
            "\"indexBytes\": %" PRIu64 ",\n",
            i.dwInitialFrames, i.dwSuggestedBufferSize, i.dwSampleSize, static_cast<int>(i.dwQuality),
            i.rcFrame.left, i.rcFrame.top, i.rcFrame.right, i.rcFrame.bottom, JsonString(i.szName).c_str(),
            st.chunks, st.keyChunks, st.indexBytes);
        if (IsVideo(st.format, i.fccType)) {
            BITMAPINFOHEADER bi;
            std::memcpy(&bi, st.format.data(), sizeof bi);
            std::fprintf(
                out,
                "     \"format\": {\"kind\": \"bitmap\", \"bytes\": %zu, \"width\": %d, \"height\": %d, "
                "\"planes\": %u, \"bitCount\": %u, \"compression\": %s, \"compressionCode\": %u, "
                "\"sizeImage\": %u, \"xPelsPerMeter\": %d, \"yPelsPerMeter\": %d, \"clrUsed\": %u, "
                "\"clrImportant\": %u}",
                st.format.size(), bi.biWidth, bi.biHeight, bi.biPlanes, bi.biBitCount,
                JsonString(Compression(bi.biCompression)).c_str(), bi.biCompression, bi.biSizeImage,
                bi.biXPelsPerMeter, bi.biYPelsPerMeter, bi.biClrUsed, bi.biClrImportant);
        } else if (IsAudio(st.format, i.fccType)) {
            WAVEFORMATEX wf{};
            std::memcpy(&wf, st.format.data(), std::min(st.format.size(), sizeof wf));
            std::fprintf(
                out,
                "     \"format\": {\"kind\": \"wave\", \"bytes\": %zu, \"formatTag\": %u, \"channels\": %u, "
                "\"samplesPerSec\": %u, \"avgBytesPerSec\": %u, \"blockAlign\": %u, \"bitsPerSample\": %u, "
                "\"extraSize\": %u}",
                st.format.size(), wf.wFormatTag, wf.nChannels, wf.nSamplesPerSec, wf.nAvgBytesPerSec,
                wf.nBlockAlign, wf.wBitsPerSample, wf.cbSize);
        } else {
            std::fprintf(out, "     \"format\": {\"kind\": \"other\", \"bytes\": %zu}", st.format.size());
        }
        if (m_withIndex) {
            std::fprintf(out, ",\n     \"index\": [");
            for (std::size_t k = 0; k < st.samples.size(); ++k) {
                const Sample& s = st.samples[k];
                std::fprintf(
                    out, "%s\n       {\"sample\": %d, \"offset\": %" PRIu64 ", \"size\": %u, \"key\": %s}",
                    k ? "," : "", s.sample, s.offset, s.size, s.key ? "true" : "false");
            }
            std::fprintf(out, "]");
        }
        std::fprintf(out, "}");
    }
    std::fprintf(out, "]\n}\n");
}
