// An 8-bit BMP file for tests, described field by field so that a test can
// spoil any one of them.
#pragma once

#include "platform/win32/Types.h"

#include <string>
#include <vector>

namespace cadmo::test {

struct BmpFile {
    BITMAPFILEHEADER file{0x4D42, 0, 0, 0, 0};
    BITMAPINFOHEADER info{40, 0, 0, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<RGBQUAD> colors; // entry i is (i, 255 - i, i / 2) until changed
    std::vector<BYTE> pixels;    // rows as stored, bottom-up, padded; all 0 until changed
    bool fixSizes = true;

    // Fewer than 256 colours are declared in biClrUsed.
    BmpFile(LONG w, LONG h, int colorCount = 256);
    std::vector<BYTE> Bytes();
    bool Save(const std::string& path);
    // Declares these header fields instead of the true ones.
    BmpFile& Sizes(DWORD offBits, DWORD fileSize);
};

} // namespace cadmo::test
