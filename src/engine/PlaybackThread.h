// The thread that draws frames while the player plays.
//
// It loops until asked to stop: under playerLock it tests playerPlaying; while
// clear it idles (33 ms at a time, woken early by Wake or a stop request);
// at the last frame it clears playerPlaying and posts IDM_STOP (and, with
// loopPlayback, IDM_REWIND and IDM_PLAY) to the movie's owner window; otherwise
// it runs one Movie::ShowFrame under the lock. Between steps it sleeps until
// the next frame is due, re-reading the clock at least every 5 ms, so an audio
// clock is followed as closely as by continuous polling. It wakes for a frame
// early by about the time the recent frames took to decode, decodes it then,
// and shows it (Movie::PresentFrame) when it is due, so a frame that is slow
// to decode, such as a key frame, is not late for it.
//
// A stop request is honoured only between frame steps, never while the thread
// holds playerLock. Start, Wake and Stop are called on the window thread; Stop
// must not be called while holding playerLock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

class Movie;

class PlaybackThread {
public:
    // How many of the latest decoding times set the look-ahead.
    static constexpr std::size_t kCostWindow = 32;

    explicit PlaybackThread(Movie* movie);
    ~PlaybackThread(); // Stop()
    PlaybackThread(const PlaybackThread&) = delete;
    PlaybackThread& operator=(const PlaybackThread&) = delete;

    // Cuts the current idle or pacing sleep short (after playing starts).
    void Wake();
    // Asks the thread to end and joins it. Idempotent.
    void Stop();

private:
    void Run();
    bool StopRequested();
    // Waits up to `ms` milliseconds; returns false when a stop was requested.
    bool WaitFor(int ms);
    // Waits until the stop request or `deadline`; false when stopping.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);

    Movie* movie;
    std::mutex wakeLock;
    std::condition_variable wakeSignal;
    bool stopRequested = false;
    bool woken = false;
    std::thread thread;
};
