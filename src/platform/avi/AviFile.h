// The AVI file library: reading AVI files through the AVIFile API.
//
// Names, constants, record layouts and error codes are the published ones, so
// the engine calls this exactly as it would call the system library. Only
// reading is supported (the writer is AviWriter.h).
//
// Files: RIFF AVI 1.0 with an idx1 index (offsets relative to the file or to
// the movi list, detected per file), AVI 2.0 / OpenDML (indx super indexes,
// ix## standard indexes, RIFF AVIX extensions, files past 4 GB), interleaved
// or not, rec lists, JUNK padding. A file with no usable index (none at all,
// entries pointing past the end of the file, or counts its chunks cannot
// hold) is opened by scanning its movi lists and rebuilding the index; a file
// cut off inside a chunk loses only that chunk.
//
// Samples: a video chunk is one frame, a zero-length video chunk included (it
// reads as 0 bytes, so the stream keeps its pace). A stream with a fixed
// sample size (PCM: the block align) counts bytes / sample size samples per
// chunk; a stream with sample size 0 counts one sample per chunk.
//
// Threads: every function may be called from any thread. The index of every
// stream is built once in AVIFileOpenA and never changes afterwards, and reads
// use positioned I/O (pread) on the file descriptor, so the playback thread may
// read the video stream while the wave notification thread reads the audio
// stream of the same file. AVIFileInit/AVIFileExit and the reference counts are
// atomic. Releasing the last reference of a handle while another thread still
// uses it is the caller's error, as with the system library.
//
// Choices where the published library leaves room (callers may rely on them):
// - Time conversions use exact 128-bit intermediates. AVIStreamSampleToTime
//   gives the start time of the sample in ms rounded up,
//   ceil(sample * scale * 1000 / rate): the first whole millisecond at which
//   the sample plays. AVIStreamTimeToSample gives the sample playing at that
//   time, rounded down: floor(time * rate / (scale * 1000)). So
//   TimeToSample(SampleToTime(n)) == n whenever a sample lasts at least 1 ms
//   (every video stream below 1000 fps). Results are clamped to the signed
//   32-bit range; neither clamps to the stream's range (callers do: the
//   engine clamps frames). On a bad handle both return -1.
// - AVISTREAMINFO.dwLength and AVIStreamLength count the samples the index
//   holds, which can be fewer than a damaged header claims; every sample in
//   [dwStart, dwStart + dwLength) can be read. A stream header whose
//   dwSuggestedBufferSize is 0 reports the size of its largest chunk instead,
//   so that callers sizing buffers from it never get 0.
// - AVIStreamRead clamps the request to the stream's end; a start outside
//   [start, start + length) reads 0 samples and returns AVIERR_OK with
//   *plBytes = *plSamples = 0. With lSamples = AVISTREAMREAD_CONVENIENT a
//   variable-size stream reads one chunk and a fixed-size one reads to the end
//   of the chunk holding lStart. A fixed-size stream reads as many whole
//   samples as fit in cbBuffer (at least one, or AVIERR_BUFFERTOOSMALL); a
//   variable-size stream reads one sample per call, AVIERR_BUFFERTOOSMALL if it
//   does not fit. A null buffer asks for sizes only.
// - AVIStreamReadFormat copies at most *lpcbFormat bytes and always stores the
//   full size of the format in *lpcbFormat; a buffer too small for the whole
//   format gets the first part and AVIERR_BUFFERTOOSMALL.
// - AVIStreamFindSample searches from lPos inclusive: FIND_PREV finds the
//   nearest match at or before lPos, FIND_NEXT at or after it (FIND_PREV when
//   neither is given). FIND_KEY matches key frames, FIND_ANY samples with
//   data, no type flag any sample. For FIND_PREV a position past the end
//   counts as the last sample; for FIND_NEXT a position before the start
//   counts as the first; otherwise no match gives -1. Every sample of a
//   fixed-size stream is a key sample.
// - Streams whose rate or scale is 0 are refused at open: AVIFileGetStream
//   skips them as if absent, so the engine never divides by zero. So are
//   streams whose start + length passes 2^31 - 1 (their samples could not be
//   numbered) and streams whose format is shorter than its own header says
//   (a video biSize beyond the format); a wave format's cbSize that runs past
//   the stored record is cut to what is there.
// - Past the documented behaviour of the reader of the bare format: palette
//   changes. A video stream whose format carries a colour table (8 bits or
//   fewer) may hold "##pc" chunks, each an AVIPALCHANGE record (first entry,
//   count with 0 meaning 256, flags, then the entries as red, green, blue,
//   flags). They are not frames: they are kept apart from the frame index,
//   and each takes effect at the frame that follows it in the file, as the
//   published library has it. AVIStreamReadFormat(lPos) returns the format
//   with the colour table in effect at lPos (the changes up to and including
//   lPos applied in file order), so a reader that goes back in the stream
//   gets the earlier palette back. AVIStreamFindSample with FIND_FORMAT finds
//   the stream's first sample and the frames where a change takes effect
//   (FIND_PREV: the nearest at or before lPos, FIND_NEXT: at or after it).
//   AVISTREAMINFO reports AVISTREAMINFO_FORMATCHANGES and the number of
//   changes in dwFormatChangeCount. A change is ignored when the stream has
//   no colour table, when its entries run past its chunk or past the
//   format's table, when it comes after the last frame, and past 65536
//   changes per stream. They are found through idx1 or a scan of the data;
//   a stream indexed by OpenDML indexes alone, which list only frames, shows
//   none.
// - A rebuilt index (no usable idx1/indx) has lost the file's key flags, and
//   a delta frame marked key would make a seek start decoding from it and
//   show garbage. So a video frame is key only when that is certain: every
//   frame of an intra-only format (uncompressed DIB, MJPEG); in MPEG-4 part 2
//   and H.264 streams each frame whose first picture is intra (read from the
//   frame's first bytes); otherwise only the first frame with data. An empty
//   (dropped) frame is never key. Audio and other chunks are always key.
// - An index whose entries point outside the file, whose counts exceed their
//   chunk, or whose OpenDML entries do not advance through the file, is not
//   used: the file is scanned instead.
#pragma once

