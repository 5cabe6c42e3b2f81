// The texts of the status bar's three parts, as pure functions of the player's
// state, so that the rounding rules can be checked without a window.
#pragma once

#include "platform/win32/Types.h"

#include <string>

// The part texts that the status bar measures its edges with.
inline constexpr const char* statusPositionTemplate = "Pos: 00:00.00 [00000]";
inline constexpr const char* statusKeyTemplate = " K  ";
inline constexpr LONG statusPositionMargin = 32;

// What UpdateStatusBar reads from the player.
struct StatusBarInput {
    bool loaded = false;
    bool playing = false;
    LONG position = 0;
    LONG firstFrame = 0;
    float frameRate = 0.0f;
    LONG skippedFrames = 0;
    // Movie::IsKeyFrame(-1): 1 when the shown frame is a key frame.
    LONG keyFrame = 0;
};

struct StatusBarTexts {
    // While playing, part 0 keeps what it showed before.
    bool setKeyMark = false;
    std::string keyMark;
    std::string skipped;
    std::string position;
};

// The position split the way the status bar shows it.
struct StatusPosition {
    LONG minutes = 0;
    LONG seconds = 0;
    LONG hundredths = 0; // 0..100, before the texts' own rounding
};

// Milliseconds from the first frame to `position` at `frameRate`, truncated
// toward zero; 0 when the rate is not a positive number, and capped so that
// the minutes stay a small positive count.
LONG StatusMilliseconds(LONG position, LONG firstFrame, float frameRate);

StatusPosition SplitStatusPosition(LONG milliseconds);

// The three texts for `input`. `shownSkipped` is the skipped count shown by
// the last refresh while playing; it is updated while playing and zeroed
// without a movie.
StatusBarTexts ComputeStatusBarTexts(const StatusBarInput& input, LONG& shownSkipped);
