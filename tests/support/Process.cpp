#include "support/Process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavutil/md5.h>
}

namespace cadmo::test {

ProcessResult RunCommand(const std::string& commandLine, bool errToOut) {
    ProcessResult r;
    const std::string cmd = commandLine + (errToOut ? " 2>&1" : " 2>/dev/null");
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return r;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        r.out.append(buffer, n);
    const int status = pclose(p);
    r.exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

bool HaveProgram(const std::string& name) {
    return RunCommand("command -v " + ShellQuote(name) + " >/dev/null").exitCode == 0;
}

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Md5Hex(const std::vector<unsigned char>& bytes) {
    uint8_t digest[16];
    av_md5_sum(digest, bytes.data(), static_cast<int>(bytes.size()));
    static const char hex[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : digest)
        s += {hex[b >> 4], hex[b & 15]};
    return s;
}

std::string BinDir() {
    const char* dir = std::getenv("CADMO_BIN_DIR");
    return dir && *dir ? std::string(dir) + "/" : std::string();
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env, const std::string& outPath,
                           const std::string& errPath) {
    // The child must not inherit unwritten output and write it a second time.
    std::fflush(stdout);
    std::fflush(stderr);
    pid_ = fork();
    if (pid_ != 0)
        return;
    // Its own process group, so that nothing it starts outlives it; and
    // ended when the test goes, also when the test is killed (a timeout on a
    // slow machine), so that no server is left holding the test's output.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1)
        _exit(127);
    for (const auto& [name, value] : env)
        setenv(name.c_str(), value.c_str(), 1);
    dup2(open("/dev/null", O_RDONLY), 0);
    if (!outPath.empty())
        dup2(open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 1);
    if (!errPath.empty())
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), 2);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

ChildProcess::~ChildProcess() {
    Stop(SIGTERM);
}

bool ChildProcess::Reap(int options) {
    int status = 0;
    struct rusage usage {};
    if (wait4(pid_, &status, options, &usage) != pid_)
        return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    cpuSeconds_ = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return true;
}

bool ChildProcess::Running() {
    if (pid_ > 0 && !status_)
        Reap(WNOHANG);
    return pid_ > 0 && !status_;
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return status_;
}

void ChildProcess::Stop(int signal) {
    if (!Running())
        return;
    kill(pid_, signal);
    if (!Wait(3000)) {
        kill(pid_, SIGKILL);
        Reap(0);
        status_ = -1;
    }
}

} // namespace cadmo::test
