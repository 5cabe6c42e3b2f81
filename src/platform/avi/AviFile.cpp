#include "platform/avi/AviFile.h"

#include "platform/avi/AviParser.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

// Handles carry a tag so that a stale or foreign pointer is refused rather
// than used, as far as that can be told.
constexpr DWORD kFileTag = mmioFOURCC('A', 'V', 'I', 'F');
constexpr DWORD kStreamTag = mmioFOURCC('A', 'V', 'I', 'S');

struct IAVIFile {
    DWORD tag = kFileTag;
    std::atomic<ULONG> refs{1};
    int fd = -1;
    AviFileData data;
    ~IAVIFile() {
        tag = 0;
        if (fd >= 0)
            close(fd);
    }
};

struct IAVIStream {
    DWORD tag = kStreamTag;
    std::atomic<ULONG> refs{1};
    PAVIFILE file = nullptr;
    const AviStreamData* data = nullptr;
    ~IAVIStream() { tag = 0; }
};

namespace {

std::atomic<int> g_initCount{0};

std::mutex g_progressLock;
AVIINDEXPROGRESSPROC g_progress = nullptr;
void* g_progressContext = nullptr;

IAVIFile* CheckFile(PAVIFILE f) {
    return f && f->tag == kFileTag ? f : nullptr;
}
const AviStreamData* CheckStream(PAVISTREAM s) {
    return s && s->tag == kStreamTag ? s->data : nullptr;
}

LONG ClampLong(__int128 v) {
    if (v > 0x7fffffff)
        return 0x7fffffff;
    if (v < -0x7fffffff - 1)
        return -0x7fffffff - 1;
    return static_cast<LONG>(v);
}

__int128 FloorDiv(__int128 a, __int128 b) {
    __int128 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// Start time in ms of a sample, rounded up: the first whole millisecond at
// which the sample is playing. Paired with the floor in SampleAtTime this makes
// SampleAtTime(TimeOfSample(n)) == n whenever a sample lasts 1 ms or more.
LONG TimeOfSample(LONG sample, DWORD rate, DWORD scale) {
    const __int128 num = static_cast<__int128>(sample) * scale * 1000;
    return ClampLong(-FloorDiv(-num, rate));
}

// The sample playing at a time in ms, rounded down.
LONG SampleAtTime(LONG ms, DWORD rate, DWORD scale) {
    const __int128 num = static_cast<__int128>(ms) * rate;
    return ClampLong(FloorDiv(num, static_cast<__int128>(scale) * 1000));
}

void FillStreamInfo(const AviStreamData& s, AVISTREAMINFOA& info) {
    std::memset(&info, 0, sizeof info);
    const AVIStreamHeader& h = s.header;
    info.fccType = h.fccType;
    info.fccHandler = h.fccHandler;
    info.dwFlags = h.dwFlags & (AVISTREAMINFO_DISABLED | AVISTREAMINFO_FORMATCHANGES);
    if (!s.paletteChanges.empty())
        info.dwFlags |= AVISTREAMINFO_FORMATCHANGES;
    info.dwFormatChangeCount = static_cast<DWORD>(s.paletteChanges.size());
    info.dwCaps = AVIFILECAPS_CANREAD;
    info.wPriority = h.wPriority;
    info.wLanguage = h.wLanguage;
    info.dwScale = h.dwScale;
    info.dwRate = h.dwRate;
    info.dwStart = h.dwStart;
    info.dwLength = static_cast<DWORD>(s.index.Samples());
    info.dwInitialFrames = h.dwInitialFrames;
    // A header without a suggestion gets the size that reads every chunk.
    info.dwSuggestedBufferSize = h.dwSuggestedBufferSize ? h.dwSuggestedBufferSize : s.largestChunk;
    info.dwQuality = h.dwQuality;
    info.dwSampleSize = h.dwSampleSize;
    info.rcFrame = {h.rcFrame.left, h.rcFrame.top, h.rcFrame.right, h.rcFrame.bottom};
    std::strncpy(info.szName, s.name.c_str(), sizeof info.szName - 1);
}

const AviStreamData* FirstVideo(const AviFileData& d) {
    for (const AviStreamData& s : d.streams)
        if (s.usable && s.header.fccType == streamtypeVIDEO)
            return &s;
    return nullptr;
}

// Stream-relative position of a sample, or -1 / Samples() when outside.
std::int64_t Relative(const AviStreamData& s, LONG sample) {
    return static_cast<std::int64_t>(sample) - static_cast<std::int64_t>(s.header.dwStart);
}

} // namespace

void AVIFileInit() {
    g_initCount.fetch_add(1);
}

void AVIFileExit() {
    int n = g_initCount.load();
    while (n > 0 && !g_initCount.compare_exchange_weak(n, n - 1)) {
    }
}

void AVIFileSetIndexProgress(AVIINDEXPROGRESSPROC proc, void* context) {
    std::lock_guard<std::mutex> lock(g_progressLock);
    g_progress = proc;
    g_progressContext = context;
}

HRESULT AVIFileOpenA(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, const void* lpHandler) {
    if (!ppfile)
        return AVIERR_BADPARAM;
    *ppfile = nullptr;
    if (!szFile)
        return AVIERR_BADPARAM;
    if (uMode & (OF_WRITE | OF_READWRITE | OF_CREATE))
        return AVIERR_READONLY;
    if (lpHandler)
        return AVIERR_UNSUPPORTED;

    const int fd = open(szFile, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return AVIERR_FILEOPEN;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return AVIERR_FILEOPEN;
    }
    IAVIFile* file = new (std::nothrow) IAVIFile;
    if (!file) {
        close(fd);
        return AVIERR_MEMORY;
    }
    file->fd = fd;
    file->data.fileSize = static_cast<std::uint64_t>(st.st_size);

    AVIINDEXPROGRESSPROC progress;
    void* context;
    {
        std::lock_guard<std::mutex> lock(g_progressLock);
        progress = g_progress;
        context = g_progressContext;
    }
    HRESULT hr;
    try {
        hr = AviParser(fd, file->data.fileSize, file->data, progress, context).Parse();
    } catch (const std::bad_alloc&) {
        hr = AVIERR_MEMORY;
    } catch (const std::length_error&) {
        hr = AVIERR_MEMORY;
    }
    if (hr != AVIERR_OK) {
        delete file;
        return hr;
    }
    *ppfile = file;
    return AVIERR_OK;
}

ULONG AVIFileAddRef(PAVIFILE pfile) {
    IAVIFile* f = CheckFile(pfile);
    return f ? f->refs.fetch_add(1) + 1 : 0;
}

ULONG AVIFileRelease(PAVIFILE pfile) {
    IAVIFile* f = CheckFile(pfile);
    if (!f)
        return 0;
    const ULONG left = f->refs.fetch_sub(1) - 1;
    if (left == 0)
        delete f;
    return left;
}

HRESULT AVIFileInfoA(PAVIFILE pfile, AVIFILEINFOA* pfi, LONG lSize) {
    const IAVIFile* f = CheckFile(pfile);
    if (!f)
        return AVIERR_BADHANDLE;
    if (!pfi || lSize < 0)
        return AVIERR_BADPARAM;
    const AviFileData& d = f->data;
    AVIFILEINFOA info{};
    info.dwMaxBytesPerSec = d.main.dwMaxBytesPerSec;
    info.dwFlags =
        d.main.dwFlags & (AVIFILEINFO_HASINDEX | AVIFILEINFO_MUSTUSEINDEX | AVIFILEINFO_ISINTERLEAVED |
                          AVIFILEINFO_WASCAPTUREFILE | AVIFILEINFO_COPYRIGHTED);
    info.dwCaps = AVIFILECAPS_CANREAD;
    for (const AviStreamData& s : d.streams)
        if (s.usable)
            ++info.dwStreams;
    info.dwSuggestedBufferSize = d.main.dwSuggestedBufferSize;
    info.dwWidth = d.main.dwWidth;
    info.dwHeight = d.main.dwHeight;
    // The file's time base is its first video stream's; without video, its
    // first stream's.
    const AviStreamData* base = FirstVideo(d);
    for (const AviStreamData& s : d.streams)
        if (!base && s.usable)
            base = &s;
    if (base) {
        info.dwScale = base->header.dwScale;
        info.dwRate = base->header.dwRate;
        info.dwLength = static_cast<DWORD>(base->index.Samples());
        if (base->header.fccType == streamtypeVIDEO) {
            BITMAPINFOHEADER bi;
            std::memcpy(&bi, base->format.data(), sizeof bi);
            if (bi.biCompression == BI_RGB)
                info.dwCaps |= AVIFILECAPS_NOCOMPRESSION;
            if (base->index.AllKey())
                info.dwCaps |= AVIFILECAPS_ALLKEYFRAMES;
        }
    }
    std::strncpy(info.szFileType, "AVI file", sizeof info.szFileType - 1);
    std::memcpy(pfi, &info, std::min<std::size_t>(static_cast<std::size_t>(lSize), sizeof info));
    return AVIERR_OK;
}

HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam) {
    if (!ppavi)
        return AVIERR_BADPARAM;
    *ppavi = nullptr;
    IAVIFile* f = CheckFile(pfile);
    if (!f)
        return AVIERR_BADHANDLE;
    if (lParam < 0)
        return AVIERR_NODATA;
    LONG seen = 0;
    for (const AviStreamData& s : f->data.streams) {
        if (!s.usable || (fccType != 0 && s.header.fccType != fccType))
            continue;
        if (seen++ != lParam)
            continue;
        IAVIStream* stream = new (std::nothrow) IAVIStream;
        if (!stream)
            return AVIERR_MEMORY;
        stream->file = f;
        stream->data = &s;
        AVIFileAddRef(f);
        *ppavi = stream;
        return AVIERR_OK;
    }
    return AVIERR_NODATA;
}

