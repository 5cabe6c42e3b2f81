#include "codecs/common/DecoderInstance.h"

#include <cstdlib>
#include <cstring>

namespace {

bool SameFormat(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biWidth == b.biWidth && a.biHeight == b.biHeight && a.biBitCount == b.biBitCount &&
           a.biCompression == b.biCompression && a.biSize == b.biSize;
}

RGBQUAD* ColorTable(BITMAPINFOHEADER* header) {
    return reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(header) + sizeof(BITMAPINFOHEADER));
}

} // namespace

bool DecoderInstance::AcceptsOpen(const ICOPEN& open) {
    if (open.fccType != 0 && !ICHandlerEqual(open.fccType, ICTYPE_VIDEO))
        return false;
    switch (open.dwFlags) {
    case ICMODE_DECOMPRESS:
    case ICMODE_FASTDECOMPRESS:
    case ICMODE_QUERY:
        return true;
    default:
        return false;
    }
}

LRESULT DecoderInstance::Message(UINT msg, LPARAM lParam1, LPARAM lParam2) {
    switch (msg) {
    case ICM_GETINFO: {
        auto* info = reinterpret_cast<ICINFO*>(lParam1);
        if (info == nullptr || lParam2 < static_cast<LPARAM>(sizeof(ICINFO)))
            return 0;
        std::memset(info, 0, sizeof *info);
        info->dwSize = sizeof *info;
        info->fccType = ICTYPE_VIDEO;
        info->dwVersionICM = ICVERSION;
        Describe(*info);
        return sizeof *info;
    }
    case ICM_DECOMPRESS_QUERY:
        return Query(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1),
                     reinterpret_cast<const BITMAPINFOHEADER*>(lParam2));
    case ICM_DECOMPRESS_GET_FORMAT:
        return GetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1),
                         reinterpret_cast<BITMAPINFOHEADER*>(lParam2));
    case ICM_DECOMPRESS_BEGIN: {
        auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(lParam1);
        auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(lParam2);
        if (in == nullptr || out == nullptr)
            return ICERR_BADPARAM;
        if (LRESULT r = Query(in, out); r != ICERR_OK)
            return r;
        return BeginIfNeeded(*in);
    }
    case ICM_DECOMPRESS: {
        auto* ic = reinterpret_cast<const ICDECOMPRESS*>(lParam1);
        if (ic == nullptr || ic->lpbiInput == nullptr)
            return ICERR_BADPARAM;
        const BITMAPINFOHEADER& in = *ic->lpbiInput;
        if (LRESULT r = CheckInput(in); r != ICERR_OK)
            return r;
        DecodeRequest request;
        if (LRESULT r = DecodeRequest::FromDecompress(ic, lParam2, in.biWidth, in.biHeight, &request);
            r != ICERR_OK)
            return r;
        if (LRESULT r = BeginIfNeeded(in); r != ICERR_OK)
            return r;
        FollowInputPalette(in);
        return Decode(in, request);
    }
    case ICM_DECOMPRESSEX_QUERY:
    case ICM_DECOMPRESSEX_BEGIN: {
        auto* ic = reinterpret_cast<const ICDECOMPRESSEX*>(lParam1);
        if (ic == nullptr || lParam2 < static_cast<LPARAM>(sizeof(ICDECOMPRESSEX)))
            return ICERR_BADSIZE;
        if (ic->lpbiSrc == nullptr)
            return ICERR_BADPARAM;
        if (LRESULT r = CheckInput(*ic->lpbiSrc); r != ICERR_OK)
            return r;
        DecodeRequest request;
        if (LRESULT r = DecodeRequest::FromDecompressEx(ic, lParam2, ic->lpbiSrc->biWidth,
                                                        ic->lpbiSrc->biHeight, false, &request);
            r != ICERR_OK)
            return r;
        if (msg == ICM_DECOMPRESSEX_QUERY)
            return ICERR_OK;
        if (ic->lpbiDst == nullptr)
            return ICERR_BADPARAM;
        return BeginIfNeeded(*ic->lpbiSrc);
    }
    case ICM_DECOMPRESSEX:
        return DecompressEx(reinterpret_cast<const ICDECOMPRESSEX*>(lParam1), lParam2);
    case ICM_DECOMPRESS_END:
    case ICM_DECOMPRESSEX_END:
        if (begun_)
            End();
        begun_ = false;
        return ICERR_OK;
    case ICM_DECOMPRESS_SET_PALETTE:
        return SetPalette(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1));
    case ICM_DECOMPRESS_GET_PALETTE:
        return GetPalette(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1),
                          reinterpret_cast<BITMAPINFOHEADER*>(lParam2));
    case ICM_DECOMPRESS_GET_DELAY:
        return ReorderDelay();
    case ICM_DECOMPRESS_FLUSH:
        Flush();
        return ICERR_OK;
    default:
        return ICERR_UNSUPPORTED;
    }
}

LRESULT DecoderInstance::BeginIfNeeded(const BITMAPINFOHEADER& in) {
    if (begun_ && SameFormat(in, begunFormat_))
        return ICERR_OK;
    LRESULT r = Begin(in);
    begun_ = r == ICERR_OK;
    if (begun_)
        begunFormat_ = in;
    return r;
}

