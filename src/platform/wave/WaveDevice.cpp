#include "platform/wave/WaveDevice.h"

#include <atomic>

WaveDevice::WaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback, DWORD_PTR instance)
    : format_(format), notifier_(std::make_unique<WaveNotifier>(Handle(), callback, instance)) {
    format_.cbSize = 0; // PCM carries no extra bytes; whatever followed was never copied
}

WaveDevice::~WaveDevice() = default;

MMRESULT WaveDevice::Prepare(WAVEHDR* header) {
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

UINT WaveDevice::PositionType(UINT requested) const {
    return requested == TIME_BYTES ? TIME_BYTES : TIME_SAMPLES;
}

// Callers may poll dwFlags for WHDR_DONE from another thread, as the
// published API allows, so the flags change atomically.
void WaveDevice::MarkQueued(WAVEHDR* header) {
    std::atomic_ref<DWORD> flags(header->dwFlags);
    flags.store((flags.load() & ~WHDR_DONE) | WHDR_INQUEUE);
    header->lpNext = nullptr;
}

void WaveDevice::Complete(WAVEHDR* header) {
    std::atomic_ref<DWORD> flags(header->dwFlags);
    flags.store((flags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
    notifier_->Post(MM_WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
}
