#include "video/VideoDecoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codecs/qx47/Qx47State.h"
#include "image/DibImage.h"
#include "pixel/DibRules.h"
#include "platform/avi/AviFile.h"
#include "video/TavroControls.h"

LONG useDrawDib = 0;

namespace {

// The logical palette of an 8-bit output format: its colour table.
void PaletteEntriesOf(const FormatBlock& format, PALETTEENTRY (&entries)[256]) {
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& c = format.colors[i];
        entries[i] = PALETTEENTRY{c.rgbRed, c.rgbGreen, c.rgbBlue, 0};
    }
}

constexpr FOURCC kUpperHandler = qx47::kStateFourcc; // 'QX47' as some streams name it

ICDECOMPRESSEX MakeRecord(DWORD flags, BITMAPINFOHEADER* src, void* srcBits, BITMAPINFOHEADER* dst,
                          void* dstBits, const VideoRect& d, const VideoRect& s) {
    ICDECOMPRESSEX r{};
    r.dwFlags = flags;
    r.lpbiSrc = src;
    r.lpSrc = srcBits;
    r.lpbiDst = dst;
    r.lpDst = dstBits;
    r.xDst = d.x;
    r.yDst = d.y;
    r.dxDst = d.width;
    r.dyDst = d.height;
    r.xSrc = s.x;
    r.ySrc = s.y;
    r.dxSrc = s.width;
    r.dySrc = s.height;
    return r;
}

LRESULT Send(HIC codec, UINT msg, const void* p1, DWORD_PTR p2) {
    return ICSendMessage(codec, msg, reinterpret_cast<DWORD_PTR>(p1), p2);
}

DWORD MicrosecondsPerFrame(float framesPerSecond) {
    if (!(framesPerSecond > 0.0f))
        return 0;
    const double us = 1000000.0 / framesPerSecond;
    return us >= 4294967295.0 ? 0xffffffffu : static_cast<DWORD>(us);
}

} // namespace

LONG FrameBytes(const BITMAPINFOHEADER& h) {
    // The 32-bit rule, evaluated in 64 bits so that a huge header is seen for
    // what it is instead of wrapping to a small (or negative) size.
    if (h.biWidth < 0)
        return kNoFrameBytes;
    const long long bytes = static_cast<long long>(h.biBitCount) *
                            ((static_cast<long long>(h.biWidth) + 3) / 4) * DibRows(h.biHeight) * 4 / 8;
    if (bytes > 0x7fffffffLL)
        return kNoFrameBytes;
    return static_cast<LONG>(bytes);
}

VideoDecoder::VideoDecoder() = default;

VideoDecoder::~VideoDecoder() {
    Close();
}

bool VideoDecoder::IsTavro() const {
    return handler == qx47::kHandler;
}

void VideoDecoder::OutOfMemory() {
    if (fatalError)
        fatalError(fatalContext, 8);
    std::_Exit(8);
}

bool VideoDecoder::ResizePixelBuffer(DWORD bytes) {
    std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[bytes ? bytes : 1]());
    if (!grown)
        return false;
    if (pixelBuffer)
        std::memcpy(grown.get(), pixelBuffer.get(), std::min(bytes, pixelBufferSize));
    pixelBuffer = std::move(grown);
    pixelBufferSize = bytes;
    return true;
}

VideoRect VideoDecoder::DecodeRectSnapshot() const {
    std::lock_guard<std::mutex> guard(rectLock);
    return decodeRect;
}

