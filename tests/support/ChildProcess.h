// A program run beside a test (a server, a recorder, the player itself),
// started with fork and exec in a process group of its own and ended when
// the object goes away unless it has exited already.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace cadmo::test {

class ChildProcess {
public:
    // Standard input reads /dev/null; standard output and error go to the
    // named files (appended to) or stay the test's.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::map<std::string, std::string>& env = {}, const std::string& outPath = "",
                          const std::string& errPath = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running();
    // The exit code once the child ends within `timeoutMs`; -1 when a signal
    // ended it; nothing on timeout.
    std::optional<int> Wait(int timeoutMs);
    // Sends `signal` and waits a few seconds for the end, then kills.
    void Stop(int signal);
    // User plus system CPU seconds the child used, once it has ended (and
    // those of its own children that it waited for); 0 before.
    double CpuSeconds() const { return cpuSeconds_; }

private:
    // Waits for the child's end (`options` as for waitpid) and keeps its
    // status and CPU time; true when it has ended.
    bool Reap(int options);

    pid_t pid_ = -1;
    std::optional<int> status_;
    double cpuSeconds_ = 0;
};

} // namespace cadmo::test
