// The rules of a device-independent bitmap's layout and colours, each written
// once for every layer that needs it: the platform stand-ins, the codecs, the
// image and resource code and the tools.
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

// The depths the pixel code reads and writes: 8 bits (palettised), 16 (RGB
// 5-5-5), 24 and 32.
constexpr bool IsPixelDepth(int bitCount) {
    return bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

// True when a frame of this size and depth can be written: one of the depths
// above, a width above 0, a height other than 0 (either sign), and a size
// that fits in 31 bits. Callers that hold frames in memory add their own
// limits on top.
bool CanWriteFrame(LONG width, LONG height, int bitCount);

// Index of the colour of colors[0 .. count) nearest to (red, green, blue) by
// squared distance, the lowest index on a tie; 0 when there are none.
int NearestColor(const RGBQUAD* colors, int count, int red, int green, int blue);
