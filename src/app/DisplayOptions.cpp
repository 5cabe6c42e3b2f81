#include "app/DisplayOptions.h"

namespace {

// The four depth items in menu order, with the bits each one means: the one
// table the three mappings below read.
struct DepthRow {
    UINT item;
    INT bits;
};
constexpr DepthRow kDepths[] = {{IDM_RGB8, 8}, {IDM_RGB16, 16}, {IDM_RGB24, 24}, {IDM_RGB32, 32}};

} // namespace

UINT DisplayOptions::DepthItemOfDisplay(int bits) {
    for (const DepthRow& row : kDepths)
        if (row.bits == bits)
            return row.item;
    return IDM_RGB8;
}

INT DisplayOptions::BitsOf(UINT depthItem) {
    const int i = DepthIndex(depthItem);
    return i >= 0 ? kDepths[i].bits : 32;
}

int DisplayOptions::DepthIndex(UINT item) {
    for (int i = 0; i < 4; ++i)
        if (kDepths[i].item == item)
            return i;
    return -1;
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
