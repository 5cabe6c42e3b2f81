// The layout rules of a device-independent bitmap, each written once for
// every layer that needs it: the platform stand-ins, the codecs, the image
// and resource code and the tools.
#pragma once

#include "platform/win32/Types.h"

#include <cstdint>

// Bytes in one row of a DIB: width x bitCount bits, padded to a multiple of
// 4 bytes. -1 when the width is negative, the bit count is not 1 to 32, or
// the row would not fit in 31 bits.
std::int64_t DibStride(std::int64_t width, int bitCount);

// Rows of a DIB: the magnitude of its height, which is negative when the rows
// run top-down. In 64 bits, so that the most negative height has one too.
constexpr std::int64_t DibRows(std::int64_t height) {
    return height < 0 ? -height : height;
}

// Index of the colour of colors[0 .. count) nearest to (red, green, blue) by
// squared distance, the lowest index on a tie; 0 when there are none.
int NearestColor(const RGBQUAD* colors, int count, int red, int green, int blue);
