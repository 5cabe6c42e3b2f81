// Palettes that the user brings in: RIFF palette files ("PAL " form with a
// "data" chunk holding a LOGPALETTE) and the clipboard.
//
// Clipboard: the player takes a palette from either
//   - the MIME type "application/x-cadmo-palette", whose bytes are a whole
//     RIFF palette file (the same bytes as a .pal file, read by the palette
//     file reader of image/PaletteFile.h), or
//   - an image with a colour table (an 8-bit indexed picture), whose table is
//     the palette.
#pragma once

#include "platform/win32/Types.h"

#include <cstddef>
#include <vector>

inline constexpr const char* paletteMimeType = "application/x-cadmo-palette";

// A RIFF palette file of `entries` (for putting a palette on the clipboard).
std::vector<BYTE> MakeRiffPalette(const std::vector<PALETTEENTRY>& entries);

// The clipboard record: version 0x300, 236 entries taken from index 10 of the
// clipboard palette. Entries the clipboard palette does not have are black.
void FillClipboardPaletteRecord(const std::vector<PALETTEENTRY>& clipboardPalette, LOGPALETTE* record);
