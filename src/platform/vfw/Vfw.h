// Installable codecs: the driver registry, codec instances and the codec
// messages.
//
// The names, message numbers, flags and ICERR_* results are the published
// ones, so the engine and the drivers read as they would against the original
// codec interface.
//
// Drivers
//   A driver is a message procedure of type DRIVERPROC:
//       LRESULT DriverProc(DWORD_PTR dwDriverId, HDRVR hdrvr, UINT uMsg,
//                          LPARAM lParam1, LPARAM lParam2);
//   Life of a driver: DRV_LOAD and DRV_ENABLE before its first instance is
//   opened (their answers are not examined); DRV_DISABLE and DRV_FREE when it
//   has been removed and its last instance has ended. A driver still
//   registered when the process exits gets nothing at exit: a library's own
//   static objects may be gone by then. An instance starts with DRV_OPEN (lParam1 = 0, lParam2 = an
//   ICOPEN*); a non-zero answer is the instance's id, passed as dwDriverId in
//   every later message to that instance; 0 refuses the open (the driver may
//   put an ICERR_* value in ICOPEN::dwError). The instance ends with DRV_CLOSE.
//   DRV_LOAD, DRV_ENABLE, DRV_DISABLE and DRV_FREE carry dwDriverId 0.
//
//   Drivers come from two places:
//   - functions registered at run time with ICInstall(..., ICINSTALL_FUNCTION)
//     and removed with ICRemove; the built-in drivers are registered this way
//     (RegisterBuiltinCodecs(), see codecs/builtin), and so are the fakes of
//     the tests;
//   - shared libraries named "libcadmo-codec-<name>.so" that export the C
//     symbol "DriverProc" with the signature above. They are looked for in
//     the folder of the running executable (/proc/self/exe), then in the
//     installed codec folder relative to it (bin/../lib/cadmo, or wherever
//     the build's install directories put it), and then in the
//     folder named by the environment variable CADMO_CODEC_PATH (one folder,
//     or several separated by ':'). The folders are scanned once, the first
//     time the registry is used. A library's handler FourCC is taken from its
//     ICM_GETINFO answer (fccHandler) given to an instance opened in
//     ICMODE_QUERY; when it does not answer, from <name> (first four
//     characters, blank padded). A library whose handler is already
//     registered is not loaded twice (the first one found wins).
//   Built-in function drivers are searched before library drivers, each group
//   in the order of registration.
//
// Locating a decompressor
//   ICLocate(fccType, fccHandler, lpbiIn, lpbiOut, wFlags) first tries the
//   drivers whose fccHandler equals the given handler, ignoring the case of
//   letters; it then asks every driver in order. A driver accepts when an
//   instance opens and answers ICM_DECOMPRESS_QUERY (lpbiIn, lpbiOut) with
//   ICERR_OK (ICM_COMPRESS_QUERY for ICMODE_COMPRESS, ICM_DRAW_QUERY for
//   ICMODE_DRAW). A handler of 0 skips the first step.
//
// Messages with records
//   Every record that a message carries is passed by address in lParam1 and,
//   for the extended messages, its size in bytes in lParam2. Drivers check
//   that size and answer ICERR_BADSIZE when it is smaller than the record.
//   For ICM_DECOMPRESS and ICM_DECOMPRESSEX, the source header's biSizeImage
//   is the number of bytes at lpSrc (the caller sets it for every frame, as
//   the published interface requires); a driver never reads past it. A
//   frame of 0 bytes is the AVI file's "no change" frame: a driver shows its
//   last picture again when it has one (ICERR_OK) and otherwise answers
//   ICERR_DONTDRAW, leaving the destination alone.
//   The destination buffer holds at least the image the destination header
//   describes (rows padded to 32 bits, bottom-up for a positive biHeight).
//   The format given to ICLocate and ICM_DECOMPRESS_QUERY is the stream's
//   whole format: biSize bytes of header and codec data, then, for 8 bits or
//   fewer, biClrUsed colour-table entries (the built-in drivers read no
//   table when biClrUsed is 0);
//   the caller guarantees that much memory (it clamps biSize, and the table,
//   to the size of the format it read from the file). Drivers keep what they need of it (codec data,
//   palette) from that query, because the later messages may carry only a
//   copy of the 40-byte header. Past that: a source header of the decode
//   messages whose biClrUsed is not 0 (8 bits or fewer) is followed by that
//   many colour-table entries, the palette in effect for the frame, as in
//   the published interface; the player passes the table so for a
//   palettised movie, and changes it at the movie's palette changes.
//
// Decoders with a reorder delay (our extension)
//   Past the published interface, which has one picture out for every frame
//   in, a decoder that reorders pictures (video with B-frames) gives the
//   picture of a frame only after it has been fed some frames more. Such a
//   driver answers ICM_DECOMPRESS_GET_DELAY (both lParams 0) with that number
//   of frames, D: fed frames n, n + 1, ... from a key frame after
//   ICM_DECOMPRESS_FLUSH, the decode message of the frame n + k + D writes
//   the picture of frame n + k. The first D decodes of a run write nothing
//   and answer ICERR_DONTDRAW. The answer is known only once the driver has
//   seen the stream's headers (the first key frame), so a caller asks again
//   after each frame; within an instance it never shrinks. Every other
//   driver answers 0 or ICERR_UNSUPPORTED, and the caller then treats the
//   delay as 0: nothing changes for them.
//   ICM_DECOMPRESS_FLUSH (both lParams 0) forgets the pictures held back and
//   the decoder's state: the next frame starts a new run and must be a key
//   frame. The caller sends it when it moves elsewhere than the next frame.
//   Past the last frame the caller drains the held-back pictures with frames
//   of 0 bytes flagged ICDECOMPRESS_ENDOFSTREAM, one for each picture, and a
//   driver that has none left shows its last picture again, as for any
//   0-byte frame. A driver without a delay sees neither the message nor the
//   flag from the player.
//   A picture the decoder does not produce when it is due (a frame the
//   encoder dropped) shows the last picture again; right after a flush, when
//   there is none, the answer is ICERR_DONTDRAW.
//
// Records with pointers (64-bit layout)
//   ICDECOMPRESSEX, ICDECOMPRESS, ICDRAWBEGIN, ICDRAW and ICOPEN hold pointers
//   or handles, which are 8 bytes here. Their fields keep the published names
//   and order, but the records are larger than the published 32-bit ones: each
//   pointer grows from 4 to 8 bytes and is aligned to 8, so ICDECOMPRESSEX is
//   72 bytes, not 52 (4 bytes of padding follow dwFlags). A caller always
//   passes sizeof(ICDECOMPRESSEX) as lParam2 where the 32-bit program passed
//   52. ICINFO holds no pointer and keeps its published 568 bytes; WCHAR is
//   16-bit as published. The bitmap and palette records (Types.h) keep their
//   published layouts.
//
// Threads
//   The registry (ICInstall, ICRemove, ICInfo, ICOpen, ICLocate, ICClose) is
//   safe to use from any thread at any time. One instance receives messages
//   from one thread at a time (its owner guarantees it), with one exception:
//   ICM_DECOMPRESSEX_QUERY may come from a second thread while the instance
//   decodes (the player checks a moved picture while it plays), so a driver
//   answers it from the message's own record alone. Another thread
//   may ICClose it while a message is in progress: the instance then ends
//   (DRV_CLOSE) when that message has returned, and every later message on
//   the closed handle answers ICERR_BADHANDLE. Handles are never reused
//   within a process, so a stale handle is refused, never misrouted.
#pragma once

