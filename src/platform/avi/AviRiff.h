// Records of the AVI file format as they are stored on disk (little-endian,
// packed), shared by the reader, the writer and the probe.
#pragma once

#include "platform/win32/Types.h"

#include <cstdint>

namespace avi {

constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kList = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC kAvi = mmioFOURCC('A', 'V', 'I', ' ');
constexpr FOURCC kAvix = mmioFOURCC('A', 'V', 'I', 'X');
constexpr FOURCC kHdrl = mmioFOURCC('h', 'd', 'r', 'l');
constexpr FOURCC kAvih = mmioFOURCC('a', 'v', 'i', 'h');
constexpr FOURCC kStrl = mmioFOURCC('s', 't', 'r', 'l');
constexpr FOURCC kStrh = mmioFOURCC('s', 't', 'r', 'h');
constexpr FOURCC kStrf = mmioFOURCC('s', 't', 'r', 'f');
constexpr FOURCC kStrn = mmioFOURCC('s', 't', 'r', 'n');
constexpr FOURCC kIndx = mmioFOURCC('i', 'n', 'd', 'x');
constexpr FOURCC kOdml = mmioFOURCC('o', 'd', 'm', 'l');
constexpr FOURCC kDmlh = mmioFOURCC('d', 'm', 'l', 'h');
constexpr FOURCC kMovi = mmioFOURCC('m', 'o', 'v', 'i');
constexpr FOURCC kRec = mmioFOURCC('r', 'e', 'c', ' ');
constexpr FOURCC kIdx1 = mmioFOURCC('i', 'd', 'x', '1');
constexpr FOURCC kJunk = mmioFOURCC('J', 'U', 'N', 'K');

} // namespace avi

// avih flags.
constexpr DWORD AVIF_HASINDEX = 0x00000010;
constexpr DWORD AVIF_MUSTUSEINDEX = 0x00000020;
constexpr DWORD AVIF_ISINTERLEAVED = 0x00000100;
constexpr DWORD AVIF_TRUSTCKTYPE = 0x00000800;
constexpr DWORD AVIF_WASCAPTUREFILE = 0x00010000;
constexpr DWORD AVIF_COPYRIGHTED = 0x00020000;

// idx1 entry flags.
constexpr DWORD AVIIF_LIST = 0x00000001;
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;
constexpr DWORD AVIIF_NO_TIME = 0x00000100;

// OpenDML index types.
constexpr BYTE AVI_INDEX_OF_INDEXES = 0x00;
constexpr BYTE AVI_INDEX_OF_CHUNKS = 0x01;
// In a standard index entry's size, this bit marks a delta (non-key) frame.
constexpr DWORD AVISTDINDEX_DELTAFRAME = 0x80000000u;
constexpr DWORD AVISTDINDEX_SIZEMASK = 0x7fffffffu;

struct MainAVIHeader {
    DWORD dwMicroSecPerFrame;
    DWORD dwMaxBytesPerSec;
    DWORD dwPaddingGranularity;
    DWORD dwFlags;
    DWORD dwTotalFrames;
    DWORD dwInitialFrames;
    DWORD dwStreams;
    DWORD dwSuggestedBufferSize;
    DWORD dwWidth;
    DWORD dwHeight;
    DWORD dwReserved[4];
};
static_assert(sizeof(MainAVIHeader) == 56);

struct AVIStreamHeader {
    FOURCC fccType;
    FOURCC fccHandler;
    DWORD dwFlags;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwInitialFrames;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    struct {
        std::int16_t left;
        std::int16_t top;
        std::int16_t right;
        std::int16_t bottom;
    } rcFrame;
};
static_assert(sizeof(AVIStreamHeader) == 56);

struct AVIINDEXENTRY {
    DWORD ckid;
    DWORD dwFlags;
    DWORD dwChunkOffset;
    DWORD dwChunkLength;
};
static_assert(sizeof(AVIINDEXENTRY) == 16);

// Header shared by indx and ix## chunks (after the 8-byte chunk header).
#pragma pack(push, 4)
struct AVIMETAINDEX {
    WORD wLongsPerEntry;
    BYTE bIndexSubType;
    BYTE bIndexType;
    DWORD nEntriesInUse;
    DWORD dwChunkId;
};
struct AVISUPERINDEXENTRY {
    std::uint64_t qwOffset; // file offset of the ix## chunk header
    DWORD dwSize;           // size of that chunk, header included
    DWORD dwDuration;       // samples it covers
};
struct AVISTDINDEXENTRY {
    DWORD dwOffset; // data offset relative to qwBaseOffset (points after the chunk header)
    DWORD dwSize;   // bit 31 set: delta frame
};
#pragma pack(pop)
static_assert(sizeof(AVIMETAINDEX) == 12);
static_assert(sizeof(AVISUPERINDEXENTRY) == 16);
static_assert(sizeof(AVISTDINDEXENTRY) == 8);
namespace avi {
// A super index: AVIMETAINDEX, DWORD dwReserved[3], then entries.
inline constexpr DWORD kSuperIndexHeaderSize = 12 + 12;
// A standard index: AVIMETAINDEX, QWORD qwBaseOffset, DWORD dwReserved, entries.
inline constexpr DWORD kStdIndexHeaderSize = 12 + 8 + 4;
} // namespace avi

namespace avi {

// The chunk id of stream n's data of a two-letter type: "00dc", "01wb"...
constexpr FOURCC StreamChunkId(unsigned stream, char a, char b) {
    return mmioFOURCC(static_cast<char>('0' + (stream / 10) % 10), static_cast<char>('0' + stream % 10), a,
                      b);
}

// The stream number of a chunk id "##xx", or -1 when the first two characters
// are not digits.
constexpr int StreamOfChunkId(FOURCC id) {
    const unsigned c0 = id & 0xff;
    const unsigned c1 = (id >> 8) & 0xff;
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9')
        return -1;
    return static_cast<int>((c0 - '0') * 10 + (c1 - '0'));
}

// A "##pc" chunk: a palette change of video stream ##.
constexpr bool IsPaletteChange(FOURCC id) {
    return (id >> 16) == static_cast<FOURCC>('p' | ('c' << 8));
}

} // namespace avi
