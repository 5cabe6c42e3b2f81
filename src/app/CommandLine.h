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
    // What went wrong, for Action::Error.
    std::string error;
};

// Parses the arguments after the program name. Options: --help (-h),
// --version, --audio=pulse|null|auto; "--" ends the options, so a file whose
// name starts with '-' can be named after it. At most one file.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText(const std::string& program);
std::string VersionText();
