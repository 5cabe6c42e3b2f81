// Where the image sources show their few messages: the shell implements
// this with a real message box owned by its main window; tests record the
// calls. The signature matches OwnerWindow::ShowMessageBox, so the engine
// can hand its owner window over through a one-line adapter.
//
// Threads: called on the window thread only (bitmaps are loaded there).
#pragma once

#include "platform/win32/Types.h"

// The icon of a warning box (the same value as MB_ICONEXCLAMATION).
constexpr UINT MB_ICONWARNING = 0x00000030;

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows a modal message box; `type` combines MB_* values. Returns the
    // button pressed.
    virtual INT ShowMessageBox(const char* text, const char* title, UINT type) = 0;
};
