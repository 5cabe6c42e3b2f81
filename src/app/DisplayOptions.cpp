#include "app/DisplayOptions.h"

UINT DisplayOptions::DepthItemOfDisplay(int bits) {
    switch (bits) {
    case 16:
        return IDM_RGB16;
    case 24:
        return IDM_RGB24;
    case 32:
        return IDM_RGB32;
    default:
        return IDM_RGB8;
    }
}

INT DisplayOptions::BitsOf(UINT depthItem) {
    switch (depthItem) {
    case IDM_RGB8:
        return 8;
    case IDM_RGB16:
        return 16;
    case IDM_RGB24:
        return 24;
    default:
        return 32;
    }
}

int DisplayOptions::DepthIndex(UINT item) {
    switch (item) {
    case IDM_RGB8:
        return 0;
    case IDM_RGB16:
        return 1;
    case IDM_RGB24:
        return 2;
    case IDM_RGB32:
        return 3;
    default:
        return -1;
    }
}

bool DisplayOptions::DepthUsable(UINT item) const {
    const int i = DepthIndex(item);
    return i >= 0 && depthUsable[i];
}

void DisplayOptions::SetDepthUsable(UINT item, bool usable) {
    const int i = DepthIndex(item);
    if (i >= 0)
        depthUsable[i] = usable;
}

UINT DisplayOptions::PickDepth(LONG command) {
    LONG item = command == 0 ? static_cast<LONG>(displayDepthItem) : command;
    if (item < 0)
        item = static_cast<LONG>(chosenDepthItem);
    else
        chosenDepthItem = static_cast<UINT>(item);
    UINT picked = static_cast<UINT>(item);
    if (DepthIndex(picked) < 0)
        picked = displayDepthItem;

    while (!DepthUsable(picked)) {
        if (picked == IDM_RGB32) {
            picked = IDM_RGB24;
        } else if (picked == IDM_RGB24) {
            picked = IDM_RGB16;
        } else {
            picked = IDM_RGB24;
            break;
        }
    }
    depthItem = picked;
    return picked;
}

void DisplayOptions::SetResolutionItem(UINT item) {
    resolutionItem = item == IDM_NATIVE || item == IDM_PIXELDOUBLE || item == IDM_ALTLINE ? item : 0;
}

float DisplayOptions::Zoom() const {
    return resolutionItem == IDM_PIXELDOUBLE || resolutionItem == IDM_ALTLINE ? 2.0f : 1.0f;
}

INT DisplayOptions::Doubling() const {
    return resolutionItem == IDM_PIXELDOUBLE ? 1 : resolutionItem == IDM_ALTLINE ? 2 : 0;
}
