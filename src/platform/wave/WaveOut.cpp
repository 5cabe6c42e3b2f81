// The handle layer of wave output: argument and handle checks, the published
// semantics shared by both backends, and the choice of backend.
#include "platform/wave/WaveOut.h"

#include "platform/wave/WaveDevice.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace {

std::mutex registryMutex;
std::unordered_set<WaveDevice*> openDevices;

std::mutex backendMutex;
WaveBackend requestedBackend = WaveBackend::Auto;
WaveBackend resolvedBackend = WaveBackend::Auto;

// Looks a handle up. Handles stay valid until waveOutClose, which the caller
// must not race with other calls on the same handle.
WaveDevice* Lookup(HWAVEOUT hwo) {
    auto* device = reinterpret_cast<WaveDevice*>(hwo);
    std::lock_guard lock(registryMutex);
    return openDevices.count(device) != 0 ? device : nullptr;
}

bool FormatSupported(const WAVEFORMATEX& f) {
    if (f.wFormatTag != WAVE_FORMAT_PCM)
        return false;
    if (f.nChannels < 1 || f.nChannels > 8)
        return false;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16 && f.wBitsPerSample != 24 && f.wBitsPerSample != 32)
        return false;
    if (f.nSamplesPerSec < 1 || f.nSamplesPerSec > 384000)
        return false;
    return f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

bool HeaderArgsValid(const WAVEHDR* pwh, UINT cbwh) {
    return pwh != nullptr && cbwh >= sizeof(WAVEHDR) && pwh->lpData != nullptr;
}

} // namespace

bool WaveParseBackend(const char* text, WaveBackend* backend) {
    if (text == nullptr)
        return false;
    if (std::strcmp(text, "pulse") == 0)
        *backend = WaveBackend::Pulse;
    else if (std::strcmp(text, "null") == 0)
        *backend = WaveBackend::Null;
    else if (std::strcmp(text, "auto") == 0)
        *backend = WaveBackend::Auto;
    else
        return false;
    return true;
}

void WaveSetBackend(WaveBackend backend) {
    std::lock_guard lock(backendMutex);
    requestedBackend = backend;
    resolvedBackend = WaveBackend::Auto;
}

WaveBackend WaveActiveBackend() {
    std::lock_guard lock(backendMutex);
    if (resolvedBackend != WaveBackend::Auto)
        return resolvedBackend;
    WaveBackend choice = requestedBackend;
    if (choice == WaveBackend::Auto) {
        const char* env = std::getenv("CADMO_AUDIO");
        if (env != nullptr && *env != '\0' && !WaveParseBackend(env, &choice))
            std::fprintf(stderr, "cadmo: CADMO_AUDIO=%s is not pulse, null or auto; ignored\n", env);
    }
    if (choice == WaveBackend::Auto) {
        if (PulseServerAnswers()) {
            choice = WaveBackend::Pulse;
        } else {
            std::fprintf(stderr, "cadmo: no sound server answered; sound goes to the null device\n");
            choice = WaveBackend::Null;
        }
    }
    resolvedBackend = choice;
    return choice;
}

UINT waveOutGetNumDevs() {
    return 1;
}

