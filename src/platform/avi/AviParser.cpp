#include "platform/avi/AviParser.h"

#include "platform/avi/AviKeyFrameSniffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// A stream format is a few dozen bytes, a palette adds 1 KB; anything near this
// is not a format.
constexpr DWORD kMaxFormatSize = 1u << 20;
// Below this much movi data a rebuild is quick enough to need no progress.
constexpr std::uint64_t kProgressThreshold = 32ull << 20;
// Palette changes kept per stream; more are ignored, so that a file of tiny
// "##pc" chunks cannot make the reader hold gigabytes.
constexpr std::size_t kMaxPaletteChanges = 65536;
// idx1 is read in blocks of this many entries.
constexpr std::size_t kIdx1Block = 65536;

struct ChunkHeader {
    FOURCC id;
    DWORD size;
    FOURCC type; // list type; valid only for RIFF and LIST
};

// Intra-only video: every frame decodes on its own, so a rebuilt index may
// mark them all as key frames.
bool IsIntraOnly(FOURCC handler, DWORD compression) {
    auto lower = [](FOURCC f) { return f | 0x20202020u; };
    if (compression == BI_RGB || compression == BI_BITFIELDS)
        return true;
    const FOURCC c = lower(compression);
    const FOURCC h = lower(handler);
    for (FOURCC f :
         {mmioFOURCC('m', 'j', 'p', 'g'), mmioFOURCC('d', 'i', 'b', ' '), mmioFOURCC('r', 'a', 'w', ' ')})
        if (c == f || (compression == 0 && h == f))
            return true;
    return false;
}

} // namespace

