// The pulse backend against a real server that the test starts: what is
// played is what the sink receives, and a server that dies does not take the
// caller with it.
#include "platform/wave/WaveOut.h"

#include "PulseServer.h"
#include "Tones.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using cadmo::test::PulseServer;
using namespace std::chrono_literals;

constexpr unsigned kRate = 44100;

constexpr WAVEFORMATEX kStereo16{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};

// Streams a sound through a ring of blocks refilled from the done
// notification, the way the movie's audio does.
struct RingPlayer {
    static constexpr DWORD kBlockBytes = 4096 * 4;
    std::vector<std::int16_t> sound;
    std::size_t offset = 0;
    std::vector<char> data[8];
    WAVEHDR headers[8]{};
    HWAVEOUT device = nullptr;
    std::atomic<int> outstanding{0};
    std::atomic<bool> stopping{false};

    explicit RingPlayer(std::vector<std::int16_t> s) : sound(std::move(s)) {}
    MMRESULT Open() {
        const MMRESULT r =
            waveOutOpen(&device, WAVE_MAPPER, &kStereo16, reinterpret_cast<DWORD_PTR>(&Callback),
                        reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
        for (int i = 0; i < 8 && r == MMSYSERR_NOERROR; ++i) {
            data[i].resize(kBlockBytes);
            headers[i].lpData = data[i].data();
            headers[i].dwBufferLength = kBlockBytes;
            waveOutPrepareHeader(device, &headers[i], sizeof(WAVEHDR));
        }
        return r;
    }
    void Play() {
        waveOutPause(device);
        for (WAVEHDR& h : headers)
            FillAndWrite(&h);
        waveOutRestart(device);
    }
    bool Finished() const { return outstanding == 0; }
    void Close() {
        stopping = true;
        waveOutReset(device);
        for (WAVEHDR& h : headers)
            waveOutUnprepareHeader(device, &h, sizeof(WAVEHDR));
        EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    }
    static void Callback(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
        auto* self = reinterpret_cast<RingPlayer*>(instance);
        if (message != MM_WOM_DONE)
            return;
        --self->outstanding;
        if (!self->stopping)
            self->FillAndWrite(reinterpret_cast<WAVEHDR*>(param1));
    }
    void FillAndWrite(WAVEHDR* h) {
        const std::size_t bytes = sound.size() * 2;
        if (offset >= bytes)
            return;
        const std::size_t n = std::min<std::size_t>(kBlockBytes, bytes - offset);
        std::memcpy(h->lpData, reinterpret_cast<const char*>(sound.data()) + offset, n);
        h->dwBufferLength = static_cast<DWORD>(n);
        offset += n;
        ++outstanding;
        if (waveOutWrite(device, h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
            --outstanding;
    }
};

class PulseWaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.Start(kRate)) {
            if (server.Error().find("not installed") != std::string::npos)
                GTEST_SKIP() << server.Error();
            FAIL() << server.Error();
        }
        WaveSetBackend(WaveBackend::Pulse);
    }
    void TearDown() override { WaveSetBackend(WaveBackend::Auto); }
    PulseServer server;
};

TEST_F(PulseWaveTest, SinkHearsTheTonesInOrderWithoutGaps) {
    const std::vector<cadmo::test::Tone> tones = {
        {500, 13230}, {1500, 8820}, {1000, 17640}, {2500, 8820}, {2000, 13230}};
    const auto sound = cadmo::test::MakeTones(tones, kRate);
    const std::string raw = server.Dir() + "/heard.raw";
    ASSERT_TRUE(server.StartRecording(raw, kRate));

    RingPlayer player(sound);
    ASSERT_EQ(player.Open(), MMSYSERR_NOERROR);
    player.Play();
    DWORD lastPosition = 0;
    for (int i = 0; i < 1000 && !player.Finished(); ++i) {
        MMTIME t{};
        t.wType = TIME_SAMPLES;
        ASSERT_EQ(waveOutGetPosition(player.device, &t, sizeof t), MMSYSERR_NOERROR);
        EXPECT_GE(t.u.sample, lastPosition) << "the position went backwards";
        lastPosition = t.u.sample;
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(player.Finished());
    std::this_thread::sleep_for(600ms); // the server's buffer plays out
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    ASSERT_EQ(waveOutGetPosition(player.device, &t, sizeof t), MMSYSERR_NOERROR);
    // The server's latency estimate after the end may keep a few ms back.
    EXPECT_NEAR(t.u.sample, sound.size() / 2.0, kRate / 50.0) << "the position ends where the sound ends";
    player.Close();
    server.StopRecording();

    const auto heard = cadmo::test::Listen(cadmo::test::ReadRawFile(raw), kRate);
    EXPECT_EQ(cadmo::test::ToneOrder(heard), (std::vector<double>{500, 1500, 1000, 2500, 2000}));
    EXPECT_NEAR(heard.soundMs, sound.size() / 2 * 1000.0 / kRate, 50);
    EXPECT_EQ(heard.gapsOver20Ms, 0) << "longest gap " << heard.longestGapMs << " ms";
    // Each tone as long as it was written: nothing dropped, doubled or reordered.
    for (const auto& tone : tones)
        EXPECT_NEAR(cadmo::test::HeardMsOf(heard, tone.hz), tone.samples * 1000.0 / kRate, 30)
            << tone.hz << " Hz";
}

TEST_F(PulseWaveTest, ServerDeathIsAFailureNotAHang) {
    const auto sound = cadmo::test::MakeTones({{1000, int(kRate) * 3}}, kRate);
    RingPlayer player(sound);
    ASSERT_EQ(player.Open(), MMSYSERR_NOERROR);
    player.Play();
    std::this_thread::sleep_for(300ms);
    server.Kill();

    MMTIME t{};
    t.wType = TIME_SAMPLES;
    MMRESULT r = MMSYSERR_NOERROR;
    for (int i = 0; i < 500 && r == MMSYSERR_NOERROR; ++i) {
        r = waveOutGetPosition(player.device, &t, sizeof t);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(r, MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutPause(player.device), MMSYSERR_NODRIVER);
    player.Close(); // the reset gives every buffer back, so the close succeeds
    EXPECT_TRUE(player.Finished());

    // With no server, opening fails at once instead of waiting for one.
    HWAVEOUT h = nullptr;
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &kStereo16, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
}

} // namespace
