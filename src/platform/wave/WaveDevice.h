// One open wave output handle, as the backends see it. The handle layer
// (WaveOut.cpp) validates arguments and handles and keeps the published
// semantics common to all backends; a backend only queues, plays, pauses,
// resets and measures.
#pragma once

#include "platform/wave/WaveNotifier.h"
#include "platform/wave/WaveOut.h"

#include <cstdint>
#include <memory>

class WaveDevice {
public:
    WaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback, DWORD_PTR instance);
    virtual ~WaveDevice();
    WaveDevice(const WaveDevice&) = delete;
    WaveDevice& operator=(const WaveDevice&) = delete;

    HWAVEOUT Handle() { return reinterpret_cast<HWAVEOUT>(this); }
    const WAVEFORMATEX& Format() const { return format_; }
    WaveNotifier& Notifier() { return *notifier_; }

    // Connects to whatever plays the sound; MMSYSERR_NOERROR or a failure
    // that waveOutOpen passes on. Called once, before MM_WOM_OPEN is posted.
    virtual MMRESULT Start() = 0;
    // Stops the backend's own threads and connections. Called once, with no
    // buffer queued, before MM_WOM_CLOSE is posted.
    virtual void Shutdown() = 0;

    virtual MMRESULT Prepare(WAVEHDR* header);
    // Queues a prepared header that is not queued yet.
    virtual MMRESULT Write(WAVEHDR* header) = 0;
    virtual MMRESULT Pause() = 0;
    virtual MMRESULT Restart() = 0;
    // Completes every queued header (through Complete) in order and sets the
    // position back to 0. The handle layer then waits for the notifications.
    virtual MMRESULT Reset() = 0;
    // Bytes of sound heard since the open or the last reset.
    virtual MMRESULT PlayedBytes(std::uint64_t* bytes) = 0;
    // The unit this device answers position requests in, given the unit asked.
    virtual UINT PositionType(UINT requested) const;
    virtual std::size_t QueuedCount() = 0;

protected:
    // Marks a header queued: WHDR_INQUEUE set, WHDR_DONE cleared.
    static void MarkQueued(WAVEHDR* header);
    // Marks a header done and posts its MM_WOM_DONE. Backends call it under
    // their own lock so that the flags change in completion order.
    void Complete(WAVEHDR* header);

private:
    WAVEFORMATEX format_;
    std::unique_ptr<WaveNotifier> notifier_;
};

// Factories of the two backends. The null device's options are the ones last
// given to WaveNullSetOptions.
std::unique_ptr<WaveDevice> CreateNullWaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback,
                                                 DWORD_PTR instance);
std::unique_ptr<WaveDevice> CreatePulseWaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback,
                                                  DWORD_PTR instance);
// True when a pulse server answers within about a second.
bool PulseServerAnswers();
