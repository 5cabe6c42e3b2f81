#include "app/CommandLine.h"

#ifndef CADMO_VERSION
#define CADMO_VERSION "0.0.0"
#endif

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    bool options = true;
    auto fail = [&line](std::string message) {
        line.action = CommandLine::Action::Error;
        line.error = std::move(message);
        return line;
    };
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && (arg == "--help" || arg == "-h")) {
            line.action = CommandLine::Action::Help;
            return line;
        }
        if (options && arg == "--version") {
            line.action = CommandLine::Action::Version;
            return line;
        }
        if (options && arg.starts_with("--audio=")) {
            const std::string value = arg.substr(8);
            if (value != "pulse" && value != "null" && value != "auto")
                return fail("unknown audio output '" + value + "' (expected pulse, null or auto)");
            line.audio = value;
            continue;
        }
        if (options && arg.size() > 1 && arg[0] == '-')
            return fail("unknown option '" + arg + "'");
        if (!line.file.empty())
            return fail("only one file can be opened (quote a name that contains blanks)");
        if (arg.empty())
            continue;
        line.file = arg;
    }
    return line;
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [OPTIONS] [FILE]\n"
           "Plays the AVI movie FILE in the Tavro Player window.\n"
           "\n"
           "Options:\n"
           "  --audio=OUTPUT  sound output: pulse (the sound server), null (silent,\n"
           "                  on the clock) or auto (pulse when a server answers)\n"
           "  -h, --help      show this help and exit\n"
           "      --version   show the version and exit\n"
           "  --              end of options (for a FILE that starts with '-')\n"
           "\n"
           "The environment variable CADMO_AUDIO chooses the output when --audio is\n"
           "not given. Exit status: 0 normally, 2 for a bad command line, 8 when\n"
           "memory runs out.\n";
}

std::string VersionText() {
    return std::string("cadmo ") + CADMO_VERSION + "\n";
}
