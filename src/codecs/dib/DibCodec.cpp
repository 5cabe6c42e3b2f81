#include "codecs/dib/DibCodec.h"

#include <cstdlib>
#include <cstring>
#include <new>

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
    switch (in.biBitCount) {
    case 1:
    case 4:
    case 8: {
        const RGBQUAD* colors = nullptr;
        if (InputColors(in, &colors) == 0)
            return ICERR_BADFORMAT;
        break;
    }
    case 16:
    case 24:
    case 32:
        break;
    default:
        return ICERR_BADFORMAT;
    }
    // The same limits as an output frame of this size and depth (palettised
    // frames are widened to 8 bits).
    if (!CanWriteFrame(in.biWidth, in.biHeight, in.biBitCount < 8 ? 8 : in.biBitCount))
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

LRESULT DibCodec::Decode(const BITMAPINFOHEADER& in, const DecodeRequest& request) {
    if (request.flags & ICDECOMPRESS_HURRYUP)
        return ICERR_OK;
    if (request.dataSize == 0)
        return ICERR_DONTDRAW;
    const auto rowBytes = static_cast<std::size_t>(DibStride(in.biWidth, in.biBitCount));
    const LONG rows = static_cast<LONG>(DibRows(in.biHeight));
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
    if (in.biBitCount > 8)
        return Put(picture, request);

    // The conversion takes 256 colours; entries past the table are black.
    const RGBQUAD* table = nullptr;
    const DWORD count = InputColors(in, &table);
    if (count == 0)
        return ICERR_BADFORMAT;
    RGBQUAD colors[256] = {};
    std::memcpy(colors, table, count * sizeof(RGBQUAD));
    picture.layout = SourceLayout::Pal8;
    picture.colors = colors;
    if (in.biBitCount == 8)
        return Put(picture, request);

    // 1 and 4 bits: widened to one index per byte, most significant bits
    // first, as top-down rows down to the last one the request shows.
    const std::size_t width = static_cast<std::size_t>(in.biWidth);
    const int shown = request.ySrc + request.height;
    try {
        indices_.resize(width * static_cast<std::size_t>(shown));
    } catch (const std::bad_alloc&) {
        return ICERR_MEMORY;
    }
    const int bits = in.biBitCount;
    const unsigned mask = (1u << bits) - 1;
    for (int r = 0; r < shown; ++r) {
        const BYTE* src = picture.data + picture.stride * r;
        BYTE* out = indices_.data() + width * static_cast<std::size_t>(r);
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t bit = x * static_cast<std::size_t>(bits);
            out[x] = static_cast<BYTE>((src[bit / 8] >> (8 - bits - bit % 8)) & mask);
        }
    }
    picture.data = indices_.data();
    picture.stride = static_cast<std::ptrdiff_t>(width);
    picture.height = shown;
    return Put(picture, request);
}

void DibCodec::Describe(ICINFO& info) {
    info.fccHandler = kDibHandler;
    SetName(info.szName, "DIB");
    SetName(info.szDescription, "Uncompressed RGB frames");
}
