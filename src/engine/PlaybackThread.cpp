#include "engine/PlaybackThread.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/Movie.h"
#include "engine/OwnerWindow.h"
#include "engine/Player.h"

namespace {

// Idle wake-up period while not playing, and the longest the thread goes
// without re-reading the clock while playing (an audio clock may run at its
// own pace, so the due time of the next frame is only an estimate).
constexpr int kIdleMs = 33;
constexpr int kMaxPaceMs = 5;

// How far ahead a frame is decoded: the longest of the recent decoding times
// (key frames cost several times the others, and come round within the
// window), rounded up, with a millisecond for waking. It never exceeds half
// a frame, so the picture on screen is always the one due or the one before,
// nor 20 ms.
int LeadMs(const std::array<double, PlaybackThread::kCostWindow>& costsMs, float framesPerSecond) {
    const double longest = *std::max_element(costsMs.begin(), costsMs.end());
    if (longest <= 0.0)
        return 0;
    const double halfFrame = framesPerSecond > 0.0f ? 500.0 / framesPerSecond : 20.0;
    return static_cast<int>(std::ceil(std::min({longest + 1.0, halfFrame, 20.0})));
}

// Waits on the boundary of the millisecond where the clock reaches the due
// time: the clock advances on whole milliseconds of the monotonic clock, so
// this shows the frame within a fraction of a millisecond of it, where
// waiting `ms` from an arbitrary moment inside the current millisecond would
// not.
std::chrono::steady_clock::time_point TickAfter(int ms) {
    const auto tick =
        std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now());
    return tick + std::chrono::milliseconds(std::min(ms, kMaxPaceMs));
}

} // namespace

PlaybackThread::PlaybackThread(Movie* m) : movie(m) {
    if (movie)
        thread = std::thread([this] { Run(); });
}

PlaybackThread::~PlaybackThread() {
    Stop();
}

void PlaybackThread::Wake() {
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        woken = true;
    }
    wakeSignal.notify_all();
}

void PlaybackThread::Stop() {
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        stopRequested = true;
    }
    wakeSignal.notify_all();
    if (thread.joinable())
        thread.join();
}

bool PlaybackThread::WaitFor(int ms) {
    return WaitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
}

bool PlaybackThread::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(wakeLock);
    wakeSignal.wait_until(guard, deadline, [this] { return stopRequested || woken; });
    woken = false;
    return !stopRequested;
}

bool PlaybackThread::StopRequested() {
    std::lock_guard<std::mutex> guard(wakeLock);
    return stopRequested;
}

void PlaybackThread::Run() {
    std::array<double, kCostWindow> costsMs{};
    std::size_t nextCost = 0;
    while (!StopRequested()) {
        std::unique_lock<std::mutex> lock(playerLock);
        if (!playerPlaying) {
            lock.unlock();
            WaitFor(kIdleMs);
            continue;
        }
        // A frame decoded ahead is shown when it is due, before anything else
        // (it may be the last frame, whose showing ends the play).
        if (movie->FramePending()) {
            const int waitMs = movie->PendingDueTime() - movie->CurrentStreamTime();
            if (waitMs <= 0)
                movie->PresentFrame();
            lock.unlock();
            if (waitMs > 0)
                WaitUntil(TickAfter(waitMs));
            continue;
        }
        if (movie->position == movie->lastFrame) {
            playerPlaying = 0;
            lock.unlock();
            if (OwnerWindow* owner = movie->ownerWindow) {
                owner->PostCommand(IDM_STOP);
                if (loopPlayback) {
                    owner->PostCommand(IDM_REWIND);
                    owner->PostCommand(IDM_PLAY);
                }
            }
            continue;
        }
        const int leadMs = LeadMs(costsMs, movie->frameRate);
        const LONG decodedBefore = movie->decodedFrame;
        const auto started = std::chrono::steady_clock::now();
        const LONG status = movie->ShowFrame(leadMs);
        if (movie->decodedFrame != decodedBefore) {
            costsMs[nextCost] =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
            nextCost = (nextCost + 1) % costsMs.size();
        }
        // Sleep until the held-back frame is due, or until the next frame is
        // to be decoded; the last frame has no successor, and its end is seen
        // by the very next pass. A failed step is retried soon, when the
        // clock may have moved on.
        int waitMs = kMaxPaceMs;
        if (status == 0) {
            if (movie->FramePending())
                waitMs = movie->PendingDueTime() - movie->CurrentStreamTime();
            else if (movie->position == movie->lastFrame)
                waitMs = 0;
            else
                waitMs = movie->NextFrameDueTime() - leadMs - movie->CurrentStreamTime();
        }
        lock.unlock();
        if (waitMs > 0)
            WaitUntil(TickAfter(waitMs));
    }
}
