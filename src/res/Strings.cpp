#include "res/Strings.h"

#include "res/Resource.h"

const char* LoadResourceString(UINT id) {
    switch (id) {
    case IDS_AVIFILTER:
        return "AVI File (*.avi)|*.avi|";
    case IDS_BMPFILTER:
        return "BMP File (*.bmp)|*.bmp|";
    default:
        return nullptr;
    }
}

std::span<const ShortcutText> InfoShortcutTexts() {
    // The texts are shown as written, spelling included.
    static constexpr ShortcutText rows[] = {
        {"Space", "Play/Pause"},
        {"Home", "Rewind"},
        {"End", "Last frame"},
        {"Left arrow", "Step back"},
        {"Right arrow", "Step forward"},
        {"Ctrl - Left arrow", "Back one seccond"},
        {"Ctrl - Right arrow", "Forward one second"},
        {"Ctrl - Shift - Left arrow", "Back 1/10 file"},
        {"Ctrl - Shift - Right arrow", "Forward 1/10 file"},
    };
    return rows;
}