LONG VideoDecoder::Open(FOURCC streamHandler, const BITMAPINFOHEADER& format, const RGBQUAD* colors,
                        DWORD colorCount) {
    drawing = 0;
    if (codec)
        Close();
    reorderDelay = 0;
    fedChunk = -1;
    runStart = -1;
    drawDib = DrawDibOpen();
    dibSection = nullptr;
    handler = streamHandler ? streamHandler : format.biCompression;
    if (handler == kUpperHandler)
        handler = qx47::kHandler;

    // A format without a colour table reaches the codec as a bare 40-byte
    // header: a file may still claim a table (biClrUsed) or a longer header
    // (biSize), and drivers read that far, so the claims are cleared. A
    // format with a table (the movie checked that it is stored whole) goes
    // with it, biClrUsed saying how many entries follow, to the locate query
    // and to every later message: the format blocks have room for 256.
    inputFormat.reset(new (std::nothrow) FormatBlock());
    outputFormat.reset(new (std::nothrow) FormatBlock());
    if (!inputFormat || !outputFormat)
        OutOfMemory();
    if (colors == nullptr || colorCount > 256)
        colorCount = 0;
    BITMAPINFOHEADER in = format;
    in.biSize = sizeof(BITMAPINFOHEADER);
    in.biClrUsed = colorCount;
    in.biClrImportant = 0;
    inputFormat->header = in;
    if (colorCount)
        std::memcpy(inputFormat->colors, colors, colorCount * sizeof(RGBQUAD));
    codec = ICLocate(ICTYPE_VIDEO, streamHandler, &inputFormat->header, nullptr, ICMODE_DECOMPRESS);
    if (!codec) {
        inputFormat.reset();
        outputFormat.reset();
        return AVIERR_NOCOMPRESSOR;
    }
    ICSendMessage(codec, ICM_DECOMPRESS_SET_PALETTE, 0, 0);

    outputFormat->header = in;
    outputFormat->header.biClrUsed = 0;
    outputFormat->header.biBitCount = 8;
    outputFormat->header.biCompression = BI_RGB;
    outputFormat->header.biSizeImage = 0;

    const VideoRect full{0, 0, format.biWidth, static_cast<LONG>(DibRows(format.biHeight))};
    sourceRect = full;
    {
        std::lock_guard<std::mutex> guard(rectLock);
        decodeRect = full;
        updatedRect = VideoRect{};
    }
    windowRect = full;
    viewRect = full;

    if (IsTavro()) {
        tavro.reset(new (std::nothrow) TavroControls(codec));
        if (!tavro)
            OutOfMemory();
        tavro->InitCodecState();
    }

    // The hidden buffer receives whole output frames, so it must hold the
    // 8-bit output too (a 1- or 4-bit input frame is smaller than that).
    const LONG inBytes = FrameBytes(inputFormat->header);
    const LONG outBytes = FrameBytes(outputFormat->header);
    if (inBytes < 0 || outBytes < 0) {
        Close();
        return AVIERR_BADFORMAT;
    }
    if (!ResizePixelBuffer(static_cast<DWORD>(std::max(inBytes, outBytes))))
        OutOfMemory();
    return kOk;
}

LONG VideoDecoder::Close() {
    inputFormat.reset();
    outputFormat.reset();
    pixelBuffer.reset();
    pixelBufferSize = 0;
    if (drawDib) {
        DrawDibClose(drawDib);
        drawDib = nullptr;
    }
    if (codec) {
        ICClose(codec);
        codec = nullptr;
    }
    tavro.reset(); // the codec that wrote into it has ended
    compositeImage.reset();
    background.reset();
    handler = 0;
    return kOk;
}

