#include "platform/avi/AviWriter.h"

#include "pixel/DibRules.h"

#include <algorithm>
#include <cstring>

namespace {

// Room reserved in each stream header for the OpenDML super index. 256
// entries of one per RIFF list cover 256 GB at the default 1 GB limit.
constexpr DWORD kSuperIndexEntries = 256;
constexpr DWORD kIndxChunkSize = avi::kSuperIndexHeaderSize + kSuperIndexEntries * sizeof(AVISUPERINDEXENTRY);

DWORD Clamp32(std::uint64_t v) {
    return v > 0xffffffffu ? 0xffffffffu : static_cast<DWORD>(v);
}

} // namespace

AviWriter::~AviWriter() {
    if (m_file)
        Close();
}

HRESULT AviWriter::Put(const void* data, std::size_t size) {
    if (m_error != AVIERR_OK)
        return m_error;
    if (size && std::fwrite(data, 1, size, m_file) != size) {
        m_error = AVIERR_FILEWRITE;
        return m_error;
    }
    m_pos += size;
    return AVIERR_OK;
}

HRESULT AviWriter::PutAt(std::uint64_t pos, const void* data, std::size_t size) {
    if (m_error != AVIERR_OK)
        return m_error;
    if (fseeko(m_file, static_cast<off_t>(pos), SEEK_SET) != 0 ||
        std::fwrite(data, 1, size, m_file) != size ||
        fseeko(m_file, static_cast<off_t>(m_pos), SEEK_SET) != 0) {
        m_error = AVIERR_FILEWRITE;
    }
    return m_error;
}

HRESULT AviWriter::Create(const std::string& path, const AviWriterOptions& options) {
    if (m_file)
        return AVIERR_BADPARAM;
    // Each RIFF list needs room for its headers and at least one chunk; a
    // 32-bit RIFF size caps it below 4 GB.
    if (options.riffLimit < 65536 || options.riffLimit > 0xf0000000ull)
        return AVIERR_BADPARAM;
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return AVIERR_FILEOPEN;
    m_options = options;
    m_streams.clear();
    m_riffs.clear();
    m_idx1.clear();
    m_pos = 0;
    m_dataBegun = false;
    m_error = AVIERR_OK;
    m_firstRiffFrames = 0;
    return AVIERR_OK;
}

HRESULT AviWriter::AddStream(Stream s, int* stream) {
    if (!m_file)
        return AVIERR_BADHANDLE;
    if (m_dataBegun || m_streams.size() >= 100)
        return AVIERR_UNSUPPORTED;
    if (s.header.dwRate == 0 || s.header.dwScale == 0)
        return AVIERR_BADPARAM;
    m_streams.push_back(std::move(s));
    if (stream)
        *stream = static_cast<int>(m_streams.size() - 1);
    return AVIERR_OK;
}

HRESULT AviWriter::AddVideoStream(const AviVideoStreamDesc& desc, int* stream) {
    if (desc.format.size() < sizeof(BITMAPINFOHEADER))
        return AVIERR_BADFORMAT;
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, desc.format.data(), sizeof bi);
    Stream s;
    s.video = true;
    const unsigned n = static_cast<unsigned>(m_streams.size());
    s.chunkId =
        bi.biCompression == BI_RGB ? avi::StreamChunkId(n, 'd', 'b') : avi::StreamChunkId(n, 'd', 'c');
    s.header.fccType = streamtypeVIDEO;
    s.header.fccHandler = desc.handler;
    s.header.dwScale = desc.scale;
    s.header.dwRate = desc.rate;
    s.header.dwStart = desc.start;
    s.header.dwInitialFrames = desc.initialFrames;
    s.header.dwQuality = desc.quality;
    s.fixedSuggested = desc.suggestedBufferSize;
    if (desc.frameRectFromFormat) {
        s.header.rcFrame.right = static_cast<std::int16_t>(bi.biWidth);
        s.header.rcFrame.bottom = static_cast<std::int16_t>(DibRows(bi.biHeight));
    } else {
        s.header.rcFrame.left = static_cast<std::int16_t>(desc.frameRect.left);
        s.header.rcFrame.top = static_cast<std::int16_t>(desc.frameRect.top);
        s.header.rcFrame.right = static_cast<std::int16_t>(desc.frameRect.right);
        s.header.rcFrame.bottom = static_cast<std::int16_t>(desc.frameRect.bottom);
    }
    s.format = desc.format;
    s.name = desc.name;
    return AddStream(std::move(s), stream);
}

