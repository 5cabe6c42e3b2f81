#include "platform/mm/Mm.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <new>
#include <sched.h>

// ---- Timer ----------------------------------------------------------------

namespace {

constexpr UINT kPeriodMin = 1;
constexpr UINT kPeriodMax = 1000000;

std::mutex& periodMutex() {
    static std::mutex m;
    return m;
}

std::map<UINT, UINT>& periodCounts() {
    static std::map<UINT, UINT> counts;
    return counts;
}

} // namespace

DWORD timeGetTime() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms =
        static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}

MMRESULT timeGetDevCaps(LPTIMECAPS ptc, UINT cbtc) {
    if (ptc == nullptr || cbtc < sizeof(TIMECAPS))
        return TIMERR_STRUCT;
    ptc->wPeriodMin = kPeriodMin;
    ptc->wPeriodMax = kPeriodMax;
    return TIMERR_NOERROR;
}

MMRESULT timeBeginPeriod(UINT uPeriod) {
    if (uPeriod < kPeriodMin || uPeriod > kPeriodMax)
        return TIMERR_NOCANDO;
    std::lock_guard lock(periodMutex());
    ++periodCounts()[uPeriod];
    return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT uPeriod) {
    std::lock_guard lock(periodMutex());
    auto it = periodCounts().find(uPeriod);
    if (it == periodCounts().end())
        return TIMERR_NOCANDO;
    if (--it->second == 0)
        periodCounts().erase(it);
    return TIMERR_NOERROR;
}

UINT cadmoTimePeriodCount(UINT uPeriod) {
    std::lock_guard lock(periodMutex());
    auto it = periodCounts().find(uPeriod);
    return it == periodCounts().end() ? 0 : it->second;
}

void Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    timespec req{static_cast<time_t>(dwMilliseconds / 1000),
                 static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}

// ---- RIFF file input --------------------------------------------------------

struct MMIOFILE {
    std::FILE* file = nullptr;
    std::int64_t size = 0;
};

namespace {

constexpr MMRESULT kNoError = 0;
constexpr MMRESULT kInvalParam = 11; // the published MMSYSERR_INVALPARAM

void setError(LPMMIOINFO info, UINT err) {
    if (info != nullptr)
        info->wErrorRet = err;
}

std::int64_t tell(HMMIO h) {
    return static_cast<std::int64_t>(std::ftell(h->file));
}

bool seekTo(HMMIO h, std::int64_t pos) {
    return pos >= 0 && pos <= 0x7fffffff && std::fseek(h->file, static_cast<long>(pos), SEEK_SET) == 0;
}

bool readExact(HMMIO h, void* dst, std::size_t n) {
    return std::fread(dst, 1, n, h->file) == n;
}

DWORD readLe32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

} // namespace

HMMIO mmioOpenA(LPCSTR pszFileName, LPMMIOINFO pmmioinfo, DWORD fdwOpen) {
    setError(pmmioinfo, kNoError);
    const bool memory = pszFileName == nullptr && pmmioinfo != nullptr &&
                        pmmioinfo->fccIOProc == FOURCC_MEM && pmmioinfo->pchBuffer != nullptr &&
                        pmmioinfo->cchBuffer > 0;
    if (pszFileName == nullptr && !memory) {
        setError(pmmioinfo, kInvalParam);
        return nullptr;
    }
    if ((fdwOpen & (MMIO_WRITE | MMIO_READWRITE | MMIO_CREATE)) != 0) {
        setError(pmmioinfo, MMIOERR_ACCESSDENIED);
        return nullptr;
    }
    // A memory file is a stream over the caller's bytes, so everything below
    // reads it exactly as it reads a file.
    std::FILE* f = memory
                       ? fmemopen(pmmioinfo->pchBuffer, static_cast<std::size_t>(pmmioinfo->cchBuffer), "r")
                       : std::fopen(pszFileName, "rb");
    if (f == nullptr) {
        setError(pmmioinfo, !memory && errno == ENOENT ? MMIOERR_FILENOTFOUND : MMIOERR_CANNOTOPEN);
        return nullptr;
    }
    auto* h = new (std::nothrow) MMIOFILE;
    if (h == nullptr) {
        std::fclose(f);
        setError(pmmioinfo, MMIOERR_OUTOFMEMORY);
        return nullptr;
    }
    h->file = f;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        h->size = static_cast<std::int64_t>(std::ftell(f));
        std::fseek(f, 0, SEEK_SET);
    }
    if (h->size < 0)
        h->size = 0;
    return h;
}