#include "platform/win32/Types.h"

#include <cstdint>

// Opaque handles; reference counted. A stream keeps its file alive.
struct IAVIFile;
struct IAVIStream;
using PAVIFILE = IAVIFile*;
using PAVISTREAM = IAVIStream*;
using LPCSTR = const char*;
using LPVOID = void*;

// HRESULT codes: MAKE_AVIERR(n) = 0x80040000 | (0x4000 + n).
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT MakeAviErr(int n) {
    return static_cast<HRESULT>(0x80040000u | (0x4000u + static_cast<unsigned>(n)));
}
constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviErr(101);
constexpr HRESULT AVIERR_BADFORMAT = MakeAviErr(102);
constexpr HRESULT AVIERR_MEMORY = MakeAviErr(103);
constexpr HRESULT AVIERR_INTERNAL = MakeAviErr(104);
constexpr HRESULT AVIERR_BADFLAGS = MakeAviErr(105);
constexpr HRESULT AVIERR_BADPARAM = MakeAviErr(106);
constexpr HRESULT AVIERR_BADSIZE = MakeAviErr(107);
constexpr HRESULT AVIERR_BADHANDLE = MakeAviErr(108);
constexpr HRESULT AVIERR_FILEREAD = MakeAviErr(109);
constexpr HRESULT AVIERR_FILEWRITE = MakeAviErr(110);
constexpr HRESULT AVIERR_FILEOPEN = MakeAviErr(111);
constexpr HRESULT AVIERR_COMPRESSOR = MakeAviErr(112);
constexpr HRESULT AVIERR_NOCOMPRESSOR = MakeAviErr(113);
constexpr HRESULT AVIERR_READONLY = MakeAviErr(114);
constexpr HRESULT AVIERR_NODATA = MakeAviErr(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviErr(116);
constexpr HRESULT AVIERR_CANTCOMPRESS = MakeAviErr(117);
constexpr HRESULT AVIERR_USERABORT = MakeAviErr(198);
constexpr HRESULT AVIERR_ERROR = MakeAviErr(199);
static_assert(AVIERR_NODATA == static_cast<HRESULT>(0x80044073u));
static_assert(AVIERR_NOCOMPRESSOR == static_cast<HRESULT>(0x80044071u));

// Stream types.
constexpr FOURCC streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr FOURCC streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');
constexpr FOURCC streamtypeMIDI = mmioFOURCC('m', 'i', 'd', 's');
constexpr FOURCC streamtypeTEXT = mmioFOURCC('t', 'x', 't', 's');

// Open modes (OpenFile flags). Only read access is supported; the share
// flags are accepted and have no effect on this platform.
constexpr UINT OF_READ = 0x0000;
constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_READWRITE = 0x0002;
constexpr UINT OF_SHARE_COMPAT = 0x0000;
constexpr UINT OF_SHARE_EXCLUSIVE = 0x0010;
constexpr UINT OF_SHARE_DENY_WRITE = 0x0020;
constexpr UINT OF_SHARE_DENY_READ = 0x0030;
constexpr UINT OF_SHARE_DENY_NONE = 0x0040;
constexpr UINT OF_CREATE = 0x1000;

// AVIStreamFindSample flags.
constexpr LONG FIND_DIR = 0x000F;
constexpr LONG FIND_NEXT = 0x0001;
constexpr LONG FIND_PREV = 0x0004;
constexpr LONG FIND_FROM_START = 0x0008;
constexpr LONG FIND_TYPE = 0x00F0;
constexpr LONG FIND_KEY = 0x0010;
constexpr LONG FIND_ANY = 0x0020;
constexpr LONG FIND_FORMAT = 0x0040;
constexpr LONG FIND_RET = 0xF000;
constexpr LONG FIND_POS = 0x0000;
constexpr LONG FIND_LENGTH = 0x1000;
constexpr LONG FIND_OFFSET = 0x2000;
constexpr LONG FIND_SIZE = 0x3000;
constexpr LONG FIND_INDEX = 0x4000;

constexpr LONG AVISTREAMREAD_CONVENIENT = -1;

// AVIFILEINFO flags and caps.
constexpr DWORD AVIFILEINFO_HASINDEX = 0x00000010;
constexpr DWORD AVIFILEINFO_MUSTUSEINDEX = 0x00000020;
constexpr DWORD AVIFILEINFO_ISINTERLEAVED = 0x00000100;
constexpr DWORD AVIFILEINFO_WASCAPTUREFILE = 0x00010000;
constexpr DWORD AVIFILEINFO_COPYRIGHTED = 0x00020000;
constexpr DWORD AVIFILECAPS_CANREAD = 0x00000001;
constexpr DWORD AVIFILECAPS_CANWRITE = 0x00000002;
constexpr DWORD AVIFILECAPS_ALLKEYFRAMES = 0x00000010;
constexpr DWORD AVIFILECAPS_NOCOMPRESSION = 0x00000020;

// AVISTREAMINFO flags.
constexpr DWORD AVISTREAMINFO_DISABLED = 0x00000001;
constexpr DWORD AVISTREAMINFO_FORMATCHANGES = 0x00010000;

struct AVIFILEINFOA {
    DWORD dwMaxBytesPerSec;
    DWORD dwFlags;
    DWORD dwCaps;
    DWORD dwStreams;
    DWORD dwSuggestedBufferSize;
    DWORD dwWidth;
    DWORD dwHeight;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwLength;
    DWORD dwEditCount;
    char szFileType[64];
};
static_assert(sizeof(AVIFILEINFOA) == 108);

struct AVISTREAMINFOA {
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwCaps;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwInitialFrames;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    RECT rcFrame;
    DWORD dwEditCount;
    DWORD dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140);

// Counted: the library is usable between the first AVIFileInit and the
// matching last AVIFileExit. Handles opened in between stay valid until
// released, even after AVIFileExit.
void AVIFileInit();
void AVIFileExit();

// Opens an AVI file for reading and builds its index. uMode must not ask for
// write access or creation (AVIERR_READONLY); lpHandler must be null
// (AVIERR_UNSUPPORTED otherwise). On failure *ppfile is null. Errors:
// AVIERR_FILEOPEN (cannot open), AVIERR_FILEREAD (I/O error), AVIERR_BADFORMAT
// (not an AVI file or headers unusable), AVIERR_MEMORY, AVIERR_USERABORT (the
// progress callback cancelled an index rebuild), AVIERR_BADPARAM.
HRESULT AVIFileOpenA(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, const void* lpHandler);
ULONG AVIFileAddRef(PAVIFILE pfile);
ULONG AVIFileRelease(PAVIFILE pfile);
// Copies min(lSize, sizeof(AVIFILEINFOA)) bytes of the file information.
HRESULT AVIFileInfoA(PAVIFILE pfile, AVIFILEINFOA* pfi, LONG lSize);
// The lParam-th stream (0-based) of type fccType, or of any type when fccType
// is 0. AVIERR_NODATA when there is none. The stream holds a reference; release
// it with AVIStreamRelease.
HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam);