HRESULT AviWriter::AddAudioStream(const AviAudioStreamDesc& desc, int* stream) {
    if (desc.format.size() < sizeof(PCMWAVEFORMAT))
        return AVIERR_BADFORMAT;
    WAVEFORMAT wf;
    std::memcpy(&wf, desc.format.data(), sizeof wf);
    Stream s;
    const unsigned n = static_cast<unsigned>(m_streams.size());
    s.chunkId = avi::StreamChunkId(n, 'w', 'b');
    s.header.fccType = streamtypeAUDIO;
    s.header.dwScale = desc.scale ? desc.scale : wf.nBlockAlign;
    s.header.dwRate = desc.rate ? desc.rate : wf.nAvgBytesPerSec;
    s.header.dwSampleSize = desc.sampleSize ? desc.sampleSize : wf.nBlockAlign;
    s.header.dwStart = desc.start;
    s.header.dwInitialFrames = desc.initialFrames;
    s.header.dwQuality = 0xffffffffu;
    s.fixedSuggested = desc.suggestedBufferSize;
    s.format = desc.format;
    s.name = desc.name;
    return AddStream(std::move(s), stream);
}

// Lays out the header list with placeholders that Close fills in, then opens
// the first movi list.
HRESULT AviWriter::BeginData() {
    if (m_streams.empty())
        return AVIERR_UNSUPPORTED;
    m_dataBegun = true;
    const DWORD zero[4] = {};
    Put32(avi::kRiff);
    Put32(0);
    Put32(avi::kAvi);
    m_hdrlListPos = m_pos;
    Put32(avi::kList);
    Put32(0);
    Put32(avi::kHdrl);
    Put32(avi::kAvih);
    Put32(sizeof(MainAVIHeader));
    m_avihPos = m_pos;
    MainAVIHeader mh{};
    Put(&mh, sizeof mh);
    for (Stream& s : m_streams) {
        const std::uint64_t strlPos = m_pos;
        Put32(avi::kList);
        Put32(0);
        Put32(avi::kStrl);
        Put32(avi::kStrh);
        Put32(sizeof(AVIStreamHeader));
        s.headerPos = m_pos;
        Put(&s.header, sizeof s.header);
        Put32(avi::kStrf);
        Put32(static_cast<DWORD>(s.format.size()));
        Put(s.format.data(), s.format.size());
        if (s.format.size() & 1)
            Put(zero, 1);
        s.indxPos = m_pos;
        Put32(avi::kJunk);
        Put32(kIndxChunkSize);
        std::vector<BYTE> pad(kIndxChunkSize);
        Put(pad.data(), pad.size());
        if (!s.name.empty()) {
            const DWORD len = static_cast<DWORD>(s.name.size() + 1);
            Put32(avi::kStrn);
            Put32(len);
            Put(s.name.c_str(), len);
            if (len & 1)
                Put(zero, 1);
        }
        PutAt32(strlPos + 4, static_cast<DWORD>(m_pos - strlPos - 8));
    }
    // Room for the odml list; it stays JUNK unless the file grows past one RIFF.
    Put32(avi::kJunk);
    Put32(12 + 248);
    m_dmlhPos = m_pos;
    std::vector<BYTE> pad(12 + 248);
    Put(pad.data(), pad.size());
    PutAt32(m_hdrlListPos + 4, static_cast<DWORD>(m_pos - m_hdrlListPos - 8));

    Riff r{0, m_pos};
    Put32(avi::kList);
    Put32(0);
    Put32(avi::kMovi);
    m_riffs.push_back(r);
    return m_error;
}

