#include "PulseServer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace cadmo::test {

namespace {

bool OnPath(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

PulseServer::PulseServer() = default;

PulseServer::~PulseServer() {
    StopRecording();
    Stop();
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool PulseServer::Start(unsigned sampleRate) {
    if (!OnPath("pulseaudio")) {
        error_ = "pulseaudio is not installed";
        return false;
    }
    char templ[] = "/tmp/cadmo-pulse-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
        error_ = "cannot make a temporary directory";
        return false;
    }
    dir_ = templ;
    // Everything the server writes stays in our directory; it never looks
    // at the user's session.
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    setenv("PULSE_RUNTIME_PATH", (dir_ + "/runtime").c_str(), 1);
    setenv("PULSE_STATE_PATH", (dir_ + "/state").c_str(), 1);
    setenv("PULSE_CONFIG_PATH", (dir_ + "/config").c_str(), 1);
    setenv("PULSE_COOKIE", (dir_ + "/cookie").c_str(), 1);
    setenv("PULSE_SERVER", Address().c_str(), 1);
    const std::string rate = std::to_string(sampleRate);
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                 "--use-pid-file=no", "--disallow-module-loading=no", "--log-target=stderr",
                                 "--log-level=error", "-L",
                                 "module-null-sink sink_name=cadmo rate=" + rate + " channels=2", "-L",
                                 "module-native-protocol-unix socket=" + dir_ + "/native auth-anonymous=1"},
        std::map<std::string, std::string>{}, "", dir_ + "/server.log");
    // Ready once a client is served and finds the sink. The socket alone is
    // not enough, and the server needs well under a second when warm but
    // much longer on a cold, busy machine: ask again until a generous
    // deadline, each question bounded in case the server hangs.
    const std::string socket = dir_ + "/native";
    const std::string probe =
        "timeout 10 pactl --server=" + Address() + " list short sinks 2>/dev/null | grep -q cadmo";
    const bool canProbe = OnPath("pactl") && OnPath("timeout");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!server_->Running()) {
            error_ = "pulseaudio exited at start (see " + dir_ + "/server.log)";
            return false;
        }
        struct stat st;
        if (stat(socket.c_str(), &st) == 0) {
            if (!canProbe)
                return true;
            if (std::system(probe.c_str()) == 0)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error_ = "pulseaudio did not answer within 60 s (see " + dir_ + "/server.log)";
    return false;
}

void PulseServer::Stop() {
    if (server_)
        server_->Stop(SIGTERM);
}

void PulseServer::Kill() {
    if (server_)
        server_->Stop(SIGKILL);
}

bool PulseServer::StartRecording(const std::string& rawPath, unsigned sampleRate) {
    if (!OnPath("parec")) {
        error_ = "parec is not installed";
        return false;
    }
    recorder_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"parec", "--server=" + Address(), "--device=cadmo.monitor", "--format=s16le",
                                 "--rate=" + std::to_string(sampleRate), "--channels=2", "--latency-msec=10",
                                 "--raw"},
        std::map<std::string, std::string>{}, rawPath, dir_ + "/parec.log");
    // The monitor takes a while to deliver its first data, and what plays
    // before then is never recorded: wait until the recording runs, longer
    // on a busy machine.
    for (int i = 0; i < 3000; ++i) {
        struct stat st;
        if (stat(rawPath.c_str(), &st) == 0 && st.st_size > 0)
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