MMRESULT waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen) {
    if (pwfx == nullptr)
        return MMSYSERR_INVALPARAM;
    if (uDeviceID != WAVE_MAPPER && uDeviceID != 0)
        return MMSYSERR_BADDEVICEID;
    const DWORD callbackType = fdwOpen & CALLBACK_TYPEMASK;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    // Only the fixed WAVEFORMATEX fields are read: PCM has no extra bytes, and
    // a caller's record may be the shorter PCMWAVEFORMAT-sized one with cbSize
    // unset, so it is never looked at.
    WAVEFORMATEX format{};
    std::memcpy(&format, pwfx, offsetof(WAVEFORMATEX, cbSize));
    if (!FormatSupported(format))
        return WAVERR_BADFORMAT;
    if (fdwOpen & WAVE_FORMAT_QUERY)
        return MMSYSERR_NOERROR;
    if (phwo == nullptr)
        return MMSYSERR_INVALPARAM;
    *phwo = nullptr;

    auto callback = callbackType == CALLBACK_FUNCTION ? reinterpret_cast<WAVECALLBACK>(dwCallback) : nullptr;
    std::unique_ptr<WaveDevice> device = WaveActiveBackend() == WaveBackend::Pulse
                                             ? CreatePulseWaveDevice(format, callback, dwInstance)
                                             : CreateNullWaveDevice(format, callback, dwInstance);
    if (!device)
        return MMSYSERR_NOMEM;
    const MMRESULT started = device->Start();
    if (started != MMSYSERR_NOERROR) {
        device->Shutdown();
        return started;
    }
    device->Notifier().Post(MM_WOM_OPEN, 0);
    WaveDevice* raw = device.release();
    {
        std::lock_guard lock(registryMutex);
        openDevices.insert(raw);
    }
    *phwo = raw->Handle();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
    WaveDevice* device = Lookup(hwo);
    if (device == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (device->Notifier().OnNotificationThread())
        return MMSYSERR_HANDLEBUSY;
    if (device->QueuedCount() != 0)
        return WAVERR_STILLPLAYING;
    {
        std::lock_guard lock(registryMutex);
        openDevices.erase(device);
    }
    device->Shutdown();
    device->Notifier().Post(MM_WOM_CLOSE, 0);
    device->Notifier().Flush();
    delete device;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    WaveDevice* device = Lookup(hwo);
    if (device == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (!HeaderArgsValid(pwh, cbwh))
        return MMSYSERR_INVALPARAM;
    if (pwh->dwFlags & WHDR_PREPARED)
        return MMSYSERR_NOERROR;
    return device->Prepare(pwh);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    WaveDevice* device = Lookup(hwo);
    if (device == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (pwh == nullptr || cbwh < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if (pwh->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
    WaveDevice* device = Lookup(hwo);
    if (device == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (!HeaderArgsValid(pwh, cbwh))
        return MMSYSERR_INVALPARAM;
    if (!(pwh->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (pwh->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    return device->Write(pwh);
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
    WaveDevice* device = Lookup(hwo);
    return device == nullptr ? MMSYSERR_INVALHANDLE : device->Pause();
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
    WaveDevice* device = Lookup(hwo);
    return device == nullptr ? MMSYSERR_INVALHANDLE : device->Restart();
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
    WaveDevice* device = Lookup(hwo);
    if (device == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (device->Notifier().OnNotificationThread())
        return MMSYSERR_HANDLEBUSY;
    const MMRESULT result = device->Reset();
    // Every buffer's done notification has run before we return, so the
    // caller may free its buffers at once.
    device->Notifier().Flush();
    return result;
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt) {
    WaveDevice* device = Lookup(hwo);
    if (device == nullptr)
        return MMSYSERR_INVALHANDLE;
    if (pmmt == nullptr || cbmmt < sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    std::uint64_t bytes = 0;
    const MMRESULT result = device->PlayedBytes(&bytes);
    if (result != MMSYSERR_NOERROR)
        return result;
    const WAVEFORMATEX& f = device->Format();
    // The published fields are 32 bits and wrap, as the originals do.
    switch (device->PositionType(pmmt->wType)) {
    case TIME_BYTES:
        pmmt->wType = TIME_BYTES;
        pmmt->u.cb = static_cast<DWORD>(bytes);
        break;
    case TIME_MS:
        pmmt->wType = TIME_MS;
        pmmt->u.ms = static_cast<DWORD>(bytes / f.nBlockAlign * 1000 / f.nSamplesPerSec);
        break;
    default:
        pmmt->wType = TIME_SAMPLES;
        pmmt->u.sample = static_cast<DWORD>(bytes / f.nBlockAlign);
        break;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetErrorTextA(MMRESULT mmrError, char* pszText, UINT cchText) {
    const char* text = nullptr;
    switch (mmrError) {
    case MMSYSERR_NOERROR:
        text = "The command was successful.";
        break;
    case MMSYSERR_ERROR:
        text = "Unspecified error.";
        break;
    case MMSYSERR_BADDEVICEID:
        text = "The device identifier is out of range.";
        break;
    case MMSYSERR_NOTENABLED:
        text = "The driver is not enabled.";
        break;
    case MMSYSERR_ALLOCATED:
        text = "The device is already in use.";
        break;
    case MMSYSERR_INVALHANDLE:
        text = "The device handle is invalid.";
        break;
    case MMSYSERR_NODRIVER:
        text = "No sound server or driver is available.";
        break;
    case MMSYSERR_NOMEM:
        text = "Not enough memory.";
        break;
    case MMSYSERR_NOTSUPPORTED:
        text = "The function is not supported.";
        break;
    case MMSYSERR_INVALFLAG:
        text = "An invalid flag was given.";
        break;
    case MMSYSERR_INVALPARAM:
        text = "An invalid parameter was given.";
        break;
    case MMSYSERR_HANDLEBUSY:
        text = "The handle is in use on another thread.";
        break;
    case WAVERR_BADFORMAT:
        text = "The wave format is not supported.";
        break;
    case WAVERR_STILLPLAYING:
        text = "Buffers are still queued.";
        break;
    case WAVERR_UNPREPARED:
        text = "The buffer is not prepared.";
        break;
    case WAVERR_SYNC:
        text = "The device is synchronous.";
        break;
    default:
        break;
    }
    if (pszText == nullptr || cchText == 0)
        return MMSYSERR_INVALPARAM;
    if (text == nullptr) {
        pszText[0] = '\0';
        return MMSYSERR_BADERRNUM;
    }
    std::snprintf(pszText, cchText, "%s", text);
    return MMSYSERR_NOERROR;
}