ULONG AVIStreamAddRef(PAVISTREAM pavi);
ULONG AVIStreamRelease(PAVISTREAM pavi);
HRESULT AVIStreamInfoA(PAVISTREAM pavi, AVISTREAMINFOA* psi, LONG lSize);
// lpFormat null: stores the format's size in *lpcbFormat. Otherwise the format
// in effect at sample lPos: for a video stream with palette changes, the
// colour table as the changes up to lPos left it (see above).
HRESULT AVIStreamReadFormat(PAVISTREAM pavi, LONG lPos, LPVOID lpFormat, LONG* lpcbFormat);
HRESULT AVIStreamRead(PAVISTREAM pavi, LONG lStart, LONG lSamples, LPVOID lpBuffer, LONG cbBuffer,
                      LONG* plBytes, LONG* plSamples);
LONG AVIStreamFindSample(PAVISTREAM pavi, LONG lPos, LONG lFlags);
LONG AVIStreamSampleToTime(PAVISTREAM pavi, LONG lSample);
LONG AVIStreamTimeToSample(PAVISTREAM pavi, LONG lTime);
// The published macros, as functions: dwStart, dwLength and dwStart +
// dwLength; -1 on a bad handle.
LONG AVIStreamStart(PAVISTREAM pavi);
LONG AVIStreamLength(PAVISTREAM pavi);
LONG AVIStreamEnd(PAVISTREAM pavi);

