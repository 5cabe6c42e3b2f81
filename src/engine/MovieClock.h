// The two clocks the frame scheduler reads, behind one small interface so that
// tests can drive the scheduler with time they control.
//
// A Movie with no clock set uses the real ones: timeGetTime() for the system
// clock and Movie::AudioClock() for the audio clock. Both are read on the
// playback thread while it holds playerLock, and on the window thread for a
// still repaint.
#pragma once

#include "platform/win32/Types.h"

class Movie;

class MovieClock {
public:
    virtual ~MovieClock() = default;

    // Milliseconds of the system clock (timeGetTime semantics: wraps at 2^32).
    virtual DWORD SystemTime() = 0;

    // Stream milliseconds of the audio being heard, or a negative status when
    // there is no usable audio clock (Movie::AudioClock semantics).
    virtual LONG AudioTime(Movie& movie) = 0;
};
