// Runs programs beside a test: external tools (ffmpeg, ffprobe, our own
// programs) whose output a test reads, and long-running ones (a server, the
// player itself) that it starts and ends.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace cadmo::test {

struct ProcessResult {
    int exitCode = -1; // -1 when the program could not be run or was killed
    std::string out;   // standard output
};

// Runs a shell command line; standard error is dropped, or appended to `out`
// when errToOut is set.
ProcessResult RunCommand(const std::string& commandLine, bool errToOut = false);

// True when `name` is found on PATH.
bool HaveProgram(const std::string& name);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& s);

// The MD5 of some bytes in lower-case hex, as ffmpeg's framemd5 prints it.
std::string Md5Hex(const std::vector<unsigned char>& bytes);

// Directory of the build's programs (bin/), from CADMO_BIN_DIR, with a
// trailing slash; empty when unset.
std::string BinDir();

// A program started with fork and exec in a process group of its own and
// ended when the object goes away unless it has exited already.
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