ULONG AVIStreamAddRef(PAVISTREAM pavi) {
    if (!CheckStream(pavi))
        return 0;
    return pavi->refs.fetch_add(1) + 1;
}

ULONG AVIStreamRelease(PAVISTREAM pavi) {
    if (!CheckStream(pavi))
        return 0;
    const ULONG left = pavi->refs.fetch_sub(1) - 1;
    if (left == 0) {
        PAVIFILE file = pavi->file;
        delete pavi;
        AVIFileRelease(file);
    }
    return left;
}

HRESULT AVIStreamInfoA(PAVISTREAM pavi, AVISTREAMINFOA* psi, LONG lSize) {
    const AviStreamData* s = CheckStream(pavi);
    if (!s)
        return AVIERR_BADHANDLE;
    if (!psi || lSize < 0)
        return AVIERR_BADPARAM;
    AVISTREAMINFOA info;
    FillStreamInfo(*s, info);
    std::memcpy(psi, &info, std::min<std::size_t>(static_cast<std::size_t>(lSize), sizeof info));
    return AVIERR_OK;
}

HRESULT AVIStreamReadFormat(PAVISTREAM pavi, LONG lPos, LPVOID lpFormat, LONG* lpcbFormat) {
    const AviStreamData* s = CheckStream(pavi);
    if (!s)
        return AVIERR_BADHANDLE;
    if (!lpcbFormat)
        return AVIERR_BADPARAM;
    const LONG size = static_cast<LONG>(s->format.size());
    if (!lpFormat) {
        *lpcbFormat = size;
        return AVIERR_OK;
    }
    const LONG room = std::max<LONG>(*lpcbFormat, 0);
    const std::size_t copied = static_cast<std::size_t>(std::min(room, size));
    auto* out = static_cast<BYTE*>(lpFormat);
    std::memcpy(out, s->format.data(), copied);
    // The colour table as the palette changes up to lPos left it (only video
    // streams with a colour table have any; see AviParser).
    const std::int64_t rel = Relative(*s, lPos);
    if (!s->paletteChanges.empty()) {
        DWORD headerSize;
        std::memcpy(&headerSize, s->format.data(), sizeof headerSize);
        for (const AviPaletteChange& c : s->paletteChanges) {
            if (c.frame > rel)
                break;
            for (std::size_t i = 0; i < c.colors.size(); ++i) {
                const std::size_t at = headerSize + (c.first + i) * sizeof(RGBQUAD);
                if (at + sizeof(RGBQUAD) <= copied)
                    std::memcpy(out + at, &c.colors[i], sizeof(RGBQUAD));
            }
        }
    }
    *lpcbFormat = size;
    return room < size ? AVIERR_BUFFERTOOSMALL : AVIERR_OK;
}

