// A private PulseAudio server for tests: a null sink named "cadmo" and a unix
// socket in a temporary directory, with PULSE_SERVER pointing at it for the
// rest of the test process. Stopped with the object (the recorder first), or
// killed by the test.
#pragma once

#include "support/Process.h"
#include "support/TempDir.h"

#include <memory>
#include <string>

namespace cadmo::test {

class PulseServer {
public:
    // False when the pulseaudio program is missing (the test skips) or the
    // server did not come up; Error() says which.
    bool Start(unsigned sampleRate = 44100);
    // SIGKILL, to make the server vanish under a client.
    void Kill();

    const std::string& Error() const { return error_; }
    const std::string& Dir() const { return dir_.Path(); }
    // The address clients use, as PULSE_SERVER takes it.
    std::string Address() const { return "unix:" + dir_.Path() + "/native"; }

    // Records the sink's monitor with parec into a raw s16le stereo file
    // until StopRecording; returns once the recording has begun.
    bool StartRecording(const std::string& rawPath, unsigned sampleRate = 44100);
    void StopRecording();

private:
    TempDir dir_;
    std::string error_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> recorder_; // ended before the server
};

} // namespace cadmo::test