HRESULT AviWriter::WriteChunk(int stream, FOURCC id, const void* data, DWORD size, bool key, DWORD samples) {
    if (!m_file)
        return AVIERR_BADHANDLE;
    if (m_error != AVIERR_OK)
        return m_error;
    if (size && !data)
        return AVIERR_BADPARAM;
    if (size > 0x7fffffffu - 16)
        return AVIERR_BADSIZE;
    if (!m_dataBegun && BeginData() != AVIERR_OK)
        return m_error != AVIERR_OK ? m_error : AVIERR_UNSUPPORTED;
    const std::uint64_t chunkBytes = 8 + size + (size & 1);
    // Start a new RIFF list when this chunk and the indexes that close the
    // current one would pass the limit.
    std::uint64_t indexBytes = 0;
    for (const Stream& s : m_streams)
        indexBytes += 8 + avi::kStdIndexHeaderSize + (s.segment.size() + 1) * sizeof(AVISTDINDEXENTRY);
    if (m_riffs.size() == 1)
        indexBytes += 8 + (m_idx1.size() + 1) * sizeof(AVIINDEXENTRY);
    const std::uint64_t riffStart = m_riffs.back().pos;
    const bool hasData = m_pos > m_riffs.back().moviPos + 12;
    if (hasData && m_pos - riffStart + chunkBytes + indexBytes > m_options.riffLimit) {
        if (CloseSegment(false) != AVIERR_OK)
            return m_error;
    }
    const std::uint64_t at = m_pos;
    if (stream >= 0) {
        Stream& s = m_streams[static_cast<std::size_t>(stream)];
        s.segment.push_back({at, size, key});
        s.segmentSamples += samples;
        s.length += samples;
        s.largest = std::max(s.largest, size);
        if (m_riffs.size() == 1) {
            const std::uint64_t base = m_options.idx1RelativeToFile ? 0 : m_riffs[0].moviPos + 8;
            m_idx1.push_back({id, key ? AVIIF_KEYFRAME : 0, static_cast<DWORD>(at - base), size});
            if (s.video)
                ++m_firstRiffFrames;
        }
    }
    Put32(id);
    Put32(size);
    Put(data, size);
    if (size & 1) {
        const BYTE pad = 0;
        Put(&pad, 1);
    }
    return m_error;
}

HRESULT AviWriter::WriteVideoFrame(int stream, const void* data, DWORD size, bool keyFrame) {
    if (stream < 0 || static_cast<std::size_t>(stream) >= m_streams.size() ||
        !m_streams[static_cast<std::size_t>(stream)].video)
        return AVIERR_BADPARAM;
    return WriteChunk(stream, m_streams[static_cast<std::size_t>(stream)].chunkId, data, size, keyFrame, 1);
}

HRESULT AviWriter::WriteAudio(int stream, const void* data, DWORD size) {
    if (stream < 0 || static_cast<std::size_t>(stream) >= m_streams.size() ||
        m_streams[static_cast<std::size_t>(stream)].video)
        return AVIERR_BADPARAM;
    const Stream& s = m_streams[static_cast<std::size_t>(stream)];
    const DWORD samples = s.header.dwSampleSize ? size / s.header.dwSampleSize : 1;
    return WriteChunk(stream, s.chunkId, data, size, true, samples);
}

