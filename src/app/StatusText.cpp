#include "app/StatusText.h"

#include <cmath>
#include <cstdio>

namespace {

// The largest value the 32-bit millisecond count holds; a longer position
// (a huge frame number at a tiny rate) is shown at that value instead of
// overflowing the conversion.
constexpr long double maxMilliseconds = 2147483647.0L;

std::string Format(const char* format, auto... values) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return buffer;
}

} // namespace

LONG StatusMilliseconds(LONG position, LONG firstFrame, float frameRate) {
    if (!(frameRate > 0.0f) || !std::isfinite(frameRate))
        return 0;
    // Extended precision, divided before multiplying, then truncated toward
    // zero: frame 1 at 15 fps is 66 ms, never 67.
    const long double frames = static_cast<long double>(position) - static_cast<long double>(firstFrame);
    const long double ms = frames / static_cast<long double>(frameRate) * 1000.0L;
    if (ms <= 0.0L)
        return 0;
    if (ms >= maxMilliseconds)
        return static_cast<LONG>(maxMilliseconds);
    return static_cast<LONG>(ms);
}

StatusPosition SplitStatusPosition(LONG milliseconds) {
    StatusPosition p;
    p.minutes = milliseconds / 60000;
    p.seconds = (milliseconds % 60000) / 1000;
    const LONG sub = milliseconds % 1000;
    p.hundredths = (sub + 5) / 10;
    return p;
}

StatusBarTexts ComputeStatusBarTexts(const StatusBarInput& input, LONG& shownSkipped) {
    StatusPosition p;
    LONG frame = 0;
    if (input.loaded) {
        frame = input.position;
        p = SplitStatusPosition(StatusMilliseconds(input.position, input.firstFrame, input.frameRate));
    } else {
        shownSkipped = 0;
    }

    StatusBarTexts texts;
    if (input.loaded && input.playing) {
        const LONG skipped = input.skippedFrames < 0 ? 0 : input.skippedFrames;
        shownSkipped = skipped;
        texts.skipped = Format(" %d skipped", skipped);
        // Whole seconds while playing: round up only past the half second,
        // and never carry into the minutes.
        LONG seconds = p.seconds;
        if (p.hundredths > 50)
            ++seconds;
        texts.position = Format(" Pos: %02d:%02d [%d]", p.minutes, seconds, frame);
        return texts;
    }

    texts.setKeyMark = true;
    texts.keyMark = (input.loaded && input.keyFrame == 1) ? " K" : "";
    texts.skipped = Format(" [%d] skipped", shownSkipped);
    LONG seconds = p.seconds;
    LONG hundredths = p.hundredths;
    if (hundredths == 100) {
        hundredths = 0;
        ++seconds;
    }
    texts.position = Format(" Pos: %02d:%02d.%02d [%d]", p.minutes, seconds, hundredths, frame);
    return texts;
}
