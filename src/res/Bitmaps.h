// The program's bitmap resources, kept as device-independent bitmaps in the
// layout of a .bmp file's body: header, colour table, bottom-up rows padded to
// four bytes.
#pragma once

#include "platform/win32/Types.h"

#include <array>
#include <vector>

struct BitmapResource {
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> colors;
    std::vector<BYTE> bits;
};

// Bitmap `id` (IDB_PLAYBUTTON: the seek bar's 20 x 21 play button, 4 bits per
// pixel). Returns FALSE and leaves `out` alone for an unknown id.
BOOL LoadBitmapResource(UINT id, BitmapResource& out);

// The colour index of pixel (x, y), counted from the top-left corner, of a
// 4-bit bitmap; 0 outside it.
BYTE BitmapPixelIndex(const BitmapResource& bitmap, LONG x, LONG y);

// The standard 16-colour table: black, the eight dark colours, light grey,
// dark grey and the bright colours, in the usual VGA order.
const std::array<RGBQUAD, 16>& StandardColorTable();
