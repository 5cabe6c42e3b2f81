// The engine's view of the main window.
//
// The engine never includes the GUI toolkit; the shell implements this
// interface on its main window and tests implement it with a fake. It carries
// exactly what the player needs from the window: commands (posted or sent),
// the private fit-window message, message boxes, the window's drawing surface
// and the fatal end of the process.
//
// Threads: PostCommand and PostFitWindow may be called from any thread and
// never wait for the window thread (the playback thread posts the end-of-movie
// commands through them). Every other member is called on the window thread
// only.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/win32/Types.h"

// Command identifiers that the engine itself sends or posts to the window.
constexpr WORD IDM_CLOSE = 40002;
constexpr WORD IDM_PLAY = 40003;
constexpr WORD IDM_STOP = 40004;
constexpr WORD IDM_REWIND = 40006;

// Private window message: fit the window to the video (both parameters 0).
constexpr UINT MSG_FIT_WINDOW = 1025;

// Message box styles used by the engine.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONASTERISK = 0x00000040;

// The system's not-enough-memory code, the only status given to FatalError.
constexpr INT FATAL_NOT_ENOUGH_MEMORY = 8;

class OwnerWindow {
public:
    virtual ~OwnerWindow() = default;

    // Queues WM_COMMAND `id` (second parameter 0) into the window thread and
    // returns at once. Safe from any thread.
    virtual void PostCommand(WORD id) = 0;

    // Runs the handler of WM_COMMAND `id` now and returns when it is done.
    // Window thread only.
    virtual void SendCommand(WORD id) = 0;

    // Queues MSG_FIT_WINDOW into the window thread. Safe from any thread.
    virtual void PostFitWindow() = 0;

    // Shows a modal message box owned by the window; `type` combines MB_*
    // values. Returns the button pressed (IDOK = 1 for an OK box).
    virtual INT ShowMessageBox(const char* text, const char* title, UINT type) = 0;

    // The window's drawing surface. Every GetDC is paired with a ReleaseDC by
    // the caller; the handle is valid until released.
    virtual HDC GetDC() = 0;
    virtual void ReleaseDC(HDC dc) = 0;

    // With status 8 shows "Error: Not enough memory" (title "Error", stop
    // icon), then ends the process with `status` as exit code. Never returns.
    [[noreturn]] virtual void FatalError(INT status) = 0;
};
