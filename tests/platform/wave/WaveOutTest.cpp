// The wave output layer on the null device: the published semantics the
// movie's audio relies on, with the device's time under the test's control.
#include "platform/wave/WaveOut.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits) {
    const auto align = static_cast<WORD>(channels * bits / 8);
    return {WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

class NullWaveTest : public ::testing::Test {
protected:
    // Records every notification (message and parameter), the thread it
    // came on and the buffers given back; `onDone` may act on done ones. The
    // tests read the records once the device has returned from a reset, a
    // close or a clock step, which wait for the notifications they cause.
    static void Callback(HWAVEOUT hwo, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
        auto* self = reinterpret_cast<NullWaveTest*>(instance);
        {
            std::lock_guard lock(self->mutex);
            self->events.emplace_back(message, param1);
            self->threads.push_back(std::this_thread::get_id());
            if (message == MM_WOM_DONE)
                self->done.push_back(reinterpret_cast<WAVEHDR*>(param1));
        }
        if (message == MM_WOM_DONE && self->onDone)
            self->onDone(hwo, reinterpret_cast<WAVEHDR*>(param1));
    }

    void SetUp() override {
        WaveSetBackend(WaveBackend::Null);
        options.manualClock = true;
    }
    void TearDown() override {
        if (device) {
            waveOutReset(device);
            for (WAVEHDR& h : headers)
                waveOutUnprepareHeader(device, &h, sizeof(WAVEHDR));
            EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
        }
        WaveNullSetOptions(WaveNullOptions{});
    }
    void Open(const WAVEFORMATEX& format) {
        WaveNullSetOptions(options);
        ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&Callback),
                              reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
    }
    // A header over storage of its own, prepared unless told otherwise.
    WAVEHDR* AddBuffer(std::size_t bytes, bool prepare = true) {
        WAVEHDR& h = headers.emplace_back();
        h.lpData = storage.emplace_back(bytes).data();
        h.dwBufferLength = static_cast<DWORD>(bytes);
        if (prepare) {
            EXPECT_EQ(waveOutPrepareHeader(device, &h, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
        return &h;
    }
    MMRESULT Write(WAVEHDR* h) { return waveOutWrite(device, h, sizeof(WAVEHDR)); }
    DWORD Samples() {
        MMTIME t{};
        t.wType = TIME_SAMPLES;
        EXPECT_EQ(waveOutGetPosition(device, &t, sizeof t), MMSYSERR_NOERROR);
        return t.u.sample;
    }

    WaveNullOptions options;
    HWAVEOUT device = nullptr;
    std::deque<std::vector<char>> storage;
    std::deque<WAVEHDR> headers;
    std::mutex mutex;
    std::vector<std::pair<UINT, DWORD_PTR>> events;
    std::vector<std::thread::id> threads;
    std::vector<WAVEHDR*> done;
    std::function<void(HWAVEOUT, WAVEHDR*)> onDone;
};

TEST_F(NullWaveTest, HeadersFollowThePublishedRulesAndNotificationsComeInOrderOnOneThread) {
    Open(Pcm(8000, 1, 8));
    WAVEHDR* a = AddBuffer(800, false); // 100 ms each
    EXPECT_EQ(Write(a), WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutPrepareHeader(device, a, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    WAVEHDR* b = AddBuffer(800);
    ASSERT_EQ(Write(a), MMSYSERR_NOERROR);
    ASSERT_EQ(Write(b), MMSYSERR_NOERROR);
    EXPECT_EQ(a->dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_INQUEUE);
    EXPECT_EQ(Write(a), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(device, a, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);
    WaveNullAdvanceClock(250);
    EXPECT_EQ(a->dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(device, a, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_FALSE(a->dwFlags & WHDR_PREPARED);
    waveOutUnprepareHeader(device, b, sizeof(WAVEHDR));
    headers.clear();
    ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    device = nullptr;

    // Close returned only after its notification: the record is complete.
    const std::vector<std::pair<UINT, DWORD_PTR>> expected = {{MM_WOM_OPEN, 0},
                                                              {MM_WOM_DONE, reinterpret_cast<DWORD_PTR>(a)},
                                                              {MM_WOM_DONE, reinterpret_cast<DWORD_PTR>(b)},
                                                              {MM_WOM_CLOSE, 0}};
    ASSERT_EQ(events, expected);
    EXPECT_EQ(threads, std::vector<std::thread::id>(4, threads[0]));
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

// A rate of 0 or a block that does not hold whole samples would stall or
// divide the device's clock by zero.
TEST_F(NullWaveTest, RefusesWhatItCannotPlay) {
    HWAVEOUT h = nullptr;
    WAVEFORMATEX adpcm = Pcm(22050, 1, 4), badAlign = Pcm(22050, 2, 16);
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    badAlign.nBlockAlign = 3;
    for (const WAVEFORMATEX& bad : {adpcm, badAlign, Pcm(0, 2, 16)})
        EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(h, nullptr);
}

TEST_F(NullWaveTest, PositionIsExactAndHoldsWhileStarved) {
    Open(Pcm(44100, 2, 16));
    WAVEHDR* a = AddBuffer(44100 * 4); // one second
    EXPECT_EQ(Samples(), 0u);
    ASSERT_EQ(Write(a), MMSYSERR_NOERROR);
    WaveNullAdvanceClock(250);
    EXPECT_EQ(Samples(), 11025u);
    WaveNullAdvanceClock(750);
    EXPECT_EQ(Samples(), 44100u);
    EXPECT_TRUE(a->dwFlags & WHDR_DONE);

    // Out of data, the position stops; new data plays on from there.
    WaveNullAdvanceClock(3000);
    EXPECT_EQ(Samples(), 44100u);
    ASSERT_EQ(Write(AddBuffer(44100 * 4)), MMSYSERR_NOERROR);
    WaveNullAdvanceClock(100);
    EXPECT_EQ(Samples(), 44100u + 4410u);
}

TEST_F(NullWaveTest, ResetReturnsEveryBufferBeforeItReturns) {
    Open(Pcm(22050, 2, 16));
    std::vector<WAVEHDR*> queued;
    for (int i = 0; i < 5; ++i) {
        queued.push_back(AddBuffer(22050 * 4));
        ASSERT_EQ(Write(queued.back()), MMSYSERR_NOERROR);
    }
    WaveNullAdvanceClock(1500); // the first is done
    ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
    // Slow notifications: a reset that returned before they have all run
    // would leave the caller freeing buffers the device still reports on.
    onDone = [](HWAVEOUT, WAVEHDR*) { std::this_thread::sleep_for(std::chrono::milliseconds(10)); };
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(done, queued);
    for (WAVEHDR* h : queued)
        EXPECT_EQ(h->dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_DONE);
    EXPECT_EQ(Samples(), 0u);

    // Still paused after the reset, as it was before.
    ASSERT_EQ(Write(queued[0]), MMSYSERR_NOERROR);
    WaveNullAdvanceClock(2000);
    EXPECT_EQ(Samples(), 0u);
    ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
    WaveNullAdvanceClock(500);
    EXPECT_EQ(Samples(), 11025u);
}

TEST_F(NullWaveTest, DoneCallbackMayRefillButNotResetOrClose) {
    Open(Pcm(8000, 1, 8));
    std::atomic<int> refills{0};
    std::atomic<MMRESULT> resetInside{MMSYSERR_NOERROR}, closeInside{MMSYSERR_NOERROR};
    onDone = [&](HWAVEOUT hwo, WAVEHDR* h) {
        resetInside = waveOutReset(hwo);
        closeInside = waveOutClose(hwo);
        if (refills < 6) {
            ++refills;
            EXPECT_EQ(waveOutWrite(hwo, h, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        }
    };
    Write(AddBuffer(80)); // 10 ms each
    Write(AddBuffer(80));
    // In steps, as time really passes: each refill lands before the device
    // runs dry, so the sound is continuous.
    for (int i = 0; i < 100; ++i)
        WaveNullAdvanceClock(10);
    EXPECT_EQ(refills, 6);
    EXPECT_EQ(done.size(), 8u);
    EXPECT_EQ(Samples(), 8u * 80u);
    EXPECT_EQ(resetInside, MMSYSERR_HANDLEBUSY);
    EXPECT_EQ(closeInside, MMSYSERR_HANDLEBUSY);
    onDone = nullptr;
}

TEST_F(NullWaveTest, RealClockConsumesAtTheFormatsRate) {
    options.manualClock = false;
    Open(Pcm(8000, 1, 8));
    WAVEHDR* a = AddBuffer(400); // 50 ms
    const auto start = std::chrono::steady_clock::now();
    Write(a);
    while (!(std::atomic_ref<DWORD>(a->dwFlags).load() & WHDR_DONE))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(49));
    EXPECT_EQ(Samples(), 400u);
}

} // namespace
