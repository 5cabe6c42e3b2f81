// Replacement palettes read from RIFF palette files (form "PAL ", chunk
// "data" holding a LOGPALETTE: version, count, count entries of red, green,
// blue, flags).
//
// The palette record that receives the palette has the LOGPALETTE layout
// and room for kPaletteRecordBytes (a header and 257 entries). A file is
// used only when its data chunk fits the record and holds every entry its
// count announces; otherwise, or on any other failure, the record is left
// exactly as it was and no message is shown. A count of 0 is a valid, empty
// palette: the record is filled and carries no colours, so the decoder's
// palette keeps every colour it has.
//
// Threads: window thread (the dialog); ReadPaletteFileAt on any thread.
#pragma once

#include "image/FileChooser.h"
#include "platform/win32/Types.h"

#include <cstddef>

constexpr std::size_t kPaletteRecordBytes = 1032;

// Reads the palette of the file at `path` into `record` (kPaletteRecordBytes
// of room). 0 when the record was filled, 1 otherwise.
int ReadPaletteFileAt(const char* path, LOGPALETTE* record);

// The same for the bytes of a whole palette file held in memory (`size` bytes
// at `bytes`), as the clipboard's palette type carries them.
int ReadPaletteBytes(const BYTE* bytes, std::size_t size, LOGPALETTE* record);

// Asks the user for a palette file ("Select Palette File", "Palette Files" /
// "*.pal", starting at "d:\avi\quant.pal") and reads it. 0 when the record
// was filled, 1 when the user cancelled or the file could not be used.
int ReadPaletteFile(FileChooser& chooser, LOGPALETTE* record);
