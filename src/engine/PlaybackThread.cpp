#include "engine/PlaybackThread.h"

#include <algorithm>

#include "engine/Movie.h"
#include "engine/OwnerWindow.h"
#include "engine/Player.h"

namespace {

// Idle wake-up period while not playing, and the longest the thread goes
// without re-reading the clock while playing (an audio clock may run at its
// own pace, so the due time of the next frame is only an estimate).
constexpr int kIdleMs = 33;
constexpr int kMaxPaceMs = 5;

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
    while (!StopRequested()) {
        std::unique_lock<std::mutex> lock(playerLock);
        if (!playerPlaying) {
            lock.unlock();
            WaitFor(kIdleMs);
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
        const LONG status = movie->ShowFrame();
        // Sleep until the frame on screen is due to change; the last frame
        // has no successor, and its end is seen by the very next pass. A
        // failed step is retried soon, when the clock may have moved on.
        int waitMs = kMaxPaceMs;
        if (status == 0) {
            if (movie->position == movie->lastFrame)
                waitMs = 0;
            else
                waitMs = movie->NextFrameDueTime() - movie->CurrentStreamTime();
        }
        lock.unlock();
        if (waitMs > 0) {
            // The clock advances on whole milliseconds of the monotonic clock:
            // waking on the boundary where it reaches the due time (rather
            // than waitMs after an arbitrary moment inside the current
            // millisecond) shows the frame within a fraction of a millisecond.
            const auto tick =
                std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now());
            WaitUntil(tick + std::chrono::milliseconds(std::min(waitMs, kMaxPaceMs)));
        }
    }
}
