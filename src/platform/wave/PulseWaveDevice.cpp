#include "platform/wave/PulseWaveDevice.h"

#include <algorithm>

namespace {

// How long a call waits for a server that does not answer before treating it
// as gone. Killed servers are noticed at once through the socket.
constexpr int kServerTimeoutMs = 3000;
// The server keeps about this much sound ahead of what is heard: enough to
// ride out scheduling hiccups on a loaded machine, and the position accounts
// for it anyway.
constexpr pa_usec_t kTargetLatencyUs = 200 * 1000;

struct TimeoutState {
    pa_threaded_mainloop* loop;
    bool expired;
};

void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* state = static_cast<TimeoutState*>(userdata);
    state->expired = true;
    pa_threaded_mainloop_signal(state->loop, 0);
}

pa_sample_format_t SampleFormat(WORD bits) {
    switch (bits) {
    case 8:
        return PA_SAMPLE_U8;
    case 16:
        return PA_SAMPLE_S16LE;
    case 24:
        return PA_SAMPLE_S24LE;
    default:
        return PA_SAMPLE_S32LE;
    }
}

bool ContextGone(pa_context_state_t s) {
    return s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED;
}

} // namespace

std::unique_ptr<WaveDevice> CreatePulseWaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback,
                                                  DWORD_PTR instance) {
    return std::make_unique<PulseWaveDevice>(format, callback, instance);
}

bool PulseServerAnswers() {
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    if (loop == nullptr)
        return false;
    pa_context* context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Cadmo");
    bool ready = false;
    if (context != nullptr) {
        pa_context_set_state_callback(
            context,
            [](pa_context*, void* l) {
                pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0);
            },
            loop);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
            pa_threaded_mainloop_start(loop) >= 0) {
            pa_threaded_mainloop_lock(loop);
            TimeoutState timeout{loop, false};
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
            struct timeval tv;
            pa_timeval_add(pa_gettimeofday(&tv), 1000 * 1000);
            pa_time_event* event = api->time_new(api, &tv, OnTimeout, &timeout);
            for (;;) {
                const pa_context_state_t s = pa_context_get_state(context);
                if (s == PA_CONTEXT_READY) {
                    ready = true;
                    break;
                }
                if (ContextGone(s) || timeout.expired)
                    break;
                pa_threaded_mainloop_wait(loop);
            }
            api->time_free(event);
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_threaded_mainloop_unlock(loop);
        }
        pa_threaded_mainloop_stop(loop);
        pa_context_unref(context);
    }
    pa_threaded_mainloop_free(loop);
    return ready;
}

PulseWaveDevice::PulseWaveDevice(const WAVEFORMATEX& format, WAVECALLBACK callback, DWORD_PTR instance)
    : WaveDevice(format, callback, instance) {
    spec_.format = SampleFormat(format.wBitsPerSample);
    spec_.rate = format.nSamplesPerSec;
    spec_.channels = static_cast<std::uint8_t>(format.nChannels);
}

PulseWaveDevice::~PulseWaveDevice() {
    Shutdown();
}

template <class Done> bool PulseWaveDevice::WaitFor(Done done, int timeoutMs) {
    if (done())
        return true;
    TimeoutState timeout{loop_, false};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    struct timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), static_cast<pa_usec_t>(timeoutMs) * 1000);
    pa_time_event* event = api->time_new(api, &tv, OnTimeout, &timeout);
    bool ok = false;
    for (;;) {
        if (done()) {
            ok = true;
            break;
        }
        if (timeout.expired || failed_)
            break;
        pa_threaded_mainloop_wait(loop_);
    }
    api->time_free(event);
    return ok;
}

bool PulseWaveDevice::WaitOperation(pa_operation* op) {
    if (op == nullptr) {
        failed_ = true;
        return false;
    }
    const bool ok =
        WaitFor([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, kServerTimeoutMs);
    pa_operation_unref(op);
    if (!ok)
        failed_ = true; // a server that does not answer is treated as gone
    return ok;
}

MMRESULT PulseWaveDevice::Start() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr)
        return MMSYSERR_NOMEM;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Cadmo");
    if (context_ == nullptr)
        return MMSYSERR_NOMEM;
    pa_context_set_state_callback(context_, OnContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return MMSYSERR_NODRIVER;
    if (pa_threaded_mainloop_start(loop_) < 0)
        return MMSYSERR_NODRIVER;
    pa_threaded_mainloop_lock(loop_);
    const bool connected =
        WaitFor([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, kServerTimeoutMs);
    const bool streaming = connected && CreateStream(false);
    pa_threaded_mainloop_unlock(loop_);
    return streaming ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

void PulseWaveDevice::Shutdown() {
    if (loop_ == nullptr)
        return;
    pa_threaded_mainloop_lock(loop_);
    DropStream();
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr)
        pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
    context_ = nullptr;
    loop_ = nullptr;
}

bool PulseWaveDevice::CreateStream(bool corked) {
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec_.channels, PA_CHANNEL_MAP_WAVEEX);
    stream_ = pa_stream_new(context_, "Movie sound", &spec_, &map);
    if (stream_ == nullptr) {
        failed_ = true;
        return false;
    }
    fedBytes_ = 0;
    lastPlayed_ = 0;
    pa_stream_set_state_callback(stream_, OnStreamState, this);
    pa_stream_set_write_callback(stream_, OnWritable, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatencyUs, &spec_));
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(-1);
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                PA_STREAM_ADJUST_LATENCY |
                                                (corked ? PA_STREAM_START_CORKED : PA_STREAM_NOFLAGS));
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        failed_ = true;
        return false;
    }
    if (!WaitFor([&] { return pa_stream_get_state(stream_) == PA_STREAM_READY; }, kServerTimeoutMs)) {
        failed_ = true;
        return false;
    }
    return true;
}

