// Multimedia services: the millisecond timer and RIFF file input.
//
// These keep the published names, constants and result codes so callers read
// as they would against the real multimedia library.
//
// Timer
//   timeGetTime() is a monotonic millisecond count (CLOCK_MONOTONIC, so it
//   never jumps with wall-clock changes) that wraps modulo 2^32 like the
//   original DWORD; compare two readings by unsigned subtraction only.
//   timeBeginPeriod/timeEndPeriod are counted per period so unbalanced calls
//   are reported, but have no effect on Linux: the kernel timer is already
//   finer than the 1 ms minimum period timeGetDevCaps reports.
//   Sleep(0) yields the processor; Sleep(n) sleeps at least n milliseconds.
//   Every timer function may be called from any thread.
//
// RIFF file input (mmio)
//   A file opened with mmioOpenA(MMIO_READ) is read through mmioRead and
//   navigated with mmioDescend/mmioAscend. Only reading is supported:
//   MMIO_WRITE/MMIO_READWRITE/MMIO_CREATE are refused. MMCKINFO.cksize is
//   the size the file declares; a chunk that claims more than the file holds
//   shows up as a short mmioRead, which callers must treat as a failure.
//   Searches never leave the parent chunk or the file, whatever the sizes
//   say, and always move forward.
//   A memory file reads bytes the caller holds in the same way: mmioOpenA
//   with no file name and an MMIOINFO whose fccIOProc is FOURCC_MEM,
//   pchBuffer the bytes and cchBuffer their count. The bytes are read in
//   place and must outlive the handle.
//   An HMMIO belongs to one thread at a time; distinct handles are
//   independent.
#pragma once

#include "platform/win32/Types.h"

#include <cstdint>

// ---- Timer ----------------------------------------------------------------

constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;
constexpr MMRESULT TIMERR_STRUCT = 129;

struct TIMECAPS {
    UINT wPeriodMin;
    UINT wPeriodMax;
};
using LPTIMECAPS = TIMECAPS*;

DWORD timeGetTime();
MMRESULT timeGetDevCaps(LPTIMECAPS ptc, UINT cbtc);
// Period must lie within [wPeriodMin, wPeriodMax]; otherwise TIMERR_NOCANDO.
MMRESULT timeBeginPeriod(UINT uPeriod);
// TIMERR_NOCANDO when no matching timeBeginPeriod is outstanding.
MMRESULT timeEndPeriod(UINT uPeriod);
void Sleep(DWORD dwMilliseconds);

// Number of timeBeginPeriod calls for uPeriod not yet ended; for tests and
// diagnostics.
UINT cadmoTimePeriodCount(UINT uPeriod);

// ---- RIFF file input --------------------------------------------------------

struct MMIOFILE;
using HMMIO = MMIOFILE*;
using LPSTR = char*;
using LPCSTR = const char*;
using HPSTR = char*;

// Results are 0 for success or an MMIOERR_* code (MMSYSERR_INVALPARAM, 11,
// for a null handle or record). The MMSYSERR_* names themselves are declared
// by the wave output header, which owns that family.
constexpr MMRESULT MMIOERR_BASE = 256;
constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
constexpr MMRESULT MMIOERR_UNBUFFERED = MMIOERR_BASE + 10;
constexpr MMRESULT MMIOERR_PATHNOTFOUND = MMIOERR_BASE + 11;
constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

// mmioOpen flags.
constexpr DWORD MMIO_READ = 0x00000000;
constexpr DWORD MMIO_WRITE = 0x00000001;
constexpr DWORD MMIO_READWRITE = 0x00000002;
constexpr DWORD MMIO_CREATE = 0x00001000;
constexpr DWORD MMIO_ALLOCBUF = 0x00010000;
constexpr DWORD MMIO_DENYWRITE = 0x00000020;
constexpr DWORD MMIO_DENYNONE = 0x00000040;

// mmioDescend flags.
constexpr UINT MMIO_FINDCHUNK = 0x0010;
constexpr UINT MMIO_FINDRIFF = 0x0020;
constexpr UINT MMIO_FINDLIST = 0x0040;

// MMCKINFO.dwFlags.
constexpr DWORD MMIO_DIRTY = 0x10000000;

constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC FOURCC_MEM = mmioFOURCC('M', 'E', 'M', ' ');

struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;     // form or list type of a RIFF or LIST chunk
    DWORD dwDataOffset; // file offset of the chunk's data (after id and size)
    DWORD dwFlags;
};
using LPMMCKINFO = MMCKINFO*;
using LPCMMCKINFO = const MMCKINFO*;

// The MMIOINFO argument may be null for a file; it names the bytes of a
// memory file (see above), the published fields in their published order but
// only those this stand-in reads. On failure returns nullptr (an error code
// is written to wErrorRet of the info record when one is given).
struct MMIOINFO {
    DWORD dwFlags;
    FOURCC fccIOProc;
    UINT wErrorRet;
    LONG cchBuffer;
    HPSTR pchBuffer;
};
using LPMMIOINFO = MMIOINFO*;

HMMIO mmioOpenA(LPCSTR pszFileName, LPMMIOINFO pmmioinfo, DWORD fdwOpen);
// Bytes read (0 at end of file), or -1 on a read error.
LONG mmioRead(HMMIO hmmio, HPSTR pch, LONG cch);
// SEEK_SET / SEEK_CUR / SEEK_END; returns the new position or -1.
LONG mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin);
// Descends into the chunk at the current position (flags 0) or searches for a
// matching chunk (FINDCHUNK by ckid, FINDRIFF / FINDLIST by fccType) within
// the parent, or the whole file if there is no parent. On success the file is
// positioned at the start of the chunk's data (after the form type for RIFF
// and LIST). MMIOERR_CHUNKNOTFOUND when the end of the parent is reached.
MMRESULT mmioDescend(HMMIO hmmio, LPMMCKINFO pmmcki, LPCMMCKINFO pmmckiParent, UINT fuDescend);
// Moves to the end of the chunk (and its pad byte).
MMRESULT mmioAscend(HMMIO hmmio, LPMMCKINFO pmmcki, UINT fuAscend);
MMRESULT mmioClose(HMMIO hmmio, UINT fuClose);
