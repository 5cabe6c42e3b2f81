#include "TerminalProgress.h"

#include "platform/avi/AviFile.h"

TerminalProgress::TerminalProgress(std::FILE* out_, bool enabled_) : out(out_), enabled(enabled_) {
    if (enabled)
        AVIFileSetIndexProgress(&TerminalProgress::Report, this);
}

TerminalProgress::~TerminalProgress() {
    if (enabled)
        AVIFileSetIndexProgress(nullptr, nullptr);
    Clear();
}

BOOL TerminalProgress::Report(void* context, LONG percent) {
    auto* self = static_cast<TerminalProgress*>(context);
    std::fprintf(self->out, "\rRebuilding the index: %3ld%%", static_cast<long>(percent));
    std::fflush(self->out);
    self->lineShown = true;
    // The line goes once the scan is done, before the report is printed.
    if (percent >= 100)
        self->Clear();
    return FALSE;
}

void TerminalProgress::Clear() {
    if (!lineShown)
        return;
    // Blank the line and return to its start, so what follows on the
    // terminal begins in the first column.
    std::fprintf(out, "\r%*s\r", 30, "");
    std::fflush(out);
    lineShown = false;
}
