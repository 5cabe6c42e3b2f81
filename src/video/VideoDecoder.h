// The movie's link to its video codec and its drawing pipeline.
//
// The decoder opens an installable decompressor for the stream (ICLocate),
// decodes with the extended decompression messages, and puts pixels on the
// target device context either by GDI (a DIB section in a memory DC, BitBlt or
// StretchBlt) or through DrawDib when GDI cannot show the decoded format. It
// keeps the picture's geometry (four rectangles), the output format, the 8-bit
// palette and, for the Tavro codec (qx47), a background image over which the
// frames are composited. The Tavro codec's private controls are a TavroControls
// that the decoder owns only while its codec is that codec (Tavro()).
//
// Calling order: Open; then drawing cycles, each BeginDraw (StartCodecClock
// when playing), any number of DrawFrame / DecodeWithoutDraw, StopCodecClock,
// EndDraw (also after a failed BeginDraw); Close or destruction last. Format and
// geometry changes happen between drawing cycles.
//
// Threads: no lock covers the decoder as a whole. While the movie plays,
// DrawFrame (or its halves, DecodeFrame and PresentFrame) and DecodeWithoutDraw
// run on the playback thread under playerLock;
// everything else runs on the window thread. The drag of the picture may call
// GetDecodeRect, QueryDecode, SetDecodeRect and GetUpdatedRect on the window
// thread while the playback thread draws: decodeRect and updatedRect are
// therefore exchanged as whole values under the decoder's rectLock, so a
// frame never sees half a move. The Tavro colour, scalability and access-key
// operations (TavroControls) may also run while playing. The TavroControls
// object itself is created by Open and destroyed by Close only.
#pragma once

#include <memory>
#include <mutex>

#include "platform/gdi/Gdi.h"
#include "platform/vfw/DrawDib.h"
#include "platform/vfw/Vfw.h"
#include "platform/win32/Types.h"

class DibImage;
class TavroControls;

// A rectangle stored as origin and extent.
struct VideoRect {
    LONG x = 0;
    LONG y = 0;
    LONG width = 0;
    LONG height = 0;

    RECT ToRect() const { return RECT{x, y, x + width, y + height}; }
    static VideoRect FromRect(const RECT& r) {
        return VideoRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
};

// A format block: a bitmap information header followed by room for a full
// 256-entry colour table (1064 bytes).
struct FormatBlock {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};
static_assert(sizeof(FormatBlock) == 1064);

// Bytes of a frame of `header`: bit count x ((width + 3) / 4) x height x 4 / 8,
// the width rounded up to a multiple of 4 pixels so every row is whole 32-bit
// words. Returns kNoFrameBytes when the header is not a usable size (negative
// extent or a result beyond 32 bits); callers refuse such formats.
constexpr LONG kNoFrameBytes = -1;
LONG FrameBytes(const BITMAPINFOHEADER& header);

// Process-wide: 1 while the current drawing cycle goes through DrawDib.
// Written only by VideoDecoder::BeginDraw.
extern LONG useDrawDib;

class VideoDecoder {
public:
    // The decoder's own answers. Its statuses are 0 for success and -1 for
    // its refusals (each named for what it refuses), or a code of the codec or
    // the library that it passes up. The codec controls answer 1 or 0.
    static constexpr LONG kOk = 0;
    static constexpr LONG kCannotDraw = -1;    // BeginDraw: no codec or no device context
    static constexpr LONG kNotBegun = -1;      // EndDraw: drawing had not begun
    static constexpr LONG kDoesNotFit = -1;    // QueryDecode: the rectangle or the background
    static constexpr LONG kFrameTooLarge = -1; // SetOutputFormat: no buffer can hold the frame
    static constexpr LONG kNotTavro = -1;      // GetUpdatedRect with another codec
    static constexpr LONG kAccepted = 1;
    static constexpr LONG kRefused = 0;

    VideoDecoder();
    ~VideoDecoder(); // Close
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // 0, or AVIERR_NOCOMPRESSOR when no codec decompresses the stream.
    // `colors` is the format's colour table of `colorCount` entries (at most
    // 256), null for a bare header; see Open in the .cpp for what reaches the
    // codec.
    LONG Open(FOURCC streamHandler, const BITMAPINFOHEADER& format, const RGBQUAD* colors = nullptr,
              DWORD colorCount = 0);
    // A palette change of the movie: the input's colour table from the next
    // frame on (count as at Open; ignored for a stream opened without a
    // table). While drawing 8-bit output, the codec's palette is read back
    // and the drawing surface's colour table follows it.
    void SetInputColors(const RGBQUAD* colors, DWORD count);
    LONG Close();
    // 0; kCannotDraw without codec or device context; else the codec's refusal.
    LONG BeginDraw(HDC dc, float framesPerSecond);
    // 0; kNotBegun when drawing had not begun.
    LONG EndDraw();
    LONG StartCodecClock(float framesPerSecond);
    LONG StopCodecClock();
    // `frameBytes` is the size of the compressed frame at `frameData`; the
    // codec learns it from the input header's biSizeImage.
    // 0; the codec's non-zero result; or the error of a failed blit.
    LONG DrawFrame(const void* frameData, DWORD frameBytes, DWORD flags);
    // DrawFrame in its two halves, so that a frame can be decoded ahead of
    // its time and shown when it is due: DecodeFrame leaves the picture in
    // the buffer that the device context is drawn from (a repaint meanwhile
    // shows it), PresentFrame puts the last picture decoded on the device
    // context. Their results are DrawFrame's.
    LONG DecodeFrame(const void* frameData, DWORD frameBytes, DWORD flags);
    LONG PresentFrame();
    // The codec's result; 0 when not drawing.
    LONG DecodeWithoutDraw(const void* frameData, DWORD frameBytes, DWORD flags);