LONG VideoDecoder::BeginDraw(HDC dc, float framesPerSecond) {
    if (!codec || !dc)
        return kCannotDraw;
    targetDC = dc;
    memoryDC = CreateCompatibleDC(dc);
    BITMAPINFOHEADER& out = outputFormat->header;

    if (background && background->Info()) {
        const BITMAPINFOHEADER& bg = background->Info()->bmiHeader;
        const LONG bytes = FrameBytes(bg);
        // The whole background goes into the drawing buffer: without room for
        // it nothing can be drawn, so the begin fails (the caller ends it).
        if (bytes < 0 || !ResizePixelBuffer(static_cast<DWORD>(bytes)))
            return ICERR_MEMORY;
        // The frame takes the background's size and depth, but the colour
        // table stays the output's own (the codec's palette, read back
        // below), and so does the count of its colours: a bitmap that
        // declares fewer than 256 would otherwise cut the DIB section's table
        // short and turn most of the codec's colours black.
        const DWORD colors = out.biClrUsed, important = out.biClrImportant;
        out = bg;
        out.biClrUsed = colors;
        out.biClrImportant = important;
    }

    const VideoRect d = DecodeRectSnapshot();
    ICDECOMPRESSEX rec = MakeRecord(0, &inputFormat->header, nullptr, &out, nullptr, d, sourceRect);
    if (LRESULT r = Send(codec, ICM_DECOMPRESSEX_QUERY, &rec, sizeof rec); r != ICERR_OK)
        return static_cast<LONG>(r);

    useDrawDib = 0;
    const int displayBits = GetDeviceCaps(dc, BITSPIXEL);
    if (displayBits == 8 && out.biBitCount > 8)
        useDrawDib = 1;

    rec = MakeRecord(0, &inputFormat->header, nullptr, &out, nullptr, d, sourceRect);
    if (LRESULT r = Send(codec, ICM_DECOMPRESSEX_BEGIN, &rec, sizeof rec); r != ICERR_OK)
        return static_cast<LONG>(r);

    savedPalette = nullptr;
    savedMemoryPalette = nullptr;
    palette = nullptr;
    if (displayBits == 8 || out.biBitCount == 8) {
        Send(codec, ICM_DECOMPRESS_GET_PALETTE, &inputFormat->header,
             reinterpret_cast<DWORD_PTR>(outputFormat.get()));
        struct {
            WORD palVersion;
            WORD palNumEntries;
            PALETTEENTRY entries[256];
        } logical{};
        logical.palVersion = 0x300;
        logical.palNumEntries = 256;
        PaletteEntriesOf(*outputFormat, logical.entries);
        palette = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&logical));
        if (useDrawDib) {
            DrawDibSetPalette(drawDib, palette);
            DrawDibRealize(drawDib, dc, FALSE);
        } else if (palette) {
            savedPalette = SelectPalette(dc, palette, FALSE);
            RealizePalette(dc);
            savedMemoryPalette = SelectPalette(memoryDC, palette, FALSE);
        }
    }

    dibSection = CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(outputFormat.get()), DIB_RGB_COLORS,
                                  &dibBits, nullptr, 0);
    if (!dibSection || !dibBits)
        useDrawDib = 1;
    if (dibSection)
        savedBitmap = static_cast<HBITMAP>(SelectObject(memoryDC, dibSection));

    if (useDrawDib && pixelBufferSize < static_cast<DWORD>(std::max<LONG>(FrameBytes(out), 0))) {
        // DrawDib draws from the pixel buffer; it must hold a whole frame.
        if (!ResizePixelBuffer(static_cast<DWORD>(FrameBytes(out))))
            return ICERR_MEMORY;
    }

    if (background) {
        compositeImage.reset(new (std::nothrow) DibImage());
        if (!compositeImage)
            OutOfMemory();
        void* target = useDrawDib ? static_cast<void*>(pixelBuffer.get()) : dibBits;
        if (!compositeImage->Attach(&out, target))
            OutOfMemory();
        background->MatchPalette(palette);
        background->CopyTo(compositeImage.get(), 0, 0, viewRect.width, viewRect.height, 0, 0);
    }

    if (useDrawDib) {
        DrawDibBegin(drawDib, nullptr, windowRect.width, windowRect.height, &out, d.width, d.height, 0);
        DrawDibStart(drawDib, MicrosecondsPerFrame(framesPerSecond));
    }
    SetStretchBltMode(dc, COLORONCOLOR);
    drawing = 1;
    return kOk;
}

LONG VideoDecoder::EndDraw() {
    drawing = 0;
    if (!targetDC)
        return kNotBegun;
    compositeImage.reset();
    if (useDrawDib) {
        DrawDibStop(drawDib);
        DrawDibEnd(drawDib);
    }
    if (savedPalette)
        SelectPalette(targetDC, savedPalette, FALSE);
    if (savedMemoryPalette && memoryDC)
        SelectPalette(memoryDC, savedMemoryPalette, FALSE);
    savedPalette = nullptr;
    savedMemoryPalette = nullptr;
    if (savedBitmap && memoryDC)
        SelectObject(memoryDC, savedBitmap);
    if (memoryDC)
        DeleteDC(memoryDC);
    if (dibSection)
        DeleteObject(dibSection);
    memoryDC = nullptr;
    savedBitmap = nullptr;
    dibSection = nullptr;
    dibBits = nullptr;
    if (palette) {
        DeleteObject(palette);
        palette = nullptr;
    }
    targetDC = nullptr;
    return kOk;
}

LONG VideoDecoder::StartCodecClock(float framesPerSecond) {
    ICDrawBegin(codec, 0, nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr, 0, 0, 0, 0,
                MicrosecondsPerFrame(framesPerSecond), 1000000);
    ICSendMessage(codec, ICM_DRAW_START, 0, 0);
    return kOk;
}

LONG VideoDecoder::StopCodecClock() {
    ICSendMessage(codec, ICM_DRAW_STOP, 0, 0);
    ICSendMessage(codec, ICM_DRAW_END, 0, 0);
    return kOk;
}

LONG VideoDecoder::DrawFrame(const void* frameData, DWORD frameBytes, DWORD flags) {
    const LONG r = DecodeFrame(frameData, frameBytes, flags);
    return r != kOk ? r : PresentFrame();
}

