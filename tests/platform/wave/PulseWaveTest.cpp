// The pulse backend against a real server that the test starts: a server
// that dies does not take the caller with it. (What the sink hears is the
// movie's audio test, through this backend.)
#include "PulseTest.h"

#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class PulseWaveTest : public cadmo::test::PulseTest {};

TEST_F(PulseWaveTest, ServerDeathIsAFailureNotAHang) {
    const WAVEFORMATEX stereo16{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
    // Three seconds of sound in two buffers, still playing when the server
    // dies (what it sounds like does not matter here).
    std::vector<std::int16_t> sound(kRate * 3 * 2);
    HWAVEOUT device = nullptr;
    ASSERT_EQ(waveOutOpen(&device, WAVE_MAPPER, &stereo16, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    WAVEHDR headers[2]{};
    for (int i = 0; i < 2; ++i) {
        headers[i].lpData = reinterpret_cast<char*>(sound.data()) + i * sound.size();
        headers[i].dwBufferLength = static_cast<DWORD>(sound.size());
        ASSERT_EQ(waveOutPrepareHeader(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    std::this_thread::sleep_for(300ms);
    server.Kill();

    MMTIME t{};
    t.wType = TIME_SAMPLES;
    MMRESULT r = MMSYSERR_NOERROR;
    for (int i = 0; i < 500 && r == MMSYSERR_NOERROR; ++i) {
        r = waveOutGetPosition(device, &t, sizeof t);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(r, MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutPause(device), MMSYSERR_NODRIVER);
    // The reset gives every buffer back, so the close succeeds.
    waveOutReset(device);
    for (WAVEHDR& h : headers) {
        EXPECT_EQ(h.dwFlags & (WHDR_INQUEUE | WHDR_DONE), WHDR_DONE);
        waveOutUnprepareHeader(device, &h, sizeof(WAVEHDR));
    }
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);

    // With no server, opening fails at once instead of waiting for one.
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &stereo16, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
}

} // namespace
