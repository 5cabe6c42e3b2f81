// The base of the tests that play through a private PulseAudio server: the
// server started before each test (which skips when pulseaudio is not
// installed) with the wave layer sent to it, and everything undone after.
#pragma once

#include "PulseServer.h"
#include "platform/wave/WaveOut.h"

#include <gtest/gtest.h>

namespace cadmo::test {

inline constexpr unsigned kPulseRate = 44100;

class PulseTest : public ::testing::Test {
protected:
    static constexpr unsigned kRate = kPulseRate;

    // A derived SetUp goes on only when this one neither skipped nor failed.
    void SetUp() override {
        if (!server.Start(kRate)) {
            if (server.Error().find("not installed") != std::string::npos)
                GTEST_SKIP() << server.Error();
            FAIL() << server.Error();
        }
        WaveSetBackend(WaveBackend::Pulse);
    }
    void TearDown() override { WaveSetBackend(WaveBackend::Auto); }
    bool Ready() const { return !IsSkipped() && !HasFailure(); }

    PulseServer server;
};

} // namespace cadmo::test
