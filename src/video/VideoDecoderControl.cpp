// Codec control: the 8-bit palette (any codec) and the Tavro codec's private
// state exchanges (background, line doubling, colour controls, scalability,
// access key).

#include <cstring>

#include "image/DibImage.h"
#include "video/VideoDecoder.h"

namespace {

// The length sent is normally the record's own size word, which the codec
// may rewrite in its answers; it is never allowed to exceed the record, so a
// codec cannot be invited to write past it.
template <typename Record> LRESULT SendRecord(HIC codec, UINT msg, Record* record, DWORD length) {
    if (length > sizeof(Record))
        length = sizeof(Record);
    return ICSendMessage(codec, msg, reinterpret_cast<DWORD_PTR>(record), length);
}

} // namespace

void VideoDecoder::InitCodecState() {
    shortStateRequest = qx47::ShortStateRecord{};
    shortStateRequest.size = sizeof(qx47::ShortStateRecord);
    shortStateRequest.fourcc = qx47::kStateFourcc;
    shortStateRequest.version = qx47::kStateVersion;
    shortStateRequest.kind = qx47::kShortKindFirst;
    shortStateRequest.qualifier = qx47::kStateQualifier;
    shortStateRequest.mask = qx47::kShortMaskFirstRequest;
    SendRecord(codec, ICM_GETSTATE, &shortStateRequest, 44);
    shortState = shortStateRequest;
    shortState.kind = qx47::kShortKindLater;

    longStateRequest = qx47::LongStateRecord{};
    longStateRequest.size = sizeof(qx47::LongStateRecord);
    longStateRequest.fourcc = qx47::kStateFourcc;
    longStateRequest.version = qx47::kStateVersion;
    longStateRequest.kind = qx47::kLongKindDefaults;
    longStateRequest.qualifier = qx47::kStateQualifier;
    longStateRequest.mask = qx47::kLongMaskFirstRequest;
    SendRecord(codec, ICM_GETSTATE, &longStateRequest, 84);
    longState = longStateRequest;
    longState.kind = qx47::kLongKindCurrent;
    qx47::SetBoundsAddress(longState, &codecBounds);
    longState.mask = qx47::kLongMaskBoundsAddress;
    SendRecord(codec, ICM_SETSTATE, &longState, 84);
}

LONG VideoDecoder::GetUpdatedRect(RECT* r) const {
    if (!IsTavro())
        return kNotTavro;
    std::lock_guard<std::mutex> guard(rectLock);
    *r = updatedRect.ToRect();
    return kOk;
}

LONG VideoDecoder::SetPalette(const LOGPALETTE* p) {
    if (!codec || !outputFormat)
        return kRefused;
    if (!p)
        return ICSendMessage(codec, ICM_DECOMPRESS_SET_PALETTE, 0, 0) == ICERR_OK ? kAccepted : kRefused;
    // Entries 0..9 stay the system's fixed colours; a palette fills at most
    // the 236 entries after them.
    const int n = p->palNumEntries > 236 ? 236 : p->palNumEntries;
    for (int i = 0; i < n; ++i) {
        RGBQUAD& c = outputFormat->colors[10 + i];
        c.rgbRed = p->palPalEntry[i].peRed;
        c.rgbGreen = p->palPalEntry[i].peGreen;
        c.rgbBlue = p->palPalEntry[i].peBlue;
    }
    outputFormat->header.biClrUsed = 256;
    if (ICSendMessage(codec, ICM_DECOMPRESS_SET_PALETTE, reinterpret_cast<DWORD_PTR>(outputFormat.get()),
                      0) != ICERR_OK) {
        ICSendMessage(codec, ICM_DECOMPRESS_SET_PALETTE, 0, 0);
        return kRefused;
    }
    return kAccepted;
}

LONG VideoDecoder::SetBackground(std::unique_ptr<DibImage> image) {
    if (!IsTavro() || !image)
        return kRefused;
    if (image->Width() < windowRect.width || image->Height() < windowRect.height)
        return kRefused;
    background = std::move(image);
    viewRect = VideoRect{0, 0, background->Width(), background->Height()};
    {
        std::lock_guard<std::mutex> guard(rectLock);
        decodeRect.x = viewRect.width / 2 - decodeRect.width / 2;
        decodeRect.y = viewRect.height / 2 - decodeRect.height / 2;
    }
    shortState.transparency = qx47::kTransparencyComposite;
    shortState.mask = qx47::kShortMaskTransparency;
    SendRecord(codec, ICM_SETSTATE, &shortState, 44);
    return kAccepted;
}

LONG VideoDecoder::SetLineDoubling(INT mode) {
    if (!IsTavro())
        return kRefused;
    shortState.mask = qx47::kShortMaskLineDoubling;
    shortState.kind = qx47::kShortKindLater;
    shortState.alternateLine = mode == 1 ? 0 : 1;
    return SendRecord(codec, ICM_SETSTATE, &shortState, shortState.size) == ICERR_OK ? kAccepted : kRefused;
}

void VideoDecoder::GetColorControls(LONG* brightness, LONG* saturation, LONG* contrast, BOOL defaults) {
    if (!IsTavro())
        return;
    longState.mask = qx47::kLongMaskColorControls;
    longState.kind = defaults ? qx47::kLongKindDefaults : qx47::kLongKindCurrent;
    SendRecord(codec, ICM_GETSTATE, &longState, longState.size);
    *brightness = longState.brightness;
    *saturation = longState.saturation;
    *contrast = longState.contrast;
}

void VideoDecoder::SetColorControls(LONG brightness, LONG saturation, LONG contrast, BOOL reset) {
    if (!IsTavro())
        return;
    auto inRange = [](LONG v) { return v >= -255 && v <= 255; };
    if (!inRange(brightness) || !inRange(saturation) || !inRange(contrast))
        return;
    longState.mask = qx47::kLongMaskColorControls;
    if (reset) {
        longState.kind = qx47::kLongKindDefaults;
        SendRecord(codec, ICM_SETSTATE, &longState, longState.size);
        return;
    }
    longState.brightness = brightness;
    longState.saturation = saturation;
    longState.contrast = contrast;
    longState.kind = qx47::kLongKindCurrent;
    SendRecord(codec, ICM_SETSTATE, &longState, 84);
}

void VideoDecoder::GetScalability(LONG* ms, BOOL defaults) {
    if (!IsTavro())
        return;
    longState.mask = qx47::kLongMaskTimeBudget;
    longState.kind = defaults ? qx47::kLongKindDefaults : qx47::kLongKindCurrent;
    SendRecord(codec, ICM_GETSTATE, &longState, longState.size);
    *ms = longState.timeBudget;
}

void VideoDecoder::SetScalability(LONG ms, BOOL reset) {
    if (!IsTavro())
        return;
    longState.mask = qx47::kLongMaskTimeBudget;
    if (reset) {
        longState.kind = qx47::kLongKindDefaults;
    } else {
        longState.kind = qx47::kLongKindCurrent;
        longState.timeBudget = ms;
    }
    SendRecord(codec, ICM_SETSTATE, &longState, longState.size);
}

void VideoDecoder::SetAccessKey(LONG key) {
    if (!IsTavro())
        return;
    shortState.kind = qx47::kShortKindLater;
    shortState.mask = qx47::kShortMaskAccessKey;
    SendRecord(codec, ICM_GETSTATE, &shortState, shortState.size);
    shortState.accessKey = key;
    shortState.accessKeyGiven = 1;
    SendRecord(codec, ICM_SETSTATE, &shortState, shortState.size);
}
