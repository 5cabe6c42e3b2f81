// The templates of the Tavro control dialogs as data: caption, size and
// controls, every rectangle in dialog units (x, y, width, height). The shell
// builds each dialog from its template and finds controls by their ids.
#pragma once

#include "platform/win32/Types.h"

#include <span>

enum class ControlKind {
    DefaultButton, // push button that Enter presses
    Button,
    Trackbar, // horizontal, ticks drawn where the dialog asks
    GroupBox,
    Static,
    CentredStatic,
    PasswordEdit, // bordered, masked, scrolls horizontally
};

struct DialogControl {
    INT id; // -1 for controls nobody addresses
    ControlKind kind;
    const char* text;
    INT x, y, width, height;
};

struct DialogTemplate {
    UINT id;
    const char* caption;
    INT width, height;
    std::span<const DialogControl> controls;
};

// The template `id` (IDD_SCALABILITY, IDD_COLORCONTROLS, IDD_ACCESSKEY), or
// null for any other id.
const DialogTemplate* LoadDialogTemplate(UINT id);
