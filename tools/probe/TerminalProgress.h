// The progress of an AVI index rebuild on the terminal: while a damaged or
// index-less file is scanned, one line on stderr counts up the percentage and
// is cleared when the scan ends. Only when stderr is a terminal, so scripts
// and tests that read stderr see nothing new.
//
// The object installs the AVI library's index-progress callback for its
// lifetime.
#pragma once

#include "platform/win32/Types.h"

#include <cstdio>

class TerminalProgress {
public:
    // Reports to `out` when `enabled`; the program passes isatty(2).
    TerminalProgress(std::FILE* out, bool enabled);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Blanks a progress line still shown (a scan that failed part way), so
    // that an error message starts on a clean line.
    void Clear();

private:
    static BOOL Report(void* context, LONG percent);

    std::FILE* out;
    bool enabled;
    bool lineShown = false;
};