#include "platform/win32/Types.h"

#include <cstddef>

// ---- Handles and basic types -------------------------------------------------

struct HIC__;
using HIC = HIC__*;
struct HDRVR__;
using HDRVR = HDRVR__*;
struct HDC__;
using HDC = HDC__*;
struct HPALETTE__;
using HPALETTE = HPALETTE__*;

using WCHAR = char16_t;
using LPVOID = void*;
using LPBITMAPINFOHEADER = BITMAPINFOHEADER*;
using LPBITMAPINFO = BITMAPINFO*;

using DRIVERPROC = LRESULT (*)(DWORD_PTR dwDriverId, HDRVR hdrvr, UINT uMsg, LPARAM lParam1, LPARAM lParam2);

// ---- Driver messages ---------------------------------------------------------

constexpr UINT DRV_LOAD = 0x0001;
constexpr UINT DRV_ENABLE = 0x0002;
constexpr UINT DRV_OPEN = 0x0003;
constexpr UINT DRV_CLOSE = 0x0004;
constexpr UINT DRV_DISABLE = 0x0005;
constexpr UINT DRV_FREE = 0x0006;
constexpr UINT DRV_CONFIGURE = 0x0007;
constexpr UINT DRV_QUERYCONFIGURE = 0x0008;
constexpr UINT DRV_INSTALL = 0x0009;
constexpr UINT DRV_REMOVE = 0x000A;
constexpr UINT DRV_USER = 0x4000;

