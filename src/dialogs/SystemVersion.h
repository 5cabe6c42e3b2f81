// The About box's "Running on:" line.
#pragma once

#include "platform/win32/Types.h"

#include <string>

// The line for a Windows version word: the low byte is the major version, the
// next byte the minor version, the high 16 bits the build (its top bit, the
// word's top bit, marks the 95 family and Win32s).
std::string WindowsVersionLine(DWORD version);

// The line for the running system: the kernel's name and release, and its
// version string (the build) when the kernel gives one, e.g.
// "Linux 6.1.0-18-amd64 (Build: #1 SMP Debian 6.1.76-1)".
std::string RunningSystemLine();
