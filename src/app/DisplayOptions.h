// The display options the user has chosen: bits per pixel, resolution and
// palette, which depths the movie's codec takes, and whether a background
// image holds the format. They live for the whole run and are applied again to
// each movie opened. The Options menu shows them: its check marks and graying
// are set from this value and never read back.
#pragma once

#include "platform/win32/Types.h"
#include "res/Resource.h"

class DisplayOptions {
public:
    // The Bits Per Pixel item of a display of `bits` per pixel; 8 bits for any
    // depth without an item of its own.
    static UINT DepthItemOfDisplay(int bits);
    // The bits per pixel of a Bits Per Pixel item.
    static INT BitsOf(UINT depthItem);

    // Picks the depth to use for `command`: a Bits Per Pixel item; 0 for the
    // display's depth (which becomes the chosen one); a negative value for the
    // depth chosen last. A grayed depth falls back from 32 to 24 to 16, and
    // 16 or 8 to 24 untested. The picked item becomes the checked one.
    UINT PickDepth(LONG command);
    UINT DepthItem() const { return depthItem; }
    void SetDepthItem(UINT item) { depthItem = item; }
    bool DepthUsable(UINT item) const;
    void SetDepthUsable(UINT item, bool usable);

    UINT DisplayDepthItem() const { return displayDepthItem; }
    void SetDisplayDepthItem(UINT item) { displayDepthItem = item; }
    UINT ChosenDepthItem() const { return chosenDepthItem; }

    // The checked Resolution item, or 0 when none is.
    UINT ResolutionItem() const { return resolutionItem; }
    void SetResolutionItem(UINT item);
    // Zoom and doubling mode of the checked Resolution item, native size when
    // none is checked.
    float Zoom() const;
    INT Doubling() const;

    UINT PaletteItem() const { return paletteItem; }
    void SetPaletteItem(UINT item) { paletteItem = item; }
    // The palette is chosen only for 8-bit output.
    bool PaletteChoosable() const { return depthItem == IDM_RGB8; }

    // While a background image is set, neither depth nor size can change.
    bool FormatLocked() const { return formatLocked; }
    void SetFormatLocked(bool locked) { formatLocked = locked; }

private:
    static int DepthIndex(UINT item);

    UINT depthItem = 0;
    UINT displayDepthItem = 0;
    UINT chosenDepthItem = 0;
    // 8, 16, 24 and 32 bits, as the menu starts: "RGB 32" grayed.
    bool depthUsable[4] = {true, true, true, false};
    // As the menu starts: native size, the codec's default palette.
    UINT resolutionItem = IDM_NATIVE;
    UINT paletteItem = IDM_PALDEFAULT;
    bool formatLocked = false;
};