constexpr LRESULT DRV_OK = 1;
constexpr LRESULT DRV_CANCEL = 0;

// ---- Types and modes ---------------------------------------------------------

constexpr FOURCC ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');
constexpr FOURCC ICTYPE_AUDIO = mmioFOURCC('a', 'u', 'd', 'c');

constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;
constexpr UINT ICMODE_FASTCOMPRESS = 5;
constexpr UINT ICMODE_DRAW = 8;

// ---- Codec messages ----------------------------------------------------------

constexpr UINT ICM_USER = DRV_USER + 0x0000;
constexpr UINT ICM_RESERVED_LOW = DRV_USER + 0x1000;
constexpr UINT ICM_RESERVED_HIGH = DRV_USER + 0x2000;
constexpr UINT ICM_RESERVED = ICM_RESERVED_LOW;

constexpr UINT ICM_GETSTATE = ICM_RESERVED + 0;
constexpr UINT ICM_SETSTATE = ICM_RESERVED + 1;
constexpr UINT ICM_GETINFO = ICM_RESERVED + 2;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED + 10;
constexpr UINT ICM_ABOUT = ICM_RESERVED + 11;
constexpr UINT ICM_GETERRORTEXT = ICM_RESERVED + 12;
constexpr UINT ICM_GETFORMATNAME = ICM_RESERVED + 20;
constexpr UINT ICM_ENUMFORMATS = ICM_RESERVED + 21;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED + 30;
constexpr UINT ICM_GETQUALITY = ICM_RESERVED + 31;
constexpr UINT ICM_SETQUALITY = ICM_RESERVED + 32;
constexpr UINT ICM_SET = ICM_RESERVED + 40;
constexpr UINT ICM_GET = ICM_RESERVED + 41;

constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr UINT ICM_COMPRESS = ICM_USER + 8;
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;

constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10;
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;
constexpr UINT ICM_DECOMPRESS_SET_PALETTE = ICM_USER + 29;
constexpr UINT ICM_DECOMPRESS_GET_PALETTE = ICM_USER + 30;

