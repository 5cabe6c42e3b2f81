// The notification thread of one wave output handle: delivers MM_WOM_*
// messages to the handle's callback one at a time, in the order they were
// posted, never on the thread that posted them.
#pragma once

#include "platform/wave/WaveOut.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

class WaveNotifier {
public:
    WaveNotifier(HWAVEOUT device, WAVECALLBACK callback, DWORD_PTR instance);
    ~WaveNotifier();
    WaveNotifier(const WaveNotifier&) = delete;
    WaveNotifier& operator=(const WaveNotifier&) = delete;

    // Queues a message. Cheap and never blocks on the callback, so it may be
    // called with a backend lock held.
    void Post(UINT message, DWORD_PTR param1);

    // Waits until every message posted before the call has been delivered.
    // Must not be called on the notification thread (it would wait for itself).
    void Flush();

    bool OnNotificationThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    struct Message {
        UINT message;
        DWORD_PTR param1;
    };
    void Run();

    HWAVEOUT device_;
    WAVECALLBACK callback_;
    DWORD_PTR instance_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable delivered_;
    std::deque<Message> queue_;
    std::uint64_t postedCount_ = 0;
    std::uint64_t deliveredCount_ = 0;
    bool quit_ = false;
    std::thread thread_;
};
