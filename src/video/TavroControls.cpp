#include "video/TavroControls.h"

namespace {

// The length sent is normally the record's own size word, which the codec
// may rewrite in its answers; it is never allowed to exceed the record, so a
// codec cannot be invited to write past it.
template <typename Record> LRESULT Send(HIC codec, UINT msg, Record* record, DWORD length) {
    if (length > sizeof(Record))
        length = sizeof(Record);
    return ICSendMessage(codec, msg, reinterpret_cast<DWORD_PTR>(record), length);
}

template <typename Record> LRESULT SendWhole(HIC codec, UINT msg, Record* record) {
    return Send(codec, msg, record, sizeof(Record));
}

} // namespace

void TavroControls::InitCodecState() {
    shortStateRequest =
        qx47::MakeStateRecord<qx47::ShortStateRecord>(qx47::kShortKindFirst, qx47::kShortMaskFirstRequest);
    SendWhole(codec, ICM_GETSTATE, &shortStateRequest);
    shortState = shortStateRequest;
    shortState.kind = qx47::kShortKindLater;

    longStateRequest =
        qx47::MakeStateRecord<qx47::LongStateRecord>(qx47::kLongKindDefaults, qx47::kLongMaskFirstRequest);
    SendWhole(codec, ICM_GETSTATE, &longStateRequest);
    longState = longStateRequest;
    longState.kind = qx47::kLongKindCurrent;
    qx47::SetBoundsAddress(longState, &codecBounds);
    longState.mask = qx47::kLongMaskBoundsAddress;
    SendWhole(codec, ICM_SETSTATE, &longState);
}

void TavroControls::SetCompositing() {
    shortState.transparency = qx47::kTransparencyComposite;
    shortState.mask = qx47::kShortMaskTransparency;
    SendWhole(codec, ICM_SETSTATE, &shortState);
}

bool TavroControls::SetLineDoubling(INT mode) {
    shortState.mask = qx47::kShortMaskLineDoubling;
    shortState.kind = qx47::kShortKindLater;
    shortState.alternateLine = mode == 1 ? 0 : 1;
    return Send(codec, ICM_SETSTATE, &shortState, shortState.size) == ICERR_OK;
}

void TavroControls::GetColorControls(LONG* brightness, LONG* saturation, LONG* contrast, BOOL defaults) {
    longState.mask = qx47::kLongMaskColorControls;
    longState.kind = defaults ? qx47::kLongKindDefaults : qx47::kLongKindCurrent;
    Send(codec, ICM_GETSTATE, &longState, longState.size);
    *brightness = longState.brightness;
    *saturation = longState.saturation;
    *contrast = longState.contrast;
}

void TavroControls::SetColorControls(LONG brightness, LONG saturation, LONG contrast, BOOL reset) {
    auto inRange = [](LONG v) { return v >= -255 && v <= 255; };
    if (!inRange(brightness) || !inRange(saturation) || !inRange(contrast))
        return;
    longState.mask = qx47::kLongMaskColorControls;
    if (reset) {
        longState.kind = qx47::kLongKindDefaults;
        Send(codec, ICM_SETSTATE, &longState, longState.size);
        return;
    }
    longState.brightness = brightness;
    longState.saturation = saturation;
    longState.contrast = contrast;
    longState.kind = qx47::kLongKindCurrent;
    SendWhole(codec, ICM_SETSTATE, &longState);
}

void TavroControls::GetScalability(LONG* ms, BOOL defaults) {
    longState.mask = qx47::kLongMaskTimeBudget;
    longState.kind = defaults ? qx47::kLongKindDefaults : qx47::kLongKindCurrent;
    Send(codec, ICM_GETSTATE, &longState, longState.size);
    *ms = longState.timeBudget;
}

void TavroControls::SetScalability(LONG ms, BOOL reset) {
    longState.mask = qx47::kLongMaskTimeBudget;
    if (reset) {
        longState.kind = qx47::kLongKindDefaults;
    } else {
        longState.kind = qx47::kLongKindCurrent;
        longState.timeBudget = ms;
    }
    Send(codec, ICM_SETSTATE, &longState, longState.size);
}

void TavroControls::SetAccessKey(LONG key) {
    shortState.kind = qx47::kShortKindLater;
    shortState.mask = qx47::kShortMaskAccessKey;
    Send(codec, ICM_GETSTATE, &shortState, shortState.size);
    shortState.accessKey = key;
    shortState.accessKeyGiven = 1;
    Send(codec, ICM_SETSTATE, &shortState, shortState.size);
}