constexpr UINT ICM_DRAW_QUERY = ICM_USER + 31;
constexpr UINT ICM_DRAW_BEGIN = ICM_USER + 15;
constexpr UINT ICM_DRAW_GET_PALETTE = ICM_USER + 16;
constexpr UINT ICM_DRAW_UPDATE = ICM_USER + 17;
constexpr UINT ICM_DRAW_START = ICM_USER + 18;
constexpr UINT ICM_DRAW_STOP = ICM_USER + 19;
constexpr UINT ICM_DRAW_BITS = ICM_USER + 20;
constexpr UINT ICM_DRAW_END = ICM_USER + 21;
constexpr UINT ICM_DRAW_GETTIME = ICM_USER + 32;
constexpr UINT ICM_DRAW = ICM_USER + 33;
constexpr UINT ICM_DRAW_WINDOW = ICM_USER + 34;
constexpr UINT ICM_DRAW_SETTIME = ICM_USER + 35;
constexpr UINT ICM_DRAW_REALIZE = ICM_USER + 36;
constexpr UINT ICM_DRAW_FLUSH = ICM_USER + 37;
constexpr UINT ICM_DRAW_RENDERBUFFER = ICM_USER + 38;
constexpr UINT ICM_DRAW_START_PLAY = ICM_USER + 39;
constexpr UINT ICM_DRAW_STOP_PLAY = ICM_USER + 40;
constexpr UINT ICM_DRAW_SUGGESTFORMAT = ICM_USER + 50;
constexpr UINT ICM_DRAW_CHANGEPALETTE = ICM_USER + 51;
constexpr UINT ICM_DRAW_IDLE = ICM_USER + 52;

constexpr UINT ICM_GETBUFFERSWANTED = ICM_USER + 41;
constexpr UINT ICM_GETDEFAULTKEYFRAMERATE = ICM_USER + 42;

constexpr UINT ICM_DECOMPRESSEX_BEGIN = ICM_USER + 60;
constexpr UINT ICM_DECOMPRESSEX_QUERY = ICM_USER + 61;
constexpr UINT ICM_DECOMPRESSEX = ICM_USER + 62;
constexpr UINT ICM_DECOMPRESSEX_END = ICM_USER + 63;

constexpr UINT ICM_COMPRESS_FRAMES_INFO = ICM_USER + 70;
constexpr UINT ICM_COMPRESS_FRAMES = ICM_USER + 71;
constexpr UINT ICM_SET_STATUS_PROC = ICM_USER + 72;

// Ours, not published: see "Decoders with a reorder delay" above.
constexpr UINT ICM_DECOMPRESS_GET_DELAY = ICM_USER + 200;
constexpr UINT ICM_DECOMPRESS_FLUSH = ICM_USER + 201;

// ---- Results -------------------------------------------------------------------

constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_DONTDRAW = 1;
constexpr LRESULT ICERR_NEWPALETTE = 2;
constexpr LRESULT ICERR_GOTOKEYFRAME = 3;
constexpr LRESULT ICERR_STOPDRAWING = 4;

constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_CANTUPDATE = -9;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;
constexpr LRESULT ICERR_BADBITDEPTH = -200;
constexpr LRESULT ICERR_BADIMAGESIZE = -201;
constexpr LRESULT ICERR_CUSTOM = -400;

// ---- Flags ---------------------------------------------------------------------

constexpr DWORD ICDECOMPRESS_HURRYUP = 0x80000000;
constexpr DWORD ICDECOMPRESS_UPDATE = 0x40000000;
constexpr DWORD ICDECOMPRESS_PREROLL = 0x20000000;
constexpr DWORD ICDECOMPRESS_NULLFRAME = 0x10000000;
constexpr DWORD ICDECOMPRESS_NOTKEYFRAME = 0x08000000;
// Ours, not published: a 0-byte frame past the end of the stream that asks a
// decoder with a reorder delay for its next held-back picture.
constexpr DWORD ICDECOMPRESS_ENDOFSTREAM = 0x01000000;

constexpr DWORD ICDRAW_QUERY = 0x00000001;
constexpr DWORD ICDRAW_FULLSCREEN = 0x00000002;
constexpr DWORD ICDRAW_HDC = 0x00000004;
constexpr DWORD ICDRAW_ANIMATE = 0x00000008;
constexpr DWORD ICDRAW_CONTINUE = 0x00000010;
constexpr DWORD ICDRAW_MEMORYDC = 0x00000020;
constexpr DWORD ICDRAW_UPDATING = 0x00000040;
constexpr DWORD ICDRAW_RENDER = 0x00000080;
constexpr DWORD ICDRAW_BUFFER = 0x00000100;