void PulseWaveDevice::DropStream() {
    if (stream_ == nullptr)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    if (!failed_)
        pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseWaveDevice::Feed() {
    // Nothing is taken while paused: a buffer taken now would complete, and
    // its notification would run while the caller is still filling the ring.
    if (!Usable() || paused_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return;
    std::size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<std::size_t>(-1))
        return;
    bool wrote = false;
    while (!queue_.empty()) {
        Pending& head = queue_.front();
        const std::size_t left = head.header->dwBufferLength - head.offset;
        if (left > 0) {
            const std::size_t n = std::min(writable, left);
            if (n == 0)
                break;
            if (pa_stream_write(stream_, head.header->lpData + head.offset, n, nullptr, 0, PA_SEEK_RELATIVE) <
                0) {
                failed_ = true;
                return;
            }
            head.offset += n;
            writable -= n;
            fedBytes_ += n;
            wrote = true;
            if (n < left)
                break;
        }
        Complete(head.header);
        queue_.pop_front();
    }
    // With nothing more to come, start playing what the server holds even if
    // it is less than its pre-buffer, or the tail of the sound would wait for
    // data that never arrives.
    if (wrote && queue_.empty() && !paused_) {
        if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr))
            pa_operation_unref(op);
    }
}

MMRESULT PulseWaveDevice::Write(WAVEHDR* header) {
    pa_threaded_mainloop_lock(loop_);
    MMRESULT result = MMSYSERR_NODRIVER;
    if (Usable()) {
        MarkQueued(header);
        queue_.push_back({header, 0});
        Feed();
        result = MMSYSERR_NOERROR;
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

MMRESULT PulseWaveDevice::Pause() {
    pa_threaded_mainloop_lock(loop_);
    MMRESULT result = MMSYSERR_NODRIVER;
    if (Usable()) {
        result = MMSYSERR_NOERROR;
        if (!paused_) {
            if (WaitOperation(pa_stream_cork(stream_, 1, OnSuccess, this)))
                paused_ = true;
            else
                result = MMSYSERR_NODRIVER;
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

MMRESULT PulseWaveDevice::Restart() {
    pa_threaded_mainloop_lock(loop_);
    MMRESULT result = MMSYSERR_NODRIVER;
    if (Usable()) {
        result = MMSYSERR_NOERROR;
        if (paused_) {
            if (WaitOperation(pa_stream_cork(stream_, 0, OnSuccess, this))) {
                paused_ = false;
                Feed();
                if (queue_.empty() && fedBytes_ > 0) {
                    if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr))
                        pa_operation_unref(op);
                }
            } else {
                result = MMSYSERR_NODRIVER;
            }
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

MMRESULT PulseWaveDevice::Reset() {
    pa_threaded_mainloop_lock(loop_);
    const bool used = fedBytes_ > 0 || !queue_.empty();
    while (!queue_.empty()) {
        Complete(queue_.front().header);
        queue_.pop_front();
    }
    // A fresh stream drops what the server still holds and starts the
    // position at 0 again, which a flush of the old one would not. A stream
    // that never took any data is as good as new already.
    if (Usable() && used) {
        DropStream();
        CreateStream(paused_);
    }
    pa_threaded_mainloop_unlock(loop_);
    return MMSYSERR_NOERROR;
}

MMRESULT PulseWaveDevice::PlayedBytes(std::uint64_t* bytes) {
    pa_threaded_mainloop_lock(loop_);
    MMRESULT result = MMSYSERR_NODRIVER;
    if (Usable()) {
        pa_usec_t heard = 0;
        const int r = pa_stream_get_time(stream_, &heard);
        if (r == 0) {
            // Never beyond what was fed: interpolation may run a little past
            // the end of the data before the server reports the underrun.
            lastPlayed_ = std::min<std::uint64_t>(pa_usec_to_bytes(heard, &spec_), fedBytes_);
            result = MMSYSERR_NOERROR;
        } else if (r == -PA_ERR_NODATA) {
            result = MMSYSERR_NOERROR; // no timing yet: nothing heard since the last answer
        }
        *bytes = lastPlayed_;
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

std::size_t PulseWaveDevice::QueuedCount() {
    pa_threaded_mainloop_lock(loop_);
    const std::size_t n = queue_.size();
    pa_threaded_mainloop_unlock(loop_);
    return n;
}

void PulseWaveDevice::OnContextState(pa_context* context, void* self) {
    auto* device = static_cast<PulseWaveDevice*>(self);
    if (ContextGone(pa_context_get_state(context)))
        device->failed_ = true;
    pa_threaded_mainloop_signal(device->loop_, 0);
}

void PulseWaveDevice::OnStreamState(pa_stream* stream, void* self) {
    auto* device = static_cast<PulseWaveDevice*>(self);
    const pa_stream_state_t s = pa_stream_get_state(stream);
    if (s == PA_STREAM_FAILED || s == PA_STREAM_TERMINATED)
        device->failed_ = true;
    pa_threaded_mainloop_signal(device->loop_, 0);
}

void PulseWaveDevice::OnWritable(pa_stream*, std::size_t, void* self) {
    static_cast<PulseWaveDevice*>(self)->Feed();
}

void PulseWaveDevice::OnSuccess(pa_stream*, int, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulseWaveDevice*>(self)->loop_, 0);
}
