#include "app/CommandLine.h"

#ifndef CADMO_VERSION
#define CADMO_VERSION "0.0.0"
#endif

namespace {

// A whole number of milliseconds from 1 to a day.
bool ParseMilliseconds(const std::string& text, int& ms) {
    if (text.empty() || text.size() > 8)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 24 * 3600 * 1000)
        return false;
    ms = value;
    return true;
}

} // namespace

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
        if (options && arg == "--play") {
            line.play = true;
            continue;
        }
        if (options && (arg.starts_with("--play=") || arg.starts_with("--quit-after="))) {
            const bool play = arg.starts_with("--play=");
            const std::string value = arg.substr(arg.find('=') + 1);
            int ms = 0;
            if (!ParseMilliseconds(value, ms))
                return fail("'" + arg + "' needs a number of milliseconds");
            if (play) {
                line.play = true;
                line.playForMs = ms;
            } else {
                line.quitAfterMs = ms;
            }
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
           "  --play[=MS]     start playing FILE at once; stop after MS milliseconds\n"
           "  --quit-after=MS end the program after MS milliseconds\n"
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