    void GetSourceRect(RECT* r) const;
    void GetDecodeRect(RECT* r) const;
    void SetDecodeRect(const RECT& r);
    void SetWindowRect(const RECT& r);
    void GetViewRect(RECT* r) const;
    void GetInputFormat(BITMAPINFOHEADER* h) const;
    void GetOutputFormat(BITMAPINFOHEADER* h) const;

    // Display format: 0 when the codec can decode to `h` (null: the output
    // format) at the rectangle (0 in any value: the decode rectangle's value);
    // kDoesNotFit when the rectangle does not fit; kCannotDraw without a
    // codec; else the codec's answer.
    LONG QueryDecode(const BITMAPINFOHEADER* h, LONG x, LONG y, LONG width, LONG height);
    // Replaces the output header (ignored while a background is set); grows
    // the pixel buffer when the new frame is larger. 0, or kFrameTooLarge when
    // the header is refused because no buffer can hold its frame.
    LONG SetOutputFormat(const BITMAPINFOHEADER& h);

    // Codec control (any codec): kAccepted or kRefused.
    LONG SetPalette(const LOGPALETTE* palette);
    // Tavro only.
    LONG GetUpdatedRect(RECT* r) const;
    LONG SetBackground(std::unique_ptr<DibImage> image);
    LONG SetLineDoubling(INT mode);

    // The handler is the Tavro codec's (qx47).
    bool IsTavro() const;
    // The Tavro codec's controls (colours, time budget, access key): null
    // unless the decoder is open on the Tavro codec.
    TavroControls* Tavro() const { return tavro.get(); }

    // Codecs with a reorder delay (Vfw.h). UpdateReorderDelay asks the codec
    // again (after each frame fed: it learns the delay from the stream) and
    // keeps the largest answer, at most kMaxReorderDelay; codecs that do not
    // know the message leave it 0. FlushCodec starts a new run of frames.
    static constexpr LONG kMaxReorderDelay = 16;
    void UpdateReorderDelay();
    void FlushCodec();

    // Called when an allocation fails; it must not return (the player ends
    // the process with status 8 after telling the user). Without one the
    // process ends at once with status 8.
    using FatalErrorProc = void (*)(void* context, INT status);
    void SetFatalErrorHandler(FatalErrorProc proc, void* context) {
        fatalError = proc;
        fatalContext = context;
    }

    // --- fields, in their declared order ---
    HIC codec = nullptr;
    HDC targetDC = nullptr;
    HDRAWDIB drawDib = nullptr;
    FOURCC handler = 0;
    LONG drawing = 0;
    std::unique_ptr<FormatBlock> inputFormat;
    std::unique_ptr<FormatBlock> outputFormat;
    VideoRect sourceRect;
    VideoRect decodeRect; // exchanged under rectLock
    VideoRect windowRect;
    VideoRect viewRect;
    std::unique_ptr<TavroControls> tavro; // only while the codec is the Tavro codec
    VideoRect updatedRect;                // exchanged under rectLock
    std::unique_ptr<DibImage> compositeImage;
    std::unique_ptr<DibImage> background;
    HBITMAP dibSection = nullptr;
    void* dibBits = nullptr;
    HPALETTE palette = nullptr;
    DWORD pixelBufferSize = 0;
    std::unique_ptr<BYTE[]> pixelBuffer;
    HDC memoryDC = nullptr;
    HBITMAP savedBitmap = nullptr;
    HPALETTE savedPalette = nullptr;
    HPALETTE savedMemoryPalette = nullptr;
    // The frame scheduler's record of what the codec has been fed, reset
    // with every open: the reorder delay, the last chunk fed (-1: none), and
    // the frame where the codec's current run began (-1 when the scheduler
    // has not started one in the current step).
    LONG reorderDelay = 0;
    long long fedChunk = -1; // may pass the last frame by the delay
    LONG runStart = -1;

private:
    // The decode rectangle of the last picture DecodeFrame made.
    VideoRect presentRect;

    VideoRect DecodeRectSnapshot() const;
    // Grows or shrinks pixelBuffer to `bytes`, keeping its contents as far as
    // they fit; false (nothing changed) when the memory cannot be had.
    bool ResizePixelBuffer(DWORD bytes);
    [[noreturn]] void OutOfMemory();

    mutable std::mutex rectLock;
    FatalErrorProc fatalError = nullptr;
    void* fatalContext = nullptr;
};