HRESULT AVIStreamRead(PAVISTREAM pavi, LONG lStart, LONG lSamples, LPVOID lpBuffer, LONG cbBuffer,
                      LONG* plBytes, LONG* plSamples) {
    if (plBytes)
        *plBytes = 0;
    if (plSamples)
        *plSamples = 0;
    const AviStreamData* s = CheckStream(pavi);
    if (!s)
        return AVIERR_BADHANDLE;
    if (cbBuffer < 0 || (lSamples < 0 && lSamples != AVISTREAMREAD_CONVENIENT))
        return AVIERR_BADPARAM;
    const AviStreamIndex& idx = s->index;
    const std::int64_t rel = Relative(*s, lStart);
    if (rel < 0 || rel >= idx.Samples() || lSamples == 0)
        return AVIERR_OK;
    const int fd = pavi->file->fd;
    const DWORD ss = idx.SampleSize();

    if (ss == 0) {
        const std::size_t chunk = static_cast<std::size_t>(rel);
        const DWORD size = idx.Size(chunk);
        if (plBytes)
            *plBytes = static_cast<LONG>(size);
        if (lpBuffer) {
            if (size > static_cast<DWORD>(cbBuffer))
                return AVIERR_BUFFERTOOSMALL;
            if (!AviParser::ReadAt(fd, idx.Offset(chunk), lpBuffer, size)) {
                if (plBytes)
                    *plBytes = 0;
                return AVIERR_FILEREAD;
            }
        }
        if (plSamples)
            *plSamples = 1;
        return AVIERR_OK;
    }

    std::size_t chunk = idx.ChunkOfSample(static_cast<LONG>(rel));
    std::int64_t want = lSamples == AVISTREAMREAD_CONVENIENT
                            ? idx.FirstSample(chunk) + idx.ChunkSamples(chunk) - rel
                            : static_cast<std::int64_t>(lSamples);
    want = std::min<std::int64_t>(want, idx.Samples() - rel);
    if (lpBuffer) {
        const std::int64_t fit = cbBuffer / static_cast<std::int64_t>(ss);
        if (fit == 0) {
            if (plBytes)
                *plBytes = static_cast<LONG>(std::min<std::int64_t>(ss, 0x7fffffff));
            return AVIERR_BUFFERTOOSMALL;
        }
        want = std::min(want, fit);
    } else {
        if (plBytes)
            *plBytes = static_cast<LONG>(std::min<std::int64_t>(want * ss, 0x7fffffff));
        if (plSamples)
            *plSamples = static_cast<LONG>(want);
        return AVIERR_OK;
    }

    auto* out = static_cast<BYTE*>(lpBuffer);
    std::int64_t pos = rel;
    std::int64_t left = want;
    while (left > 0) {
        chunk = idx.ChunkOfSample(static_cast<LONG>(pos));
        const std::int64_t within = pos - idx.FirstSample(chunk);
        const std::int64_t take = std::min<std::int64_t>(left, idx.ChunkSamples(chunk) - within);
        if (take <= 0)
            return AVIERR_INTERNAL;
        const std::size_t bytes = static_cast<std::size_t>(take) * ss;
        if (!AviParser::ReadAt(fd, idx.Offset(chunk) + static_cast<std::uint64_t>(within) * ss, out, bytes))
            return AVIERR_FILEREAD;
        out += bytes;
        pos += take;
        left -= take;
    }
    if (plBytes)
        *plBytes = static_cast<LONG>(want * ss);
    if (plSamples)
        *plSamples = static_cast<LONG>(want);
    return AVIERR_OK;
}