LONG VideoDecoder::DecodeFrame(const void* frameData, DWORD frameBytes, DWORD flags) {
    if (!drawing)
        return kOk;
    BITMAPINFOHEADER& out = outputFormat->header;
    void* buffer = useDrawDib ? static_cast<void*>(pixelBuffer.get()) : dibBits;
    if (!buffer || (useDrawDib && pixelBufferSize < static_cast<DWORD>(std::max<LONG>(FrameBytes(out), 0))))
        return ICERR_MEMORY;

    if (background && compositeImage) {
        VideoRect u;
        {
            std::lock_guard<std::mutex> guard(rectLock);
            u = updatedRect;
        }
        background->CopyTo(compositeImage.get(), u.x, u.y, u.width, u.height, u.x, u.y);
    }

    const VideoRect d = DecodeRectSnapshot();
    if (d.height <= 0 || d.width <= 0)
        return ICERR_BADPARAM;
    // Destination rows count from the bottom of the bottom-up output frame.
    VideoRect dst = d;
    dst.y = viewRect.height - (windowRect.height / d.height) * d.height - d.y;
    // The frame's byte count travels in a copy of the input format: the drag
    // may show the shared header to the codec from the window thread meanwhile.
    FormatBlock src = *inputFormat;
    src.header.biSizeImage = frameBytes;
    ICDECOMPRESSEX rec =
        MakeRecord(flags, &src.header, const_cast<void*>(frameData), &out, buffer, dst, sourceRect);
    if (LRESULT r = Send(codec, ICM_DECOMPRESSEX, &rec, sizeof rec); r != ICERR_OK)
        return static_cast<LONG>(r);

    if (background && tavro) {
        const TavroControls::Area& b = tavro->codecBounds;
        std::lock_guard<std::mutex> guard(rectLock);
        updatedRect = VideoRect{b.x + d.x, b.y + d.y, b.width, b.height};
    }
    // The picture is shown with the rectangle it was decoded for, even when
    // a drag moves the rectangle before it is shown.
    presentRect = d;
    return kOk;
}

LONG VideoDecoder::PresentFrame() {
    if (!drawing)
        return kOk;
    BITMAPINFOHEADER& out = outputFormat->header;
    const VideoRect& d = presentRect;
    if (useDrawDib) {
        DrawDibDraw(drawDib, targetDC, windowRect.x, windowRect.y, windowRect.width, windowRect.height, &out,
                    pixelBuffer.get(), d.x, d.y, d.width, d.height, 0);
        return kOk;
    }
    BOOL ok;
    if (windowRect.width == d.width && windowRect.height == d.height)
        ok = BitBlt(targetDC, viewRect.x, viewRect.y, viewRect.width, viewRect.height, memoryDC, 0, 0,
                    SRCCOPY);
    else
        ok = StretchBlt(targetDC, windowRect.x, windowRect.y, windowRect.width, windowRect.height, memoryDC,
                        d.x, d.y, d.width, d.height, SRCCOPY);
    if (!ok)
        return static_cast<LONG>(GetLastError());
    GdiFlush();
    return kOk;
}

LONG VideoDecoder::DecodeWithoutDraw(const void* frameData, DWORD frameBytes, DWORD flags) {
    if (!drawing)
        return kOk;
    BITMAPINFOHEADER& out = outputFormat->header;
    // The buffer that the current path does not show, so the picture on
    // screen is never disturbed by a catch-up decode.
    void* hidden = useDrawDib ? dibBits : static_cast<void*>(pixelBuffer.get());
    if (!hidden && !background)
        hidden = pixelBuffer.get(); // no DIB section: DrawDib redraws from here anyway
    if (!hidden || (hidden == pixelBuffer.get() &&
                    pixelBufferSize < static_cast<DWORD>(std::max<LONG>(FrameBytes(out), 0))))
        return ICERR_MEMORY;
    // The whole source to the top-left corner, kept inside the output frame.
    const VideoRect whole{0, 0, std::min(sourceRect.width, out.biWidth),
                          std::min(sourceRect.height, static_cast<LONG>(DibRows(out.biHeight)))};
    FormatBlock src = *inputFormat;
    src.header.biSizeImage = frameBytes;
    ICDECOMPRESSEX rec = MakeRecord(flags, &src.header, const_cast<void*>(frameData), &out, hidden, whole,
                                    VideoRect{0, 0, sourceRect.width, sourceRect.height});
    return static_cast<LONG>(Send(codec, ICM_DECOMPRESSEX, &rec, sizeof rec));
}