LRESULT DecoderInstance::DecompressEx(const ICDECOMPRESSEX* ic, LPARAM cb) {
    if (ic == nullptr || cb < static_cast<LPARAM>(sizeof(ICDECOMPRESSEX)))
        return ICERR_BADSIZE;
    if (ic->lpbiSrc == nullptr)
        return ICERR_BADPARAM;
    const BITMAPINFOHEADER& in = *ic->lpbiSrc;
    // The input of a begun format was checked at the begin; only a new one
    // is checked here (finding a decoder can be a walk through a list).
    if (!(begun_ && SameFormat(in, begunFormat_)))
        if (LRESULT r = CheckInput(in); r != ICERR_OK)
            return r;
    DecodeRequest request;
    if (LRESULT r = DecodeRequest::FromDecompressEx(ic, cb, in.biWidth, in.biHeight, true, &request);
        r != ICERR_OK)
        return r;
    if (LRESULT r = BeginIfNeeded(in); r != ICERR_OK)
        return r;
    FollowInputPalette(in);
    return Decode(in, request);
}

LRESULT DecoderInstance::Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (in == nullptr)
        return ICERR_BADPARAM;
    if (LRESULT r = CheckInput(*in); r != ICERR_OK)
        return r;
    if (out != nullptr) {
        if (LRESULT r = DecodeRequest::CheckOutputFormat(out); r != ICERR_OK)
            return r;
        if (out->biWidth != in->biWidth || DibRows(out->biHeight) != DibRows(in->biHeight))
            return ICERR_BADSIZE;
    }
    NoteStreamFormat(*in);
    return ICERR_OK;
}

LRESULT DecoderInstance::GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    constexpr LRESULT size = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);
    if (in == nullptr)
        return ICERR_BADPARAM;
    if (LRESULT r = CheckInput(*in); r != ICERR_OK)
        return r;
    if (out == nullptr)
        return size;
    std::memset(out, 0, sizeof *out);
    out->biSize = sizeof *out;
    out->biWidth = in->biWidth;
    out->biHeight = static_cast<LONG>(DibRows(in->biHeight));
    out->biPlanes = 1;
    out->biBitCount = 24;
    out->biCompression = BI_RGB;
    // A row too wide for 31 bits at 24 bits (the input may be narrower
    // per pixel) leaves the size unstated.
    const std::int64_t stride = DibStride(out->biWidth, 24);
    out->biSizeImage = stride > 0 ? static_cast<DWORD>(stride * out->biHeight) : 0;
    return ICERR_OK;
}

DWORD DecoderInstance::InputColors(const BITMAPINFOHEADER& in, const RGBQUAD** colors) {
    *colors = nullptr;
    // Headers longer than this carry codec data, not a header and a table.
    constexpr DWORD kMaxHeader = 1u << 20;
    if (in.biBitCount == 0 || in.biBitCount > 8 || in.biClrUsed == 0 ||
        in.biClrUsed > (1u << in.biBitCount) || in.biSize < sizeof(BITMAPINFOHEADER) ||
        in.biSize > kMaxHeader)
        return 0;
    *colors = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(&in) + in.biSize);
    return in.biClrUsed;
}

void DecoderInstance::FollowInputPalette(const BITMAPINFOHEADER& in) {
    if (paletteSet_)
        return;
    const RGBQUAD* colors = nullptr;
    if (const DWORD count = InputColors(in, &colors); count != 0)
        palette_.SetColors(colors, static_cast<int>(count)); // rebuilds only when they change
    else if (!palette_.IsDefault())
        palette_.Reset();
}

LRESULT DecoderInstance::SetPalette(const BITMAPINFOHEADER* header) {
    if (header == nullptr) {
        paletteSet_ = false;
        palette_.Reset();
        return ICERR_OK;
    }
    DWORD count = header->biClrUsed == 0 ? 256 : header->biClrUsed;
    if (count > 256)
        count = 256;
    auto* colors = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(header) + sizeof *header);
    palette_.SetColors(colors, static_cast<int>(count));
    paletteSet_ = true;
    return ICERR_OK;
}

LRESULT DecoderInstance::GetPalette(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (out == nullptr)
        return sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);
    if (in != nullptr)
        FollowInputPalette(*in);
    std::memcpy(ColorTable(out), palette_.Colors().data(), 256 * sizeof(RGBQUAD));
    out->biClrUsed = 256;
    return ICERR_OK;
}

LRESULT DecoderInstance::Put(const PixelPicture& picture, const DecodeRequest& request) {
    // A decoder may deliver a picture smaller than its header promised; the
    // request was checked against the header, so check again here.
    if (static_cast<std::int64_t>(request.xSrc) + request.width > picture.width ||
        static_cast<std::int64_t>(request.ySrc) + request.height > picture.height)
        return ICERR_BADIMAGESIZE;
    PixelPicture part = picture;
    part.data += picture.stride * request.ySrc +
                 static_cast<std::ptrdiff_t>(request.xSrc) * SourceBytesPerPixel(picture.layout);
    part.width = request.width;
    part.height = request.height;
    return converter_.Convert(part, request.target, &palette_) ? ICERR_OK : ICERR_BADPARAM;
}
