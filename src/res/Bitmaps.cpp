#include "res/Bitmaps.h"

#include "pixel/DibRules.h"
#include "res/Resource.h"

#include <string_view>
#include <utility>

namespace {

// A raised light-grey button face (white top and left edges, black bottom and
// right edges, a dark grey inner shadow) with an engraved play triangle: the
// triangle is sunk in dark grey and lit along its lower edge, as if carved
// into the face. One hex digit per pixel, an index into the standard table
// (0 black, 7 light grey, 8 dark grey, F white).
constexpr std::string_view playButtonArt[] = {
    "FFFFFFFFFFFFFFFFFFF0", "F7777777777777777780", "F7777777777777777780", "F7777777777777777780",
    "F7777777777777777780", "F7777778777777777780", "F7777778877777777780", "F7777778887777777780",
    "F7777778888777777780", "F7777778888877777780", "F777777888888F777780", "F77777788888F7777780",
    "F7777778888F77777780", "F777777888F777777780", "F77777788F7777777780", "F7777778F77777777780",
    "F777777F777777777780", "F7777777777777777780", "F7777777777777777780", "F8888888888888888880",
    "00000000000000000000",
};

constexpr LONG playButtonWidth = 20;
constexpr LONG playButtonHeight = 21;

BYTE HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return static_cast<BYTE>(c - '0');
    return static_cast<BYTE>(c - 'A' + 10);
}

} // namespace

const std::array<RGBQUAD, 16>& StandardColorTable() {
    static constexpr std::array<RGBQUAD, 16> table{{
        {0x00, 0x00, 0x00, 0},
        {0x00, 0x00, 0x80, 0},
        {0x00, 0x80, 0x00, 0},
        {0x00, 0x80, 0x80, 0},
        {0x80, 0x00, 0x00, 0},
        {0x80, 0x00, 0x80, 0},
        {0x80, 0x80, 0x00, 0},
        {0xC0, 0xC0, 0xC0, 0},
        {0x80, 0x80, 0x80, 0},
        {0x00, 0x00, 0xFF, 0},
        {0x00, 0xFF, 0x00, 0},
        {0x00, 0xFF, 0xFF, 0},
        {0xFF, 0x00, 0x00, 0},
        {0xFF, 0x00, 0xFF, 0},
        {0xFF, 0xFF, 0x00, 0},
        {0xFF, 0xFF, 0xFF, 0},
    }};
    return table;
}

BOOL LoadBitmapResource(UINT id, BitmapResource& out) {
    if (id != IDB_PLAYBUTTON)
        return FALSE;
    const LONG stride = static_cast<LONG>(DibStride(playButtonWidth, 4));
    BitmapResource bitmap;
    bitmap.header.biSize = sizeof(BITMAPINFOHEADER);
    bitmap.header.biWidth = playButtonWidth;
    bitmap.header.biHeight = playButtonHeight;
    bitmap.header.biPlanes = 1;
    bitmap.header.biBitCount = 4;
    bitmap.header.biCompression = BI_RGB;
    bitmap.header.biSizeImage = static_cast<DWORD>(stride * playButtonHeight);
    bitmap.header.biClrUsed = 16;
    bitmap.colors.assign(StandardColorTable().begin(), StandardColorTable().end());
    bitmap.bits.assign(bitmap.header.biSizeImage, 0);
    for (LONG y = 0; y < playButtonHeight; ++y) {
        // Rows are stored bottom-up.
        BYTE* row = bitmap.bits.data() + (playButtonHeight - 1 - y) * stride;
        for (LONG x = 0; x < playButtonWidth; ++x) {
            const BYTE index = HexDigit(playButtonArt[y][static_cast<size_t>(x)]);
            row[x / 2] |= (x % 2 == 0) ? static_cast<BYTE>(index << 4) : index;
        }
    }
    out = std::move(bitmap);
    return TRUE;
}

BYTE BitmapPixelIndex(const BitmapResource& bitmap, LONG x, LONG y) {
    const LONG width = bitmap.header.biWidth;
    const LONG height = bitmap.header.biHeight;
    if (bitmap.header.biBitCount != 4 || x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    const LONG stride = static_cast<LONG>(DibStride(width, 4));
    const size_t offset = static_cast<size_t>((height - 1 - y) * stride + x / 2);
    if (offset >= bitmap.bits.size())
        return 0;
    const BYTE pair = bitmap.bits[offset];
    return (x % 2 == 0) ? static_cast<BYTE>(pair >> 4) : static_cast<BYTE>(pair & 0x0F);
}
