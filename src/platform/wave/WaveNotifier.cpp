#include "platform/wave/WaveNotifier.h"

WaveNotifier::WaveNotifier(HWAVEOUT device, WAVECALLBACK callback, DWORD_PTR instance)
    : device_(device), callback_(callback), instance_(instance), thread_([this] { Run(); }) {}

WaveNotifier::~WaveNotifier() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    posted_.notify_all();
    // The owner flushes before destroying us; destruction from the
    // notification thread itself would be a misuse the handle layer refuses.
    if (thread_.joinable())
        thread_.join();
}

void WaveNotifier::Post(UINT message, DWORD_PTR param1) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({message, param1});
        ++postedCount_;
    }
    posted_.notify_one();
}

void WaveNotifier::Flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = postedCount_;
    delivered_.wait(lock, [&] { return deliveredCount_ >= target; });
}

void WaveNotifier::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        posted_.wait(lock, [&] { return quit_ || !queue_.empty(); });
        if (queue_.empty())
            return; // quit with nothing left to deliver
        Message m = queue_.front();
        queue_.pop_front();
        lock.unlock();
        if (callback_)
            callback_(device_, m.message, instance_, m.param1, 0);
        lock.lock();
        ++deliveredCount_;
        delivered_.notify_all();
    }
}
