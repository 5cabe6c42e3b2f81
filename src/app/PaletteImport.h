// Where a replacement palette comes from when the user picks Palette >
// Clipboard or Palette > File: the palette on the clipboard, or a RIFF palette
// file chosen in the Open dialog. Both fill a palette record of
// kPaletteRecordBytes bytes (see PaletteData.h for the clipboard formats).
//
// Threads: window thread only (the clipboard and the dialog).
#pragma once

#include "platform/win32/Types.h"

#include <QString>

#include <functional>

struct LOGPALETTE;

class PaletteImport {
public:
    // Asks the user for a file to open with dialog title `title` and filter
    // `filter`; empty when cancelled.
    using OpenDialog = std::function<QString(const QString& title, const QString& filter)>;

    explicit PaletteImport(OpenDialog openDialog);

    // 236 entries from index 10 of the clipboard's palette; false when the
    // clipboard holds none.
    static bool ReadClipboard(LOGPALETTE* record);
    // The palette of a file the user picks; false when cancelled or unusable.
    bool ReadFile(LOGPALETTE* record) const;

private:
    OpenDialog openDialog;
};