bool AviParser::ReadAt(int fd, std::uint64_t pos, void* buffer, std::size_t n) {
    auto* p = static_cast<BYTE*>(buffer);
    while (n > 0) {
        const ssize_t got = pread(fd, p, n, static_cast<off_t>(pos));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        pos += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

HRESULT AviParser::Parse() {
    ChunkHeader h{};
    if (m_size < 12 || !Read(0, &h, 12))
        return AVIERR_FILEREAD;
    if (h.id != avi::kRiff || h.type != avi::kAvi)
        return AVIERR_BADFORMAT;

    // Top level: RIFF AVI, then any RIFF AVIX extensions.
    std::uint64_t pos = 0;
    while (pos + 12 <= m_size) {
        if (!Read(pos, &h, 12))
            return AVIERR_FILEREAD;
        const std::uint64_t end = pos + 8 + h.size;
        if (h.id == avi::kRiff && (h.type == avi::kAvi || h.type == avi::kAvix)) {
            const bool first = m_out.riffCount == 0;
            if (first != (h.type == avi::kAvi))
                break;
            // A RIFF size of 0 comes from writers that died before fixing it
            // up: the list runs to the end of the file.
            const std::uint64_t riffEnd = h.size < 4 ? m_size : std::min(end, m_size);
            ++m_out.riffCount;
            const HRESULT hr = ParseRiff(pos + 12, riffEnd, first);
            if (hr != AVIERR_OK)
                return hr;
            if (h.size < 4)
                break;
        } else if (m_out.riffCount == 0) {
            return AVIERR_BADFORMAT;
        }
        pos = end + (h.size & 1);
    }
    if (!m_hasHdrl)
        return AVIERR_BADFORMAT;
    if (m_out.riffCount > 1)
        m_out.openDml = true;

    for (AviStreamData& s : m_out.streams)
        CheckStream(s);

    // Prefer the OpenDML indexes, then idx1, then a scan of the data.
    bool missing = false;
    for (AviStreamData& s : m_out.streams) {
        if (!s.usable)
            continue;
        if (!s.superIndex.empty() && s.superIndexValid) {
            m_out.openDml = true;
            s.indexed = LoadStdIndexes(s);
            if (!s.indexed)
                s.index.Clear();
        }
        missing = missing || !s.indexed;
    }
    // idx1 covers only the first RIFF list; in a file with more, a stream
    // without its OpenDML index must be found by scanning.
    if (missing && m_hasIdx1 && m_out.riffCount == 1 && !LoadIdx1()) {
        m_changes.clear(); // found again by the scan
        for (AviStreamData& s : m_out.streams)
            if (s.usable && !s.indexed)
                s.index.Clear();
    }
    missing = false;
    for (const AviStreamData& s : m_out.streams)
        missing = missing || (s.usable && !s.indexed);
    if (missing) {
        const HRESULT hr = Scan();
        if (hr != AVIERR_OK)
            return hr;
    }
    ReadPaletteChanges();
    for (AviStreamData& s : m_out.streams) {
        s.index.ShrinkToFit();
        for (std::size_t i = 0; i < s.index.Chunks(); ++i)
            s.largestChunk = std::max(s.largestChunk, s.index.Size(i));
        // Sample numbers are signed 32-bit: a stream that would run past them
        // cannot be addressed.
        if (static_cast<std::uint64_t>(s.header.dwStart) + static_cast<std::uint64_t>(s.index.Samples()) >
            0x7fffffffu)
            s.usable = false;
    }
    return AVIERR_OK;
}

HRESULT AviParser::ParseRiff(std::uint64_t begin, std::uint64_t end, bool first) {
    std::uint64_t pos = begin;
    while (pos + 8 <= end) {
        ChunkHeader h{};
        if (!Read(pos, &h, std::min<std::uint64_t>(12, end - pos)))
            return AVIERR_FILEREAD;
        const std::uint64_t chunkEnd = pos + 8 + h.size;
        const std::uint64_t bounded = std::min(chunkEnd, end);
        if (h.id == avi::kList && h.size >= 4) {
            if (h.type == avi::kHdrl && first && !m_hasHdrl) {
                m_hasHdrl = true;
                const HRESULT hr = ParseHdrl(pos + 12, bounded);
                if (hr != AVIERR_OK)
                    return hr;
            } else if (h.type == avi::kMovi) {
                m_movis.push_back({pos + 8, bounded});
            }
        } else if (h.id == avi::kIdx1 && first && !m_hasIdx1) {
            m_hasIdx1 = true;
            m_idx1Pos = pos + 8;
            m_idx1Size = (bounded - m_idx1Pos) / sizeof(AVIINDEXENTRY) * sizeof(AVIINDEXENTRY);
        }
        if (chunkEnd >= end)
            break;
        pos = chunkEnd + (h.size & 1);
    }
    return AVIERR_OK;
}

HRESULT AviParser::ParseHdrl(std::uint64_t begin, std::uint64_t end) {
    std::uint64_t pos = begin;
    bool haveMain = false;
    while (pos + 8 <= end) {
        ChunkHeader h{};
        if (!Read(pos, &h, std::min<std::uint64_t>(12, end - pos)))
            return AVIERR_FILEREAD;
        const std::uint64_t chunkEnd = pos + 8 + h.size;
        // A header chunk that claims more than its list holds means the
        // headers cannot be trusted.
        if (chunkEnd > end)
            return AVIERR_BADFORMAT;
        if (h.id == avi::kAvih) {
            if (!Read(pos + 8, &m_out.main, std::min<DWORD>(h.size, sizeof(MainAVIHeader))))
                return AVIERR_FILEREAD;
            haveMain = true;
        } else if (h.id == avi::kList && h.size >= 4 && h.type == avi::kStrl) {
            if (m_out.streams.size() >= 100)
                return AVIERR_BADFORMAT; // chunk ids have two digits
            const HRESULT hr = ParseStrl(pos + 12, chunkEnd);
            if (hr != AVIERR_OK)
                return hr;
        } else if (h.id == avi::kList && h.size >= 4 && h.type == avi::kOdml) {
            ParseOdml(pos + 12, chunkEnd);
        }
        pos = chunkEnd + (h.size & 1);
    }
    return haveMain && !m_out.streams.empty() ? AVIERR_OK : AVIERR_BADFORMAT;
}

HRESULT AviParser::ParseStrl(std::uint64_t begin, std::uint64_t end) {
    AviStreamData& s = m_out.streams.emplace_back();
    bool formatTooBig = false;
    std::uint64_t pos = begin;
    while (pos + 8 <= end) {
        ChunkHeader h{};
        if (!Read(pos, &h, 8))
            return AVIERR_FILEREAD;
        const std::uint64_t chunkEnd = pos + 8 + h.size;
        if (chunkEnd > end)
            return AVIERR_BADFORMAT;
        if (h.id == avi::kStrh && !s.hasHeader) {
            // Old writers store a 48-byte header without the frame rectangle.
            if (h.size < offsetof(AVIStreamHeader, rcFrame))
                return AVIERR_BADFORMAT;
            if (!Read(pos + 8, &s.header, std::min<DWORD>(h.size, sizeof(AVIStreamHeader))))
                return AVIERR_FILEREAD;
            s.hasHeader = true;
        } else if (h.id == avi::kStrf && s.format.empty()) {
            if (h.size > kMaxFormatSize) {
                formatTooBig = true;
            } else {
                s.format.resize(h.size);
                if (!Read(pos + 8, s.format.data(), h.size))
                    return AVIERR_FILEREAD;
            }
        } else if (h.id == avi::kIndx && s.superIndex.empty()) {
            ReadSuperIndex(s, pos, h.size);
        } else if (h.id == avi::kStrn && s.name.empty()) {
            char name[64] = {};
            if (!Read(pos + 8, name, std::min<DWORD>(h.size, 63)))
                return AVIERR_FILEREAD;
            s.name = name;
        }
        pos = chunkEnd + (h.size & 1);
    }
    if (!s.hasHeader)
        return AVIERR_BADFORMAT;
    if (formatTooBig)
        s.format.clear();
    return AVIERR_OK;
}

void AviParser::ParseOdml(std::uint64_t begin, std::uint64_t end) {
    ChunkHeader h{};
    if (begin + 12 <= end && Read(begin, &h, 12) && h.id == avi::kDmlh && h.size >= 4)
        m_out.odmlTotalFrames = h.type;
}

void AviParser::ReadSuperIndex(AviStreamData& s, std::uint64_t chunkPos, DWORD size) {
    AVIMETAINDEX mi{};
    if (size < avi::kSuperIndexHeaderSize || !Read(chunkPos + 8, &mi, sizeof mi)) {
        s.superIndexValid = false;
        return;
    }
    if (mi.bIndexType == AVI_INDEX_OF_CHUNKS) {
        // The stream's whole index stored in the header: read it like an ix##.
        s.superIndex.push_back({chunkPos, size + 8, 0});
        return;
    }
    const DWORD capacity = (size - avi::kSuperIndexHeaderSize) / sizeof(AVISUPERINDEXENTRY);
    if (mi.bIndexType != AVI_INDEX_OF_INDEXES || mi.wLongsPerEntry != 4 || mi.nEntriesInUse > capacity) {
        s.superIndexValid = false;
        return;
    }
    s.superIndex.resize(mi.nEntriesInUse);
    if (!Read(chunkPos + 8 + avi::kSuperIndexHeaderSize, s.superIndex.data(),
              s.superIndex.size() * sizeof(AVISUPERINDEXENTRY)))
        s.superIndexValid = false;
}

void AviParser::CheckStream(AviStreamData& s) {
    const AVIStreamHeader& h = s.header;
    s.usable = h.dwRate != 0 && h.dwScale != 0;
    if (h.fccType == streamtypeVIDEO) {
        BITMAPINFOHEADER bi{};
        if (s.format.size() >= sizeof bi)
            std::memcpy(&bi, s.format.data(), sizeof bi);
        if (s.format.size() < sizeof bi || bi.biSize < sizeof bi || bi.biSize > s.format.size())
            s.usable = false;
        s.index = AviStreamIndex(0); // a video chunk is one frame whatever the header says
    } else {
        if (h.fccType == streamtypeAUDIO) {
            if (s.format.size() < sizeof(WAVEFORMAT))
                s.usable = false;
            // An extra-size field that claims more than the record holds is cut
            // to what is there, so that no reader of the format runs past it.
            if (s.format.size() >= sizeof(WAVEFORMATEX)) {
                WORD cb;
                std::memcpy(&cb, s.format.data() + offsetof(WAVEFORMATEX, cbSize), 2);
                const std::size_t room = s.format.size() - sizeof(WAVEFORMATEX);
                if (cb > room) {
                    cb = static_cast<WORD>(std::min<std::size_t>(room, 0xffff));
                    std::memcpy(s.format.data() + offsetof(WAVEFORMATEX, cbSize), &cb, 2);
                }
            }
        }
        s.index = AviStreamIndex(h.dwSampleSize);
    }
}

bool AviParser::LoadStdIndexes(AviStreamData& s) {
    std::uint64_t previous = 0;
    std::vector<BYTE> buffer;
    for (const AVISUPERINDEXENTRY& e : s.superIndex) {
        // Each standard index lies after the one before: an entry that points
        // back (or at itself) would make us read the same chunks again.
        if (e.qwOffset < previous || (previous != 0 && e.qwOffset == previous) || e.qwOffset > m_size ||
            m_size - e.qwOffset < 8 + avi::kStdIndexHeaderSize)
            return false;
        previous = e.qwOffset;
        struct {
            FOURCC id;
            DWORD size;
            AVIMETAINDEX mi;
            std::uint64_t base;
            DWORD reserved;
        } __attribute__((packed)) head{};
        static_assert(sizeof head == 8 + avi::kStdIndexHeaderSize);
        if (!Read(e.qwOffset, &head, sizeof head))
            return false;
        if (head.mi.bIndexType != AVI_INDEX_OF_CHUNKS || head.mi.wLongsPerEntry < 2 ||
            head.size < avi::kStdIndexHeaderSize || head.size > m_size - e.qwOffset - 8 || head.base > m_size)
            return false;
        const std::size_t stride = head.mi.wLongsPerEntry * 4u;
        const std::size_t capacity = (head.size - avi::kStdIndexHeaderSize) / stride;
        if (head.mi.nEntriesInUse > capacity)
            return false;
        buffer.resize(head.mi.nEntriesInUse * stride);
        if (!Read(e.qwOffset + 8 + avi::kStdIndexHeaderSize, buffer.data(), buffer.size()))
            return false;
        s.index.Reserve(s.index.Chunks() + head.mi.nEntriesInUse);
        for (std::size_t i = 0; i < head.mi.nEntriesInUse; ++i) {
            AVISTDINDEXENTRY entry;
            std::memcpy(&entry, buffer.data() + i * stride, sizeof entry);
            const DWORD size = entry.dwSize & AVISTDINDEX_SIZEMASK;
            const std::uint64_t offset = head.base + entry.dwOffset;
            if (offset + size > m_size || offset < 8)
                return false;
            if (!s.index.Add(offset, size, (entry.dwSize & AVISTDINDEX_DELTAFRAME) == 0))
                break;
        }
    }
    return true;
}

bool AviParser::LoadIdx1() {
    const std::size_t count = m_idx1Size / sizeof(AVIINDEXENTRY);
    const std::size_t streams = m_out.streams.size();
    std::vector<AVIINDEXENTRY> block;
    auto want = [&](const AVIINDEXENTRY& e) -> AviStreamData* {
        if ((e.dwFlags & AVIIF_LIST) || e.ckid == avi::kRec || avi::IsPaletteChange(e.ckid))
            return nullptr;
        const int n = avi::StreamOfChunkId(e.ckid);
        if (n < 0 || static_cast<std::size_t>(n) >= streams)
            return nullptr;
        AviStreamData& s = m_out.streams[static_cast<std::size_t>(n)];
        return s.usable && !s.indexed ? &s : nullptr;
    };

    // Pass 1: count per stream (for exact reservations) and find the offset
    // base from the first entry: relative to 'movi', or to the file.
    std::vector<std::size_t> counts(streams);
    bool baseKnown = false;
    std::uint64_t base = 0;
    for (std::size_t first = 0; first < count; first += kIdx1Block) {
        block.resize(std::min(kIdx1Block, count - first));
        if (!Read(m_idx1Pos + first * sizeof(AVIINDEXENTRY), block.data(),
                  block.size() * sizeof(AVIINDEXENTRY)))
            return false;
        for (const AVIINDEXENTRY& e : block) {
            if (!want(e))
                continue;
            ++counts[static_cast<std::size_t>(avi::StreamOfChunkId(e.ckid))];
            if (baseKnown)
                continue;
            FOURCC id = 0;
            const std::uint64_t movi = m_movis.empty() ? 0 : m_movis.front().begin;
            if (!m_movis.empty() && Read(movi + e.dwChunkOffset, &id, 4) && id == e.ckid) {
                base = movi;
            } else if (Read(e.dwChunkOffset, &id, 4) && id == e.ckid) {
                base = 0;
                m_out.idx1RelativeToMovi = false;
            } else {
                return false;
            }
            baseKnown = true;
        }
    }
    for (std::size_t i = 0; i < streams; ++i)
        if (counts[i])
            m_out.streams[i].index.Reserve(counts[i]);

    for (std::size_t first = 0; first < count; first += kIdx1Block) {
        block.resize(std::min(kIdx1Block, count - first));
        if (!Read(m_idx1Pos + first * sizeof(AVIINDEXENTRY), block.data(),
                  block.size() * sizeof(AVIINDEXENTRY)))
            return false;
        for (const AVIINDEXENTRY& e : block) {
            if (avi::IsPaletteChange(e.ckid) && !(e.dwFlags & AVIIF_LIST)) {
                const int n = avi::StreamOfChunkId(e.ckid);
                const std::uint64_t data = base + e.dwChunkOffset + 8;
                if (n >= 0 && static_cast<std::size_t>(n) < streams &&
                    !m_out.streams[static_cast<std::size_t>(n)].indexed && data + e.dwChunkLength <= m_size)
                    NotePaletteChange(static_cast<std::size_t>(n), data, e.dwChunkLength);
                continue;
            }
            AviStreamData* s = want(e);
            if (!s)
                continue;
            const std::uint64_t data = base + e.dwChunkOffset + 8;
            if (e.dwChunkLength > AVISTDINDEX_SIZEMASK || data + e.dwChunkLength > m_size)
                return false;
            s->index.Add(data, e.dwChunkLength, (e.dwFlags & AVIIF_KEYFRAME) != 0);
        }
    }
    for (AviStreamData& s : m_out.streams)
        if (s.usable && !s.indexed)
            s.indexed = true;
    return true;
}

HRESULT AviParser::Scan() {
    m_out.rebuilt = true;
    std::vector<bool> scanning(m_out.streams.size());
    for (std::size_t i = 0; i < m_out.streams.size(); ++i) {
        AviStreamData& s = m_out.streams[i];
        scanning[i] = s.usable && !s.indexed;
        if (scanning[i])
            s.index.Clear();
    }
    std::uint64_t total = 0;
    for (const Range& r : m_movis)
        total += r.end - r.begin;
    const bool report = m_progress && total >= kProgressThreshold;
    std::uint64_t done = 0;
    LONG lastPercent = -1;

    for (const Range& r : m_movis) {
        std::uint64_t pos = r.begin + 4;
        while (pos + 8 <= r.end) {
            ChunkHeader h{};
            if (!Read(pos, &h, 8))
                return AVIERR_FILEREAD;
            if (h.id == avi::kList) {
                // Step into 'rec ' groups; skip any other list whole.
                FOURCC type = 0;
                if (h.size >= 4 && pos + 12 <= r.end && Read(pos + 8, &type, 4) && type == avi::kRec) {
                    pos += 12;
                    continue;
                }
            } else {
                const int n = avi::StreamOfChunkId(h.id);
                // A chunk cut off by the end of the data is lost; so is
                // everything after a size no AVI chunk can have.
                if (h.size > AVISTDINDEX_SIZEMASK || pos + 8 + h.size > r.end)
                    break;
                if (n >= 0 && static_cast<std::size_t>(n) < scanning.size() &&
                    scanning[static_cast<std::size_t>(n)]) {
                    if (avi::IsPaletteChange(h.id))
                        NotePaletteChange(static_cast<std::size_t>(n), pos + 8, h.size);
                    else
                        m_out.streams[static_cast<std::size_t>(n)].index.Add(pos + 8, h.size, true);
                }
            }
            pos += 8 + static_cast<std::uint64_t>(h.size) + (h.size & 1);
            if (report) {
                const LONG percent = static_cast<LONG>((done + (pos - r.begin)) * 100 / total);
                if (percent != lastPercent) {
                    lastPercent = percent;
                    if (m_progress(m_context, std::min<LONG>(percent, 100)))
                        return AVIERR_USERABORT;
                }
            }
        }
        done += r.end - r.begin;
    }
    if (report && lastPercent != 100 && m_progress(m_context, 100))
        return AVIERR_USERABORT;
    for (std::size_t i = 0; i < m_out.streams.size(); ++i)
        if (scanning[i]) {
            AssignRebuiltKeys(m_out.streams[i]);
            m_out.streams[i].indexed = true;
        }
    return AVIERR_OK;
}

// A rebuilt index has no key flags of its own. Marking a delta frame as key
// would make seeking start decoding from it and show garbage, so only frames
// known to decode on their own are key: every frame of an intra-only format;
// in MPEG-4 and H.264 streams the frames whose first picture says it is intra;
// otherwise just the first frame with data. Non-video chunks are all key.
void AviParser::AssignRebuiltKeys(AviStreamData& s) {
    if (s.header.fccType != streamtypeVIDEO)
        return;
    BITMAPINFOHEADER bi;
    std::memcpy(&bi, s.format.data(), sizeof bi);
    const bool intra = IsIntraOnly(s.header.fccHandler, bi.biCompression);
    const AviKeyFrameSniffer::Kind kind = AviKeyFrameSniffer::KindOf(s.header.fccHandler, bi.biCompression);
    BYTE prefix[AviKeyFrameSniffer::kPrefixBytes];
    bool firstSeen = false;
    for (std::size_t i = 0; i < s.index.Chunks(); ++i) {
        const DWORD size = s.index.Size(i);
        bool key = size != 0 && (intra || !firstSeen);
        if (size != 0 && !intra && kind != AviKeyFrameSniffer::Kind::None) {
            const std::size_t n = std::min<std::size_t>(size, sizeof prefix);
            if (Read(s.index.Offset(i), prefix, n)) {
                const AviKeyFrameSniffer::Answer a = AviKeyFrameSniffer::Sniff(kind, prefix, n);
                if (a != AviKeyFrameSniffer::Answer::Unknown)
                    key = a == AviKeyFrameSniffer::Answer::Key;
            }
        }
        s.index.SetKey(i, key);
        firstSeen = firstSeen || size != 0;
    }
}

// A palette change takes effect at the frame that follows it in the file, so
// it is placed by the number of frames indexed so far.
void AviParser::NotePaletteChange(std::size_t stream, std::uint64_t offset, DWORD size) {
    AviStreamData& s = m_out.streams[stream];
    if (!s.usable || s.header.fccType != streamtypeVIDEO)
        return;
    m_changes.push_back({stream, offset, size, s.index.Chunks()});
}

// Reads the AVIPALCHANGE records noted while indexing: first entry, count
// (0 meaning 256), flags, then count entries of red, green, blue, flags. A
// change is ignored when the stream's format has no colour table, when its
// entries run past its chunk or past the table, and when it follows the last
// frame (there is nothing for it to change).
void AviParser::ReadPaletteChanges() {
    std::vector<BYTE> record;
    for (const PendingChange& c : m_changes) {
        AviStreamData& s = m_out.streams[c.stream];
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, s.format.data(), sizeof bi);
        if (bi.biBitCount == 0 || bi.biBitCount > 8)
            continue;
        const std::size_t stored = (s.format.size() - bi.biSize) / sizeof(RGBQUAD);
        const std::size_t claimed = bi.biClrUsed ? bi.biClrUsed : std::size_t{1} << bi.biBitCount;
        const std::size_t table = std::min(stored, claimed);
        if (c.size < 4 || c.size > 4 + 256 * sizeof(RGBQUAD) || c.frame >= s.index.Chunks() ||
            s.paletteChanges.size() >= kMaxPaletteChanges)
            continue;
        record.resize(c.size);
        if (!Read(c.offset, record.data(), c.size))
            continue;
        const std::size_t first = record[0];
        const std::size_t count = record[1] ? record[1] : 256;
        if (4 + count * 4 > c.size || first + count > table)
            continue;
        AviPaletteChange change;
        change.frame = static_cast<LONG>(c.frame);
        change.first = static_cast<DWORD>(first);
        change.colors.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const BYTE* e = &record[4 + i * 4];
            change.colors[i] = RGBQUAD{e[2], e[1], e[0], 0};
        }
        s.paletteChanges.push_back(std::move(change));
    }
    m_changes.clear();
}