LONG mmioRead(HMMIO hmmio, HPSTR pch, LONG cch) {
    if (hmmio == nullptr || cch < 0 || (pch == nullptr && cch > 0))
        return -1;
    if (cch == 0)
        return 0;
    const std::size_t n = std::fread(pch, 1, static_cast<std::size_t>(cch), hmmio->file);
    if (n == 0 && std::ferror(hmmio->file))
        return -1;
    return static_cast<LONG>(n);
}

LONG mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin) {
    if (hmmio == nullptr)
        return -1;
    std::int64_t base = 0;
    switch (iOrigin) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = tell(hmmio);
        break;
    case SEEK_END:
        base = hmmio->size;
        break;
    default:
        return -1;
    }
    const std::int64_t pos = base + lOffset;
    if (!seekTo(hmmio, pos))
        return -1;
    return static_cast<LONG>(pos);
}

MMRESULT mmioDescend(HMMIO hmmio, LPMMCKINFO pmmcki, LPCMMCKINFO pmmckiParent, UINT fuDescend) {
    if (hmmio == nullptr || pmmcki == nullptr)
        return kInvalParam;

    // The region the search may not leave: the parent's data, or the file.
    std::int64_t limit = hmmio->size;
    if (pmmckiParent != nullptr) {
        const std::int64_t parentEnd = static_cast<std::int64_t>(pmmckiParent->dwDataOffset) +
                                       static_cast<std::int64_t>(pmmckiParent->cksize);
        if (parentEnd < limit)
            limit = parentEnd;
    }

    const FOURCC wantId = pmmcki->ckid;
    const FOURCC wantType = pmmcki->fccType;
    for (;;) {
        const std::int64_t start = tell(hmmio);
        if (start < 0 || start + 8 > limit)
            return MMIOERR_CHUNKNOTFOUND;
        BYTE head[8];
        if (!readExact(hmmio, head, sizeof head))
            return MMIOERR_CHUNKNOTFOUND;
        MMCKINFO ck{};
        ck.ckid = readLe32(head);
        ck.cksize = readLe32(head + 4);
        ck.dwDataOffset = static_cast<DWORD>(start + 8);
        const bool isForm = ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST;
        if (isForm) {
            BYTE type[4];
            if (ck.cksize < 4 || start + 12 > limit || !readExact(hmmio, type, sizeof type))
                return MMIOERR_CHUNKNOTFOUND;
            ck.fccType = readLe32(type);
        }

        bool match = false;
        if ((fuDescend & MMIO_FINDCHUNK) != 0)
            match = ck.ckid == wantId;
        else if ((fuDescend & MMIO_FINDRIFF) != 0)
            match = ck.ckid == FOURCC_RIFF && ck.fccType == wantType;
        else if ((fuDescend & MMIO_FINDLIST) != 0)
            match = ck.ckid == FOURCC_LIST && ck.fccType == wantType;
        else
            match = true;

        if (match) {
            *pmmcki = ck;
            return kNoError;
        }
        // Skip the chunk and its pad byte.
        const std::int64_t next = static_cast<std::int64_t>(ck.dwDataOffset) + ck.cksize + (ck.cksize & 1);
        if (next <= start || !seekTo(hmmio, next))
            return MMIOERR_CHUNKNOTFOUND;
    }
}

MMRESULT mmioAscend(HMMIO hmmio, LPMMCKINFO pmmcki, UINT /*fuAscend*/) {
    if (hmmio == nullptr || pmmcki == nullptr)
        return kInvalParam;
    const std::int64_t end =
        static_cast<std::int64_t>(pmmcki->dwDataOffset) + pmmcki->cksize + (pmmcki->cksize & 1);
    if (!seekTo(hmmio, end < hmmio->size ? end : hmmio->size))
        return MMIOERR_CANNOTSEEK;
    return kNoError;
}

MMRESULT mmioClose(HMMIO hmmio, UINT /*fuClose*/) {
    if (hmmio == nullptr)
        return kInvalParam;
    const int rc = std::fclose(hmmio->file);
    delete hmmio;
    return rc == 0 ? kNoError : MMIOERR_CANNOTCLOSE;
}
