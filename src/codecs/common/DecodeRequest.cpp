#include "codecs/common/DecodeRequest.h"

#include "pixel/FrameConverter.h"

#include <cstdlib>

LRESULT DecodeRequest::CheckOutputFormat(const BITMAPINFOHEADER* out) {
    if (out == nullptr)
        return ICERR_OK;
    if (out->biCompression != BI_RGB)
        return ICERR_BADFORMAT;
    if (!CanWriteFrame(out->biWidth, out->biHeight, out->biBitCount))
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

LRESULT DecodeRequest::FromDecompressEx(const ICDECOMPRESSEX* ic, LPARAM cb, LONG srcWidth, LONG srcHeight,
                                        bool needBuffers, DecodeRequest* out) {
    if (ic == nullptr || out == nullptr || cb < static_cast<LPARAM>(sizeof(ICDECOMPRESSEX)))
        return ICERR_BADSIZE;
    if (ic->lpbiSrc == nullptr)
        return ICERR_BADPARAM;
    *out = DecodeRequest{};
    if (ic->lpbiDst == nullptr)
        return needBuffers ? ICERR_BADPARAM : ICERR_OK;
    if (LRESULT r = CheckOutputFormat(ic->lpbiDst); r != ICERR_OK)
        return r;
    // Rectangles: the source inside the picture, the destination inside the
    // frame, and both the same size. Sums in 64 bits so that hostile values
    // cannot wrap around into range.
    if (ic->xSrc < 0 || ic->ySrc < 0 || ic->dxSrc <= 0 || ic->dySrc <= 0 ||
        static_cast<std::int64_t>(ic->xSrc) + ic->dxSrc > srcWidth ||
        static_cast<std::int64_t>(ic->ySrc) + ic->dySrc > DibRows(srcHeight))
        return ICERR_BADPARAM;
    if (ic->dxDst != ic->dxSrc || ic->dyDst != ic->dySrc)
        return ICERR_BADSIZE;
    FrameTarget target;
    target.bits = static_cast<std::uint8_t*>(ic->lpDst);
    target.frameWidth = ic->lpbiDst->biWidth;
    target.frameHeight = ic->lpbiDst->biHeight;
    target.bitCount = ic->lpbiDst->biBitCount;
    target.x = ic->xDst;
    target.y = ic->yDst;
    if (!FrameConverter::FitsInFrame(target, ic->dxDst, ic->dyDst))
        return ICERR_BADPARAM;
    if (needBuffers && (ic->lpDst == nullptr || ic->lpSrc == nullptr))
        return ICERR_BADPARAM;
    out->target = target;
    out->xSrc = ic->xSrc;
    out->ySrc = ic->ySrc;
    out->width = ic->dxSrc;
    out->height = ic->dySrc;
    out->flags = ic->dwFlags;
    out->data = static_cast<const BYTE*>(ic->lpSrc);
    out->dataSize = ic->lpbiSrc->biSizeImage;
    return ICERR_OK;
}

LRESULT DecodeRequest::FromDecompress(const ICDECOMPRESS* ic, LPARAM cb, LONG srcWidth, LONG srcHeight,
                                      DecodeRequest* out) {
    if (ic == nullptr || out == nullptr || cb < static_cast<LPARAM>(sizeof(ICDECOMPRESS)))
        return ICERR_BADSIZE;
    if (ic->lpbiInput == nullptr || ic->lpbiOutput == nullptr)
        return ICERR_BADPARAM;
    if (ic->lpbiOutput->biWidth != srcWidth || DibRows(ic->lpbiOutput->biHeight) != DibRows(srcHeight))
        return ICERR_BADSIZE;
    ICDECOMPRESSEX ex{};
    ex.dwFlags = ic->dwFlags;
    ex.lpbiSrc = ic->lpbiInput;
    ex.lpSrc = ic->lpInput;
    ex.lpbiDst = ic->lpbiOutput;
    ex.lpDst = ic->lpOutput;
    ex.dxDst = ex.dxSrc = srcWidth;
    ex.dyDst = ex.dySrc = static_cast<INT>(DibRows(srcHeight));
    return FromDecompressEx(&ex, sizeof ex, srcWidth, srcHeight, true, out);
}
