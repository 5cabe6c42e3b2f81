#include "support/Process.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

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

bool RunFfprobe(const std::string& path, JsonValue& out) {
    const ProcessResult r =
        RunCommand("ffprobe -v error -show_packets -show_streams -of json " + ShellQuote(path));
    return r.exitCode == 0 && ParseJson(r.out, out);
}

std::string BinDir() {
    const char* dir = std::getenv("CADMO_BIN_DIR");
    return dir && *dir ? std::string(dir) + "/" : std::string();
}

} // namespace cadmo::test