LONG AVIStreamFindSample(PAVISTREAM pavi, LONG lPos, LONG lFlags) {
    const AviStreamData* s = CheckStream(pavi);
    if (!s)
        return -1;
    const AviStreamIndex& idx = s->index;
    const std::int64_t samples = idx.Samples();
    if (samples == 0)
        return -1;
    std::int64_t rel = Relative(*s, lPos);
    bool next = (lFlags & FIND_NEXT) != 0;
    if (lFlags & FIND_FROM_START) {
        rel = 0;
        next = true;
    }
    const bool key = (lFlags & FIND_KEY) != 0;
    const bool nonEmpty = (lFlags & FIND_ANY) != 0;

    // The stream's format starts at its first sample and changes at each
    // palette change.
    std::int64_t found;
    if (lFlags & FIND_FORMAT) {
        const auto& changes = s->paletteChanges;
        if (next) {
            found = rel <= 0 ? 0 : -1;
            for (std::size_t i = 0; found < 0 && i < changes.size(); ++i)
                if (changes[i].frame >= rel)
                    found = changes[i].frame;
        } else {
            found = rel >= 0 ? 0 : -1;
            for (std::size_t i = 0; rel >= 0 && i < changes.size() && changes[i].frame <= rel; ++i)
                found = changes[i].frame;
        }
    } else if (next) {
        if (rel >= samples)
            return -1;
        rel = std::max<std::int64_t>(rel, 0);
        if (idx.SampleSize()) {
            const std::int64_t c = idx.NextMatch(idx.ChunkOfSample(static_cast<LONG>(rel)), key, nonEmpty);
            found = c < 0 ? -1 : std::max<std::int64_t>(rel, idx.FirstSample(static_cast<std::size_t>(c)));
        } else {
            found = idx.NextMatch(static_cast<std::size_t>(rel), key, nonEmpty);
        }
    } else {
        if (rel < 0)
            return -1;
        rel = std::min(rel, samples - 1);
        if (idx.SampleSize()) {
            const std::size_t chunk = idx.ChunkOfSample(static_cast<LONG>(rel));
            const std::int64_t c = idx.PrevMatch(chunk, key, nonEmpty);
            found = c < 0 ? -1
                    : static_cast<std::size_t>(c) == chunk
                        ? rel
                        : idx.FirstSample(static_cast<std::size_t>(c)) +
                              idx.ChunkSamples(static_cast<std::size_t>(c)) - 1;
        } else {
            found = idx.PrevMatch(static_cast<std::size_t>(rel), key, nonEmpty);
        }
    }
    if (found < 0)
        return -1;

    const std::size_t chunk = idx.ChunkOfSample(static_cast<LONG>(found));
    switch (lFlags & FIND_RET) {
    case FIND_POS:
        return ClampLong(found + s->header.dwStart);
    case FIND_LENGTH:
        return idx.SampleSize() ? static_cast<LONG>(idx.FirstSample(chunk) + idx.ChunkSamples(chunk) - found)
                                : 1;
    case FIND_OFFSET: {
        const std::uint64_t within =
            idx.SampleSize() ? (found - idx.FirstSample(chunk)) * idx.SampleSize() : 0;
        return ClampLong(static_cast<__int128>(idx.Offset(chunk) + within));
    }
    case FIND_SIZE:
        return idx.SampleSize() ? static_cast<LONG>(idx.SampleSize()) : static_cast<LONG>(idx.Size(chunk));
    case FIND_INDEX:
        return static_cast<LONG>(chunk);
    default:
        return -1;
    }
}

