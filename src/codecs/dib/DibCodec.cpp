#include "codecs/dib/DibCodec.h"

#include <cstdlib>

namespace {

void SetName(WCHAR* out, const char* text) {
    while (*text)
        *out++ = static_cast<WCHAR>(*text++);
    *out = 0;
}

} // namespace

LRESULT DibCodec::CheckInput(const BITMAPINFOHEADER& in) {
    switch (in.biCompression) {
    case BI_RGB:
    case kDibHandler:
    case mmioFOURCC('R', 'G', 'B', ' '):
    case mmioFOURCC('r', 'a', 'w', ' '):
        break;
    default:
        return ICERR_BADFORMAT;
    }
    if (in.biBitCount != 16 && in.biBitCount != 24 && in.biBitCount != 32)
        return ICERR_BADFORMAT;
    // The same limits as an output frame of this size and depth.
    if (!FrameConverter::CanWriteFrame(in.biWidth, in.biHeight, in.biBitCount))
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

LRESULT DibCodec::Decode(const BITMAPINFOHEADER& in, const DecodeRequest& request) {
    if (request.flags & ICDECOMPRESS_HURRYUP)
        return ICERR_OK;
    if (request.dataSize == 0)
        return ICERR_DONTDRAW;
    const std::size_t rowBytes = DibRowBytes(in.biWidth, in.biBitCount);
    const LONG rows = static_cast<LONG>(std::llabs(in.biHeight));
    if (request.dataSize < rowBytes * static_cast<std::size_t>(rows))
        return ICERR_BADSIZE;
    PixelPicture picture;
    picture.width = in.biWidth;
    picture.height = rows;
    picture.layout = in.biBitCount == 16 ? SourceLayout::Rgb555
                                         : (in.biBitCount == 24 ? SourceLayout::Bgr24 : SourceLayout::Bgrx32);
    if (in.biHeight > 0) {
        picture.data = request.data + rowBytes * static_cast<std::size_t>(rows - 1);
        picture.stride = -static_cast<std::ptrdiff_t>(rowBytes);
    } else {
        picture.data = request.data;
        picture.stride = static_cast<std::ptrdiff_t>(rowBytes);
    }
    return Put(picture, request);
}

void DibCodec::Describe(ICINFO& info) {
    info.fccHandler = kDibHandler;
    SetName(info.szName, "DIB");
    SetName(info.szDescription, "Uncompressed RGB frames");
}
