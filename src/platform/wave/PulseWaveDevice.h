// The libpulse wave device: one playback stream on its own connection and
// threaded main loop. Buffers are fed to the server as it asks for data and
// are done once the server holds all of their bytes; the position comes from
// the stream's timing information, which takes off the server's and the
// sink's latency, so it names the sample being heard now.
#pragma once

#include "platform/wave/WaveDevice.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <deque>

class PulseWaveDevice final : public WaveDevice {
public:
    PulseWaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback, DWORD_PTR instance);
    ~PulseWaveDevice() override;

    MMRESULT Start() override;
    void Shutdown() override;
    MMRESULT Write(WAVEHDR* header) override;
    MMRESULT Pause() override;
    MMRESULT Restart() override;
    MMRESULT Reset() override;
    MMRESULT PlayedBytes(std::uint64_t* bytes) override;
    std::size_t QueuedCount() override;

private:
    struct Pending {
        WAVEHDR* header;
        std::size_t offset; // bytes already handed to the server
    };
    // All of these run with the main loop's lock held.
    template <class Done> bool WaitFor(Done done, int timeoutMs);
    bool WaitOperation(pa_operation* op);
    bool CreateStream(bool corked);
    void DropStream();
    void Feed();
    bool Usable() const { return !failed_ && stream_ != nullptr; }

    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWritable(pa_stream* stream, std::size_t bytes, void* self);
    static void OnSuccess(pa_stream* stream, int success, void* self);

    pa_sample_spec spec_{};
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::deque<Pending> queue_;
    std::uint64_t fedBytes_ = 0; // bytes handed to the current stream
    std::uint64_t lastPlayed_ = 0;
    bool paused_ = false;
    bool failed_ = false;
};