LONG AVIStreamSampleToTime(PAVISTREAM pavi, LONG lSample) {
    const AviStreamData* s = CheckStream(pavi);
    return s ? TimeOfSample(lSample, s->header.dwRate, s->header.dwScale) : -1;
}

LONG AVIStreamTimeToSample(PAVISTREAM pavi, LONG lTime) {
    const AviStreamData* s = CheckStream(pavi);
    return s ? SampleAtTime(lTime, s->header.dwRate, s->header.dwScale) : -1;
}

LONG AVIStreamStart(PAVISTREAM pavi) {
    const AviStreamData* s = CheckStream(pavi);
    return s ? static_cast<LONG>(s->header.dwStart) : -1;
}

LONG AVIStreamLength(PAVISTREAM pavi) {
    const AviStreamData* s = CheckStream(pavi);
    return s ? s->index.Samples() : -1;
}

LONG AVIStreamEnd(PAVISTREAM pavi) {
    const AviStreamData* s = CheckStream(pavi);
    return s ? ClampLong(static_cast<__int128>(s->header.dwStart) + s->index.Samples()) : -1;
}

HRESULT AVIFileGetDetails(PAVIFILE pfile, AVIFILEDETAILS* pd) {
    const IAVIFile* f = CheckFile(pfile);
    if (!f)
        return AVIERR_BADHANDLE;
    if (!pd)
        return AVIERR_BADPARAM;
    const AviFileData& d = f->data;
    *pd = {};
    pd->dwMicroSecPerFrame = d.main.dwMicroSecPerFrame;
    pd->dwMaxBytesPerSec = d.main.dwMaxBytesPerSec;
    pd->dwPaddingGranularity = d.main.dwPaddingGranularity;
    pd->dwFlags = d.main.dwFlags;
    pd->dwTotalFrames = d.main.dwTotalFrames;
    pd->dwInitialFrames = d.main.dwInitialFrames;
    pd->dwStreams = d.main.dwStreams;
    pd->dwSuggestedBufferSize = d.main.dwSuggestedBufferSize;
    pd->dwWidth = d.main.dwWidth;
    pd->dwHeight = d.main.dwHeight;
    pd->fOpenDml = d.openDml;
    pd->fIndexRebuilt = d.rebuilt;
    pd->fIdx1RelativeToMovi = d.idx1RelativeToMovi;
    pd->dwRiffCount = d.riffCount;
    pd->qwFileSize = d.fileSize;
    return AVIERR_OK;
}

LONG AVIStreamChunkCount(PAVISTREAM pavi) {
    const AviStreamData* s = CheckStream(pavi);
    return s ? static_cast<LONG>(s->index.Chunks()) : -1;
}

HRESULT AVIStreamChunkInfo(PAVISTREAM pavi, LONG lIndex, AVICHUNKINFO* pci) {
    const AviStreamData* s = CheckStream(pavi);
    if (!s)
        return AVIERR_BADHANDLE;
    if (!pci || lIndex < 0 || static_cast<std::size_t>(lIndex) >= s->index.Chunks())
        return AVIERR_BADPARAM;
    const std::size_t i = static_cast<std::size_t>(lIndex);
    pci->qwOffset = s->index.Offset(i);
    pci->dwSize = s->index.Size(i);
    pci->fKeyFrame = s->index.Key(i);
    pci->lFirstSample = ClampLong(static_cast<__int128>(s->header.dwStart) + s->index.FirstSample(i));
    pci->lSamples = s->index.ChunkSamples(i);
    return AVIERR_OK;
}

std::uint64_t AVIStreamIndexBytes(PAVISTREAM pavi) {
    const AviStreamData* s = CheckStream(pavi);
    return s ? s->index.MemoryBytes() : 0;
}