constexpr DWORD ICDRAW_HURRYUP = 0x80000000;
constexpr DWORD ICDRAW_UPDATE = 0x40000000;
constexpr DWORD ICDRAW_PREROLL = 0x20000000;
constexpr DWORD ICDRAW_NULLFRAME = 0x10000000;
constexpr DWORD ICDRAW_NOTKEYFRAME = 0x08000000;

// ICINFO::dwFlags
constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;
constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;
constexpr DWORD VIDCF_FASTTEMPORALD = 0x0080;

constexpr DWORD ICVERSION = 0x0104;

// ICInstall / ICRemove
constexpr UINT ICINSTALL_UNICODE = 0x8000;
constexpr UINT ICINSTALL_FUNCTION = 0x0001;
constexpr UINT ICINSTALL_DRIVER = 0x0002;
constexpr UINT ICINSTALL_HDRV = 0x0004;
constexpr UINT ICINSTALL_DRIVERW = 0x8002;

// ---- Records -------------------------------------------------------------------

// Handed to DRV_OPEN in lParam2. dwFlags holds the ICMODE_* of the open.
struct ICOPEN {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwVersion;
    DWORD dwFlags;
    LRESULT dwError;
    LPVOID pV1Reserved;
    LPVOID pV2Reserved;
    DWORD dnDevNode;
};

// Answer to ICM_GETINFO (lParam1 = ICINFO*, lParam2 = its size); the driver
// returns the number of bytes written, 0 on failure.
struct ICINFO {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    WCHAR szName[16];
    WCHAR szDescription[128];
    WCHAR szDriver[128];
};
static_assert(sizeof(ICINFO) == 568, "ICINFO keeps its published size");

// ICM_DECOMPRESS: lParam1 = ICDECOMPRESS*, lParam2 = sizeof(ICDECOMPRESS).
struct ICDECOMPRESS {
    DWORD dwFlags;
    LPBITMAPINFOHEADER lpbiInput;
    LPVOID lpInput;
    LPBITMAPINFOHEADER lpbiOutput;
    LPVOID lpOutput;
    DWORD ckid;
};

// ICM_DECOMPRESSEX_QUERY / _BEGIN / ICM_DECOMPRESSEX: lParam1 = ICDECOMPRESSEX*,
// lParam2 = sizeof(ICDECOMPRESSEX) (72 here; 52 in the 32-bit layout).
// lpSrc and lpDst are null for the query and the begin. The destination
// rectangle (xDst, yDst, dxDst, dyDst) lies inside the frame lpbiDst
// describes; for a bottom-up destination yDst counts rows from its bottom
// row. The source rectangle is in the source frame, counted from its top.
struct ICDECOMPRESSEX {
    DWORD dwFlags;
    LPBITMAPINFOHEADER lpbiSrc;
    LPVOID lpSrc;
    LPBITMAPINFOHEADER lpbiDst;
    LPVOID lpDst;
    INT xDst;
    INT yDst;
    INT dxDst;
    INT dyDst;
    INT xSrc;
    INT ySrc;
    INT dxSrc;
    INT dySrc;
};
static_assert(sizeof(void*) != 8 || sizeof(ICDECOMPRESSEX) == 72, "64-bit ICDECOMPRESSEX layout");
static_assert(offsetof(ICDECOMPRESSEX, xDst) == 5 * sizeof(void*), "pointers follow the padded dwFlags");

// ICM_DRAW_BEGIN: lParam1 = ICDRAWBEGIN*, lParam2 = sizeof(ICDRAWBEGIN).
struct ICDRAWBEGIN {
    DWORD dwFlags;
    HPALETTE hpal;
    HWND hwnd;
    HDC hdc;
    INT xDst;
    INT yDst;
    INT dxDst;
    INT dyDst;
    LPBITMAPINFOHEADER lpbi;
    INT xSrc;
    INT ySrc;
    INT dxSrc;
    INT dySrc;
    DWORD dwRate;
    DWORD dwScale;
};