HRESULT AviWriter::WritePaletteChange(int stream, const void* data, DWORD size) {
    if (stream < 0 || static_cast<std::size_t>(stream) >= m_streams.size() ||
        !m_streams[static_cast<std::size_t>(stream)].video)
        return AVIERR_BADPARAM;
    Stream& s = m_streams[static_cast<std::size_t>(stream)];
    const FOURCC id =
        (s.chunkId & 0xffffu) | (static_cast<FOURCC>('p') << 16) | (static_cast<FOURCC>('c') << 24);
    s.header.dwFlags |= AVISTREAMINFO_FORMATCHANGES;
    // Indexed after the write: the write may first begin the data or a new
    // RIFF list, and idx1 covers only the first one.
    if (const HRESULT hr = WriteChunk(-1, id, data, size, false, 0); hr != AVIERR_OK)
        return hr;
    if (m_riffs.size() == 1) {
        const std::uint64_t at = m_pos - 8 - size - (size & 1);
        const std::uint64_t base = m_options.idx1RelativeToFile ? 0 : m_riffs[0].moviPos + 8;
        m_idx1.push_back({id, AVIIF_NO_TIME, static_cast<DWORD>(at - base), size});
    }
    return AVIERR_OK;
}

HRESULT AviWriter::WriteRawChunk(FOURCC id, const void* data, DWORD size) {
    return WriteChunk(-1, id, data, size, false, 0);
}

// One ix## chunk per stream at the end of the current movi list, recorded in
// the stream's super index.
HRESULT AviWriter::WriteStdIndexes() {
    for (Stream& s : m_streams) {
        if (s.segment.empty())
            continue;
        if (s.super.size() >= kSuperIndexEntries) {
            m_error = AVIERR_FILEWRITE;
            return m_error;
        }
        const std::uint64_t base = s.segment.front().offset;
        const DWORD chunkSize = avi::kStdIndexHeaderSize + static_cast<DWORD>(s.segment.size() * 8);
        const std::uint64_t at = m_pos;
        Put32(mmioFOURCC('i', 'x', static_cast<char>(s.chunkId & 0xff),
                         static_cast<char>((s.chunkId >> 8) & 0xff)));
        Put32(chunkSize);
        AVIMETAINDEX mi{2, 0, AVI_INDEX_OF_CHUNKS, static_cast<DWORD>(s.segment.size()), s.chunkId};
        Put(&mi, sizeof mi);
        Put(&base, 8);
        Put32(0);
        std::vector<AVISTDINDEXENTRY> entries;
        entries.reserve(s.segment.size());
        for (const Entry& e : s.segment)
            entries.push_back(
                {static_cast<DWORD>(e.offset + 8 - base), e.size | (e.key ? 0 : AVISTDINDEX_DELTAFRAME)});
        Put(entries.data(), entries.size() * sizeof(AVISTDINDEXENTRY));
        s.super.push_back({at, chunkSize + 8, Clamp32(s.segmentSamples)});
        s.segment.clear();
        s.segmentSamples = 0;
    }
    return m_error;
}

HRESULT AviWriter::WriteIdx1() {
    Put32(avi::kIdx1);
    Put32(static_cast<DWORD>(m_idx1.size() * sizeof(AVIINDEXENTRY)));
    Put(m_idx1.data(), m_idx1.size() * sizeof(AVIINDEXENTRY));
    return m_error;
}

// Ends the current movi and RIFF lists. Standard indexes are written for every
// list of an OpenDML file (the first one too, once a second is begun), idx1 only
// for the first.
HRESULT AviWriter::CloseSegment(bool last) {
    const bool first = m_riffs.size() == 1;
    const bool openDml = !(first && last);
    if (openDml)
        WriteStdIndexes();
    Riff& r = m_riffs.back();
    PutAt32(r.moviPos + 4, static_cast<DWORD>(m_pos - r.moviPos - 8));
    if (first && m_options.writeIdx1)
        WriteIdx1();
    PutAt32(r.pos + 4, static_cast<DWORD>(m_pos - r.pos - 8));
    if (last || m_error != AVIERR_OK)
        return m_error;
    Riff next{m_pos, m_pos + 12};
    Put32(avi::kRiff);
    Put32(0);
    Put32(avi::kAvix);
    Put32(avi::kList);
    Put32(0);
    Put32(avi::kMovi);
    m_riffs.push_back(next);
    return m_error;
}

