#include "PulseServer.h"

#include "support/Process.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace cadmo::test {

bool PulseServer::Start(unsigned sampleRate) {
    if (!HaveProgram("pulseaudio")) {
        error_ = "pulseaudio is not installed";
        return false;
    }
    // Everything the server writes stays in our directory; it never looks
    // at the user's session.
    const std::string dir = Dir();
    const std::pair<const char*, std::string> environment[] = {{"XDG_RUNTIME_DIR", dir},
                                                               {"PULSE_RUNTIME_PATH", dir + "/runtime"},
                                                               {"PULSE_STATE_PATH", dir + "/state"},
                                                               {"PULSE_CONFIG_PATH", dir + "/config"},
                                                               {"PULSE_COOKIE", dir + "/cookie"},
                                                               {"PULSE_SERVER", Address()}};
    for (const auto& [name, value] : environment)
        setenv(name, value.c_str(), 1);
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
            "--disallow-module-loading=no", "--log-target=stderr", "--log-level=error", "-L",
            "module-null-sink sink_name=cadmo rate=" + std::to_string(sampleRate) + " channels=2", "-L",
            "module-native-protocol-unix socket=" + dir + "/native auth-anonymous=1"},
        std::map<std::string, std::string>{}, "", dir + "/server.log");
    // Ready once a client is served and finds the sink. The socket alone is
    // not enough, and the server needs well under a second when warm but
    // much longer on a cold, busy machine: ask again until a generous
    // deadline, each question bounded in case the server hangs.
    const bool canAsk = HaveProgram("pactl") && HaveProgram("timeout");
    const std::string ask = "timeout 10 pactl --server=" + Address() + " list short sinks | grep -q cadmo";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!server_->Running()) {
            error_ = "pulseaudio exited at start (see " + dir + "/server.log)";
            return false;
        }
        if (std::filesystem::exists(dir + "/native") && (!canAsk || RunCommand(ask).exitCode == 0))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error_ = "pulseaudio did not answer within 60 s (see " + dir + "/server.log)";
    return false;
}

void PulseServer::Kill() {
    if (server_)
        server_->Stop(SIGKILL);
}

bool PulseServer::StartRecording(const std::string& rawPath, unsigned sampleRate) {
    if (!HaveProgram("parec")) {
        error_ = "parec is not installed";
        return false;
    }
    recorder_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"parec", "--server=" + Address(), "--device=cadmo.monitor", "--format=s16le",
                                 "--rate=" + std::to_string(sampleRate), "--channels=2", "--latency-msec=10",
                                 "--raw"},
        std::map<std::string, std::string>{}, rawPath, Dir() + "/parec.log");
    // The monitor takes a while to deliver its first data, and what plays
    // before then is never recorded: wait until the recording runs, longer
    // on a busy machine.
    for (int i = 0; i < 3000; ++i) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(rawPath, ec);
        if (!ec && size > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error_ = "parec recorded nothing";
    return false;
}

void PulseServer::StopRecording() {
    if (recorder_)
        recorder_->Stop(SIGINT);
}

} // namespace cadmo::test