// ---- Our extensions (not in the published API) ----

// Progress of an index rebuild: called on the thread running AVIFileOpenA with
// the percentage of the movi data scanned (0..100), at most about 100 times per
// rebuild and only for files large enough that a rebuild takes noticeable
// time. Return TRUE to cancel; AVIFileOpenA then fails with AVIERR_USERABORT.
// Process-wide; pass null to remove. Set it before opening, not during.
using AVIINDEXPROGRESSPROC = BOOL (*)(void* context, LONG percent);
void AVIFileSetIndexProgress(AVIINDEXPROGRESSPROC proc, void* context);

// Facts the probe shows that the published records do not carry.
struct AVIFILEDETAILS {
    DWORD dwMicroSecPerFrame; // main header fields as stored
    DWORD dwMaxBytesPerSec;
    DWORD dwPaddingGranularity;
    DWORD dwFlags;
    DWORD dwTotalFrames;
    DWORD dwInitialFrames;
    DWORD dwStreams;
    DWORD dwSuggestedBufferSize;
    DWORD dwWidth;
    DWORD dwHeight;
    BOOL fOpenDml;      // the file has an OpenDML index or AVIX extensions
    BOOL fIndexRebuilt; // the index was rebuilt by scanning movi
    BOOL fIdx1RelativeToMovi;
    DWORD dwRiffCount; // RIFF AVI plus RIFF AVIX lists
    std::uint64_t qwFileSize;
};
HRESULT AVIFileGetDetails(PAVIFILE pfile, AVIFILEDETAILS* pd);

// One index entry: where sample chunk lIndex (0-based, in file order) of the
// stream lies. For a variable-size stream chunk i holds sample start + i; for a
// fixed-size stream *plFirstSample receives the first sample in the chunk.
// AVIERR_BADPARAM past the last chunk.
struct AVICHUNKINFO {
    std::uint64_t qwOffset; // file offset of the chunk data (after its 8-byte header)
    DWORD dwSize;           // data size in bytes
    BOOL fKeyFrame;
    LONG lFirstSample;
    LONG lSamples; // samples in this chunk
};
LONG AVIStreamChunkCount(PAVISTREAM pavi);
HRESULT AVIStreamChunkInfo(PAVISTREAM pavi, LONG lIndex, AVICHUNKINFO* pci);
// Bytes of memory the stream's index takes, for the index-cost figure.
std::uint64_t AVIStreamIndexBytes(PAVISTREAM pavi);
