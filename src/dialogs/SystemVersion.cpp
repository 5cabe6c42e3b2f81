#include "dialogs/SystemVersion.h"

#include <cstdio>
#include <sys/utsname.h>

std::string WindowsVersionLine(DWORD version) {
    const unsigned major = version & 0xFF;
    const unsigned minor = (version >> 8) & 0xFF;
    const unsigned high = (version >> 16) & 0xFFFF;
    char line[96];
    if ((version & 0x80000000u) == 0)
        std::snprintf(line, sizeof line, "Microsoft Windows NT %u.%u (Build: %u)", major, minor, high);
    else if (major < 4)
        std::snprintf(line, sizeof line, "Microsoft Win32s %u.%u (Build: %u)", major, minor, high & 0x7FFF);
    else
        std::snprintf(line, sizeof line, "Microsoft Windows 95 %u.%u", major, minor);
    return line;
}

std::string RunningSystemLine() {
    utsname names{};
    if (uname(&names) != 0)
        return "Unknown system";
    std::string line = std::string(names.sysname) + " " + names.release;
    if (names.version[0] != '\0')
        line += std::string(" (Build: ") + names.version + ")";
    return line;
}
