#include "PulseServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cadmo::test {

namespace {

bool OnPath(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& logPath, const std::string& outPath) {
    // The child must not inherit unwritten output and write it a second time.
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // Child: its own process group so that nothing it starts outlives it.
    setpgid(0, 0);
    if (!outPath.empty())
        freopen(outPath.c_str(), "w", stdout);
    freopen(logPath.c_str(), "a", stderr);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

void EndChild(pid_t& pid, int signal) {
    if (pid <= 0)
        return;
    kill(pid, signal);
    int status = 0;
    // Give it a few seconds, then make sure.
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
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
    server_ = Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                     "--disallow-module-loading=no", "--log-target=stderr", "--log-level=error", "-L",
                     "module-null-sink sink_name=cadmo rate=" + rate + " channels=2", "-L",
                     "module-native-protocol-unix socket=" + dir_ + "/native auth-anonymous=1"},
                    dir_ + "/server.log", "");
    if (server_ < 0) {
        error_ = "cannot start pulseaudio";
        return false;
    }
    // Wait for the socket; the server needs well under a second.
    const std::string socket = dir_ + "/native";
    for (int i = 0; i < 500; ++i) {
        struct stat st;
        if (stat(socket.c_str(), &st) == 0)
            return true;
        int status = 0;
        if (waitpid(server_, &status, WNOHANG) == server_) {
            server_ = -1;
            error_ = "pulseaudio exited at start (see " + dir_ + "/server.log)";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error_ = "pulseaudio did not open its socket";
    return false;
}

void PulseServer::Stop() {
    EndChild(server_, SIGTERM);
}

void PulseServer::Kill() {
    EndChild(server_, SIGKILL);
}

bool PulseServer::StartRecording(const std::string& rawPath, unsigned sampleRate) {
    if (!OnPath("parec")) {
        error_ = "parec is not installed";
        return false;
    }
    recorder_ = Spawn({"parec", "--server=" + Address(), "--device=cadmo.monitor", "--format=s16le",
                       "--rate=" + std::to_string(sampleRate), "--channels=2", "--latency-msec=10", "--raw"},
                      dir_ + "/parec.log", rawPath);
    if (recorder_ <= 0)
        return false;
    // The monitor takes a while to deliver its first data, and what plays
    // before then is never recorded: wait until the recording runs.
    for (int i = 0; i < 500; ++i) {
        struct stat st;
        if (stat(rawPath.c_str(), &st) == 0 && st.st_size > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error_ = "parec recorded nothing";
    return false;
}

void PulseServer::StopRecording() {
    EndChild(recorder_, SIGINT);
}

} // namespace cadmo::test
