// The program's command line: "cadmo [OPTIONS] [FILE]".
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // The movie to open at start; empty for none. The whole argument is the
    // path: a name with blanks arrives in one piece when the shell quotes it.
    std::string file;
    // "pulse", "null" or "auto"; empty when not given.
    std::string audio;
    // For scripts and demonstrations: start playing once the file is open,
    // and stop after `playForMs` (0: play on); end the program after
    // `quitAfterMs` (0: run until closed).
    bool play = false;
    int playForMs = 0;
    int quitAfterMs = 0;
    // What went wrong, for Action::Error.
    std::string error;
};

// Parses the arguments after the program name. Options: --help (-h),
// --version, --audio=pulse|null|auto, --play[=MS], --quit-after=MS; "--"
// ends the options, so a file whose name starts with '-' can be named after
// it. At most one file.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& program);
std::string VersionText();
