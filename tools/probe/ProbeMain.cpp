// cadmo-probe: describes an AVI file as the player's AVI library reads it.
//
//   cadmo-probe FILE            main header, streams, formats, index kind
//   cadmo-probe --index FILE    the same plus one line per chunk
//                               (sample, file offset, size, key flag)
//   cadmo-probe --json FILE     everything as JSON (with --index: the index too)
//   cadmo-probe --frames ...    decoding through the codecs: see ProbeFrames.h
//
// While a file without a usable index is scanned, the percentage done counts
// up on stderr when stderr is a terminal.
//
// Adding a mode: --frames is the model. Its code lives in a file of its own
// (ProbeFrames.cpp) and main hands it the whole command line.
//
// Exit codes: 0 success (also for --help, which prints the usage on stdout),
// 1 the file cannot be read (one line on stderr naming the cause), 2 wrong
// usage.
#include "ProbeFrames.h"
#include "ProbeReport.h"
#include "TerminalProgress.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "usage: cadmo-probe [--index] [--json] FILE\n       cadmo-probe --frames ...\n";

// Wrong usage: the usage on standard error, status 2.
int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// The usage asked for with --help: an answer, on standard output.
int Help() {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // A long index rebuild counts up on a terminal; piped output stays as it was.
    TerminalProgress progress(stderr, isatty(STDERR_FILENO) == 1);
    if (argc >= 2 && std::strcmp(argv[1], "--frames") == 0)
        return RunFrames(argc, argv);
    bool index = false, json = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--index") == 0)
            index = true;
        else if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return Help();
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return Usage();
        else if (path)
            return Usage();
        else
            path = argv[i];
    }
    if (!path)
        return Usage();

    AVIFileInit();
    ProbeReport report;
    const HRESULT hr = report.Load(path, index);
    if (hr != AVIERR_OK) {
        progress.Clear();
        std::fprintf(stderr, "cadmo-probe: %s: %s\n", path, ProbeReport::DescribeError(hr).c_str());
        AVIFileExit();
        return 1;
    }
    if (json)
        report.PrintJson(stdout);
    else
        report.PrintText(stdout);
    AVIFileExit();
    return std::fflush(stdout) == 0 ? 0 : 1;
}