void VideoDecoder::SetInputColors(const RGBQUAD* colors, DWORD count) {
    if (!inputFormat || count == 0 || count != inputFormat->header.biClrUsed)
        return;
    std::memcpy(inputFormat->colors, colors, count * sizeof(RGBQUAD));
    if (!drawing || !palette)
        return;
    // The codec answers the palette of 8-bit output for this input; the
    // pixels it writes from now on index that palette.
    Send(codec, ICM_DECOMPRESS_GET_PALETTE, &inputFormat->header,
         reinterpret_cast<DWORD_PTR>(outputFormat.get()));
    PALETTEENTRY entries[256];
    PaletteEntriesOf(*outputFormat, entries);
    SetPaletteEntries(palette, 0, 256, entries);
    if (dibSection && memoryDC)
        SetDIBColorTable(memoryDC, 0, 256, outputFormat->colors);
    if (useDrawDib) {
        DrawDibSetPalette(drawDib, palette);
        DrawDibRealize(drawDib, targetDC, FALSE);
    } else if (targetDC) {
        RealizePalette(targetDC);
    }
}

void VideoDecoder::UpdateReorderDelay() {
    if (!codec)
        return;
    const LRESULT answer = ICSendMessage(codec, ICM_DECOMPRESS_GET_DELAY, 0, 0);
    if (answer > reorderDelay)
        reorderDelay = static_cast<LONG>(std::min<LRESULT>(answer, kMaxReorderDelay));
}

void VideoDecoder::FlushCodec() {
    if (codec)
        ICSendMessage(codec, ICM_DECOMPRESS_FLUSH, 0, 0);
}

void VideoDecoder::GetSourceRect(RECT* r) const {
    *r = sourceRect.ToRect();
}

void VideoDecoder::GetDecodeRect(RECT* r) const {
    *r = DecodeRectSnapshot().ToRect();
}

void VideoDecoder::SetDecodeRect(const RECT& r) {
    std::lock_guard<std::mutex> guard(rectLock);
    decodeRect = VideoRect::FromRect(r);
}

void VideoDecoder::SetWindowRect(const RECT& r) {
    windowRect = VideoRect::FromRect(r);
    if (!background)
        viewRect = windowRect;
}

void VideoDecoder::GetViewRect(RECT* r) const {
    *r = viewRect.ToRect();
}

void VideoDecoder::GetInputFormat(BITMAPINFOHEADER* h) const {
    if (inputFormat)
        *h = inputFormat->header;
}

void VideoDecoder::GetOutputFormat(BITMAPINFOHEADER* h) const {
    if (outputFormat)
        *h = outputFormat->header;
}

LONG VideoDecoder::QueryDecode(const BITMAPINFOHEADER* h, LONG x, LONG y, LONG width, LONG height) {
    if (!codec || !outputFormat)
        return kCannotDraw;
    const VideoRect d = DecodeRectSnapshot();
    if (x == 0)
        x = d.x;
    if (y == 0)
        y = d.y;
    if (width == 0)
        width = d.width;
    if (height == 0)
        height = d.height;
    BITMAPINFOHEADER header = h ? *h : outputFormat->header;
    if (x < 0 || y < 0 || static_cast<long long>(x) + width > header.biWidth ||
        static_cast<long long>(y) + height > header.biHeight)
        return kDoesNotFit;
    ICDECOMPRESSEX rec = MakeRecord(0, &inputFormat->header, nullptr, &header, nullptr,
                                    VideoRect{x, y, width, height}, sourceRect);
    if (LRESULT r = Send(codec, ICM_DECOMPRESSEX_QUERY, &rec, sizeof rec); r != ICERR_OK)
        return static_cast<LONG>(r);
    if (background && (viewRect.width < header.biWidth || viewRect.height < header.biHeight))
        return kDoesNotFit;
    return kOk;
}

LONG VideoDecoder::SetOutputFormat(const BITMAPINFOHEADER& h) {
    if (background || !outputFormat)
        return kOk;
    // Sized by the frame the header describes, not by its biSizeImage, which
    // a caller may leave 0 or understate: no decode may outgrow the buffer.
    const LONG bytes = FrameBytes(h);
    if (bytes < 0)
        return kFrameTooLarge;
    if (static_cast<DWORD>(bytes) > pixelBufferSize && !ResizePixelBuffer(static_cast<DWORD>(bytes)))
        return kFrameTooLarge;
    outputFormat->header = h;
    return kOk;
}