// ICM_DRAW: lParam1 = ICDRAW*, lParam2 = sizeof(ICDRAW).
struct ICDRAW {
    DWORD dwFlags;
    LPVOID lpFormat;
    LPVOID lpData;
    DWORD cbData;
    LONG lTime;
};

// ---- Registry and instances ------------------------------------------------------

// Registers a driver. With ICINSTALL_FUNCTION, lParam is a DRIVERPROC; other
// kinds are not supported here (FALSE). Fails (FALSE) for a null procedure or
// when the same procedure is already registered for this type and handler.
// szDesc may be null. Any thread.
BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM lParam, const char* szDesc, UINT wFlags);

// Removes the function driver registered for this type and handler (the
// handler compared without regard to case). Open instances keep working and
// the driver gets DRV_FREE after the last one closes. FALSE when none matched.
BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT wFlags);

// Enumerates the drivers: with fccHandler < 256 it is the index of the
// driver of that type (0, 1, ...); otherwise the driver with that handler.
// Fills fccType, fccHandler and szDescription/szDriver of lpicinfo; FALSE
// when there is no such driver.
BOOL ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo);

// Opens an instance of the driver for this type and handler (case-insensitive),
// null when there is none or it refuses the open.
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);

// Opens an instance of the driver whose procedure is lpfnHandler, whether or
// not it is registered; for tests and for drivers the program links in.
HIC ICOpenFunction(DWORD fccType, DWORD fccHandler, UINT wMode, DRIVERPROC lpfnHandler);

// See "Locating a decompressor" above. lpbiOut may be null. Null when no
// driver accepts.
HIC ICLocate(DWORD fccType, DWORD fccHandler, LPBITMAPINFOHEADER lpbiIn, LPBITMAPINFOHEADER lpbiOut,
             WORD wFlags);

// Sends a message to an instance and returns the driver's answer;
// ICERR_BADHANDLE for a null, closed or unknown handle.
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);

// Ends an instance (see Threads above). ICERR_OK, or ICERR_BADHANDLE.
LRESULT ICClose(HIC hic);

// ICM_GETINFO sent to the instance; the number of bytes written, 0 on failure.
LRESULT ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb);

// Sends ICM_DRAW_BEGIN with an ICDRAWBEGIN built from the arguments and
// returns the driver's answer.
DWORD ICDrawBegin(HIC hic, DWORD dwFlags, HPALETTE hpal, HWND hwnd, HDC hdc, INT xDst, INT yDst, INT dxDst,
                  INT dyDst, LPBITMAPINFO lpbi, INT xSrc, INT ySrc, INT dxSrc, INT dySrc, DWORD dwRate,
                  DWORD dwScale);

// The extended decompression messages, each filling an ICDECOMPRESSEX.
LRESULT ICDecompressExQuery(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, INT xSrc,
                            INT ySrc, INT dxSrc, INT dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst,
                            INT xDst, INT yDst, INT dxDst, INT dyDst);
LRESULT ICDecompressExBegin(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, INT xSrc,
                            INT ySrc, INT dxSrc, INT dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst,
                            INT xDst, INT yDst, INT dxDst, INT dyDst);
LRESULT ICDecompressEx(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, INT xSrc, INT ySrc,
                       INT dxSrc, INT dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst, INT xDst, INT yDst,
                       INT dxDst, INT dyDst);

// Loads one driver library (any file name) and registers it like the ones
// found in the codec folders; for tests and tools. Returns its handler, or 0
// when the file is not a driver or a library with that handler is loaded.
DWORD cadmoICInstallLibrary(const char* path);

// Compares two FourCCs ignoring the case of ASCII letters.
bool ICHandlerEqual(DWORD a, DWORD b);
