// The null wave device: plays nothing, but consumes queued buffers at the
// format's rate from the monotonic system clock (or from a clock that tests
// advance by hand) and reports the position exactly.
#pragma once

#include "platform/wave/WaveDevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

class NullWaveDevice final : public WaveDevice {
public:
    NullWaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback, DWORD_PTR instance,
                   const WaveNullOptions& options);
    ~NullWaveDevice() override;

    MMRESULT Start() override;
    void Shutdown() override;
    MMRESULT Prepare(WAVEHDR* header) override;
    MMRESULT Write(WAVEHDR* header) override;
    MMRESULT Pause() override;
    MMRESULT Restart() override;
    MMRESULT Reset() override;
    MMRESULT PlayedBytes(std::uint64_t* bytes) override;
    UINT PositionType(UINT requested) const override;
    std::size_t QueuedCount() override;

    // Manual clock: wakes the timing thread, waits until it has completed
    // everything due at the current manual time, then until the resulting
    // notifications are delivered; repeats while callbacks made more due.
    void Settle();

private:
    struct Queued {
        WAVEHDR* header;
        std::uint64_t end; // byte offset, from the open or reset, just past its data
    };
    std::int64_t Now() const;
    std::uint64_t PlayedAt(std::int64_t now) const;
    std::int64_t DueTime(std::uint64_t endByte) const;
    bool CompleteDue(std::int64_t now);
    void Run();

    WaveNullOptions options_;
    std::uint64_t bytesPerFrame_;
    std::uint64_t framesPerSecond_;
    int prepared_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable processed_;
    std::deque<Queued> queue_;
    std::uint64_t written_ = 0;     // bytes queued since open or reset
    std::uint64_t anchorBytes_ = 0; // bytes played at anchorTime_
    std::int64_t anchorTime_ = 0;   // clock in ns
    bool paused_ = false;
    bool quit_ = false;
    std::uint64_t wakeRequests_ = 0;
    std::uint64_t wakesHandled_ = 0;
    std::thread thread_;
};
