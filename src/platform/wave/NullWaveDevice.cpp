#include "platform/wave/NullWaveDevice.h"

#include <algorithm>
#include <atomic>
#include <set>

namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

std::mutex optionsMutex;
WaveNullOptions currentOptions;

// The manual clock, shared by every null device opened with manualClock.
std::atomic<std::int64_t> manualNow{0};
std::mutex manualDevicesMutex;
std::set<NullWaveDevice*> manualDevices;

std::int64_t SteadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void WaveNullSetOptions(const WaveNullOptions& options) {
    std::lock_guard lock(optionsMutex);
    currentOptions = options;
}

void WaveNullAdvanceClock(DWORD milliseconds) {
    manualNow += static_cast<std::int64_t>(milliseconds) * 1'000'000;
    // Devices are settled under the set's lock so none is destroyed meanwhile;
    // a device leaves the set before it shuts down.
    std::lock_guard lock(manualDevicesMutex);
    for (NullWaveDevice* device : manualDevices)
        device->Settle();
}

std::unique_ptr<WaveDevice> CreateNullWaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback,
                                                 DWORD_PTR instance) {
    WaveNullOptions options;
    {
        std::lock_guard lock(optionsMutex);
        options = currentOptions;
    }
    return std::make_unique<NullWaveDevice>(format, callback, instance, options);
}

NullWaveDevice::NullWaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback, DWORD_PTR instance,
                               const WaveNullOptions& options)
    : WaveDevice(format, callback, instance), options_(options), bytesPerFrame_(format.nBlockAlign),
      framesPerSecond_(format.nSamplesPerSec) {}

NullWaveDevice::~NullWaveDevice() {
    Shutdown();
}

MMRESULT NullWaveDevice::Start() {
    if (options_.failOpen)
        return MMSYSERR_ALLOCATED;
    anchorTime_ = Now();
    thread_ = std::thread([this] { Run(); });
    if (options_.manualClock) {
        std::lock_guard lock(manualDevicesMutex);
        manualDevices.insert(this);
    }
    return MMSYSERR_NOERROR;
}

void NullWaveDevice::Shutdown() {
    if (options_.manualClock) {
        std::lock_guard lock(manualDevicesMutex);
        manualDevices.erase(this);
    }
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

std::int64_t NullWaveDevice::Now() const {
    return options_.manualClock ? manualNow.load() : SteadyNanos();
}

std::uint64_t NullWaveDevice::PlayedAt(std::int64_t now) const {
    if (paused_ || now <= anchorTime_)
        return anchorBytes_;
    // 128-bit product: hours at high rates overflow 64 bits of ns x Hz.
    const auto frames = static_cast<std::uint64_t>(static_cast<unsigned __int128>(now - anchorTime_) *
                                                   framesPerSecond_ / kNanosPerSecond);
    return std::min(written_, anchorBytes_ + frames * bytesPerFrame_);
}

std::int64_t NullWaveDevice::DueTime(std::uint64_t endByte) const {
    // The first whole frame count whose bytes reach endByte, then the first
    // nanosecond at which that many frames have elapsed.
    const std::uint64_t frames = (endByte - anchorBytes_ + bytesPerFrame_ - 1) / bytesPerFrame_;
    const auto nanos = static_cast<std::int64_t>(
        (static_cast<unsigned __int128>(frames) * kNanosPerSecond + framesPerSecond_ - 1) / framesPerSecond_);
    return anchorTime_ + nanos;
}

bool NullWaveDevice::CompleteDue(std::int64_t now) {
    const std::uint64_t played = PlayedAt(now);
    bool any = false;
    while (!queue_.empty() && queue_.front().end <= played) {
        Complete(queue_.front().header);
        queue_.pop_front();
        any = true;
    }
    return any;
}

void NullWaveDevice::Run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        const std::uint64_t handled = wakeRequests_;
        CompleteDue(Now());
        wakesHandled_ = handled;
        processed_.notify_all();
        auto woken = [&] { return quit_ || wakeRequests_ != handled; };
        if (options_.manualClock || paused_ || queue_.empty()) {
            wake_.wait(lock, woken);
        } else {
            const std::int64_t due = DueTime(queue_.front().end);
            const auto deadline = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(due));
            wake_.wait_until(lock, deadline, woken);
        }
    }
}

void NullWaveDevice::Settle() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            const std::uint64_t request = ++wakeRequests_;
            wake_.notify_all();
            processed_.wait(lock, [&] { return quit_ || wakesHandled_ >= request; });
        }
        Notifier().Flush();
        std::lock_guard lock(mutex_);
        if (quit_ || queue_.empty() || queue_.front().end > PlayedAt(Now()))
            return;
    }
}

MMRESULT NullWaveDevice::Prepare(WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    if (options_.failPrepareAfter >= 0 && prepared_ >= options_.failPrepareAfter)
        return MMSYSERR_NOMEM;
    ++prepared_;
    return WaveDevice::Prepare(header);
}

MMRESULT NullWaveDevice::Write(WAVEHDR* header) {
    {
        std::lock_guard lock(mutex_);
        const std::int64_t now = Now();
        const std::uint64_t played = PlayedAt(now);
        if (!paused_ && played == written_) {
            // Starved: the sound stopped where the data ran out and starts
            // again from here, so the position does not jump.
            anchorBytes_ = written_;
            anchorTime_ = now;
        }
        MarkQueued(header);
        written_ += header->dwBufferLength;
        queue_.push_back({header, written_});
        ++wakeRequests_;
    }
    wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT NullWaveDevice::Pause() {
    {
        std::lock_guard lock(mutex_);
        if (paused_)
            return MMSYSERR_NOERROR;
        const std::int64_t now = Now();
        CompleteDue(now);
        anchorBytes_ = PlayedAt(now);
        anchorTime_ = now;
        paused_ = true;
        ++wakeRequests_;
    }
    wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT NullWaveDevice::Restart() {
    {
        std::lock_guard lock(mutex_);
        if (!paused_)
            return MMSYSERR_NOERROR;
        paused_ = false;
        anchorTime_ = Now();
        ++wakeRequests_;
    }
    wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT NullWaveDevice::Reset() {
    {
        std::lock_guard lock(mutex_);
        while (!queue_.empty()) {
            Complete(queue_.front().header);
            queue_.pop_front();
        }
        written_ = 0;
        anchorBytes_ = 0;
        anchorTime_ = Now();
        ++wakeRequests_;
    }
    wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT NullWaveDevice::PlayedBytes(std::uint64_t* bytes) {
    if (options_.failPosition)
        return MMSYSERR_NODRIVER;
    std::lock_guard lock(mutex_);
    std::uint64_t played = PlayedAt(Now());
    if (options_.positionStepMs != 0) {
        const std::uint64_t step = framesPerSecond_ * options_.positionStepMs / 1000 * bytesPerFrame_;
        if (step != 0)
            played -= played % step;
    }
    *bytes = played;
    return MMSYSERR_NOERROR;
}

UINT NullWaveDevice::PositionType(UINT requested) const {
    if (options_.positionType == TIME_BYTES || options_.positionType == TIME_MS)
        return options_.positionType;
    return WaveDevice::PositionType(requested);
}

std::size_t NullWaveDevice::QueuedCount() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}
