// The string table and the fixed texts of the program's own dialogs.
#pragma once

#include "platform/win32/Types.h"

#include <span>

// String `id` of the string table; null when there is none. File-dialog
// filters end with their separator character, which stands for a NUL.
const char* LoadResourceString(UINT id);

// One row of the Info sheet's "Shortcuts" page.
struct ShortcutText {
    const char* key;
    const char* action;
};

std::span<const ShortcutText> InfoShortcutTexts();
