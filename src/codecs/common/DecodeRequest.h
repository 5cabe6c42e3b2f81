// The checks every decompressor makes on an ICDECOMPRESSEX (or ICDECOMPRESS)
// before it touches memory, and the FrameTarget they lead to.
//
// What every built-in driver accepts: an output frame of 8, 16 (RGB 5-5-5),
// 24 or 32 bits, BI_RGB, bottom-up or top-down; a source rectangle inside the
// source picture; a destination rectangle of the same size lying wholly
// inside the output frame. Any other size is refused, so the caller stretches
// a native-size picture itself. Only the record layout of Vfw.h is used here,
// not the registry.
#pragma once

#include "pixel/PixelFormat.h"
#include "platform/vfw/Vfw.h"

class DecodeRequest {
public:
    FrameTarget target;
    int xSrc = 0; // source rectangle, from the top of the source picture
    int ySrc = 0;
    int width = 0; // of both rectangles
    int height = 0;
    DWORD flags = 0;
    const BYTE* data = nullptr; // the compressed frame; null for a query or begin
    DWORD dataSize = 0;         // lpbiSrc->biSizeImage at the time of the message

    // Checks only the output part: null is accepted (a query about the input
    // alone), else the bit count, compression and size rules above.
    static LRESULT CheckOutputFormat(const BITMAPINFOHEADER* out);

    // Checks an extended request against a source picture of srcWidth x
    // srcHeight. `cb` is the message's lParam2. With `needBuffers` (the
    // decode message itself) the source data and destination memory must be
    // given; the query and the begin pass none. With no destination header
    // (a query about the input alone) the result is ICERR_OK with an empty
    // target. ICERR_OK or the reason for refusing.
    static LRESULT FromDecompressEx(const ICDECOMPRESSEX* ic, LPARAM cb, LONG srcWidth, LONG srcHeight,
                                    bool needBuffers, DecodeRequest* out);

    // The plain message: the whole source picture to the whole output frame,
    // which must therefore have the source's size.
    static LRESULT FromDecompress(const ICDECOMPRESS* ic, LPARAM cb, LONG srcWidth, LONG srcHeight,
                                  DecodeRequest* out);
};