HRESULT AviWriter::Close() {
    if (!m_file)
        return AVIERR_BADHANDLE;
    if (!m_dataBegun && m_error == AVIERR_OK && !m_streams.empty())
        BeginData();
    if (m_dataBegun)
        CloseSegment(true);
    if (m_dataBegun && m_error == AVIERR_OK) {
        const bool openDml = m_riffs.size() > 1;
        DWORD maxSuggested = 0;
        DWORD width = 0, height = 0, usPerFrame = m_options.microSecPerFrame;
        std::uint64_t totalFrames = 0;
        for (Stream& s : m_streams) {
            s.header.dwLength = Clamp32(s.length);
            s.header.dwSuggestedBufferSize = s.fixedSuggested ? s.fixedSuggested : s.largest;
            maxSuggested = std::max(maxSuggested, s.header.dwSuggestedBufferSize);
            PutAt(s.headerPos, &s.header, sizeof s.header);
            if (s.video && width == 0) {
                BITMAPINFOHEADER bi;
                std::memcpy(&bi, s.format.data(), sizeof bi);
                width = static_cast<DWORD>(bi.biWidth);
                height = static_cast<DWORD>(DibRows(bi.biHeight));
                totalFrames = s.length;
                if (usPerFrame == 0)
                    usPerFrame = static_cast<DWORD>(1000000ull * s.header.dwScale / s.header.dwRate);
            }
            if (openDml) {
                std::vector<BYTE> indx(8 + kIndxChunkSize);
                const DWORD head[2] = {avi::kIndx, kIndxChunkSize};
                std::memcpy(indx.data(), head, 8);
                AVIMETAINDEX mi{4, 0, AVI_INDEX_OF_INDEXES, static_cast<DWORD>(s.super.size()), s.chunkId};
                std::memcpy(indx.data() + 8, &mi, sizeof mi);
                std::memcpy(indx.data() + 8 + avi::kSuperIndexHeaderSize, s.super.data(),
                            s.super.size() * sizeof(AVISUPERINDEXENTRY));
                PutAt(s.indxPos, indx.data(), indx.size());
            }
        }
        double seconds = 0;
        std::uint64_t fileBytes = m_pos;
        for (const Stream& s : m_streams)
            if (s.video)
                seconds =
                    std::max(seconds, static_cast<double>(s.length) * s.header.dwScale / s.header.dwRate);
        MainAVIHeader mh{};
        mh.dwMicroSecPerFrame = usPerFrame;
        mh.dwMaxBytesPerSec = seconds > 0 ? Clamp32(static_cast<std::uint64_t>(fileBytes / seconds)) : 0;
        mh.dwFlags = m_options.mainFlags | (m_options.writeIdx1 ? AVIF_HASINDEX : 0) |
                     (m_streams.size() > 1 ? AVIF_ISINTERLEAVED : 0);
        mh.dwTotalFrames = openDml ? m_firstRiffFrames : Clamp32(totalFrames);
        for (const Stream& s : m_streams)
            if (s.video) {
                mh.dwInitialFrames = s.header.dwInitialFrames;
                break;
            }
        mh.dwStreams = static_cast<DWORD>(m_streams.size());
        mh.dwSuggestedBufferSize = maxSuggested;
        mh.dwWidth = width;
        mh.dwHeight = height;
        PutAt(m_avihPos, &mh, sizeof mh);
        if (openDml) {
            // LIST odml { dmlh { dwTotalFrames, reserved } } over the reserved JUNK.
            std::vector<BYTE> odml(12 + 248);
            const DWORD head[4] = {avi::kOdml, avi::kDmlh, 248, Clamp32(totalFrames)};
            std::memcpy(odml.data(), head, sizeof head);
            PutAt32(m_dmlhPos - 8, avi::kList);
            PutAt(m_dmlhPos, odml.data(), odml.size());
        }
    }
    HRESULT hr = m_error;
    if (std::fclose(m_file) != 0 && hr == AVIERR_OK)
        hr = AVIERR_FILEWRITE;
    m_file = nullptr;
    return hr;
}
