// Runs external tools (ffmpeg, ffprobe, our own programs) from tests.
#pragma once

#include "support/MiniJson.h"

#include <string>

namespace cadmo::test {

struct ProcessResult {
    int exitCode = -1; // -1 when the program could not be run or was killed
    std::string out;   // standard output
};

// Runs a shell command line; standard error goes to a temporary file and is
// appended to `out` only when errToOut is set.
ProcessResult RunCommand(const std::string& commandLine, bool errToOut = false);

// True when `name` is found on PATH.
bool HaveProgram(const std::string& name);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& s);

// `ffprobe -show_packets -show_streams -of json` of a file, parsed; false
// when ffprobe fails or prints something that is not JSON.
bool RunFfprobe(const std::string& path, JsonValue& out);

// Directory of the build's programs (bin/), from CADMO_BIN_DIR, with a
// trailing slash; empty when unset.
std::string BinDir();

} // namespace cadmo::test
